#include "reading_text.h"

namespace tvx {

void ReadingText::replace(const QByteArray &bytes)
{
    m_bytes = bytes;
    Q_EMIT replaced();
}

void ReadingText::append(const QByteArray &block)
{
    if (block.isEmpty())
        return;
    m_bytes.append(block);
    Q_EMIT appended(block);
}

} // namespace tvx
