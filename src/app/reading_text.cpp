#include "reading_text.h"

#include "platform/files/file_mapping.h"

namespace tvx {

void ReadingText::replace(const QByteArray &bytes)
{
    LineIndex lines;
    lines.extend(bytes, 0);
    replace(bytes, std::move(lines));
}

void ReadingText::replace(const QByteArray &bytes, LineIndex lines)
{
    Q_EMIT aboutToReplace();
    m_bytes = bytes;
    m_lines = std::move(lines);
    // The file the old text was mapped from goes, unless something still reads it.
    FileMapping::releaseUnused();
    Q_EMIT replaced();
}

void ReadingText::append(const QByteArray &block)
{
    if (block.isEmpty())
        return;
    const qint64 from = m_bytes.size();
    m_bytes.append(block);
    m_lines.extend(m_bytes, from);
    Q_EMIT appended(block);
}

void ReadingText::setReceiving(bool receiving)
{
    if (receiving == m_receiving)
        return;
    m_receiving = receiving;
    Q_EMIT receivingChanged(receiving);
}

} // namespace tvx
