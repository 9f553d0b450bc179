#include "reading_file_load.h"

#include "app/reading_text.h"
#include "platform/files/file_mapping.h"
#include "reading_file.h"

#include <QCursor>
#include <QElapsedTimer>
#include <QGuiApplication>

namespace tvx {

ReadingFileLoad::ReadingFileLoad(ReadingText &text, QObject *parent) : QObject(parent), m_text(text)
{
    m_next.setSingleShot(true);
    m_next.setInterval(0);
    connect(&m_next, &QTimer::timeout, this, &ReadingFileLoad::readSome);
    connect(&m_text, &ReadingText::receivingChanged, this, &ReadingFileLoad::receivingChanged);
}

ReadingFileLoad::~ReadingFileLoad()
{
    setBusy(false);
}

void ReadingFileLoad::start(const QString &path)
{
    QString reason;
    if (!m_file.open(path, readingfile::MaxLoadSize, &reason)) {
        finish(false, reason);
        return;
    }
    // A long file is the text as it lies in the file; not while a capture runs, whose blocks
    // would follow it at once and so copy the whole text.
    if (m_file.size() >= MapSize && !m_text.receiving()) {
        if (std::optional<QByteArray> mapped =
                FileMapping::map(m_file.handle(), m_file.size(), path)) {
            m_content = *mapped;
            m_mapped = true;
        }
    }
    // Room beyond the file for blocks a capture adds afterwards: growing the array later would
    // move the whole text at once. Room that is never written takes no memory.
    if (!m_mapped)
        m_content.reserve(m_file.size() + ReceiveRoom);
    m_running = true;
    readSome();
}

void ReadingFileLoad::readSome()
{
    QElapsedTimer turn;
    turn.start();
    do {
        QString reason;
        if (!takeSlice(&reason)) {
            finish(false, reason);
            return;
        }
        if (m_mapped ? m_indexed == m_content.size() : m_file.atEnd()) {
            // What was mapped must still be in the file: a cut past the pages looked at raises
            // no fault.
            if (m_mapped && m_file.cutShort()) {
                finish(false, FileSlices::cutShortReason());
                return;
            }
            m_text.replace(m_content, std::move(m_lines));
            finish(true, QString());
            return;
        }
    } while (turn.elapsed() < TurnMilliseconds);
    // Opened in the middle of a capture: a file read whole in its first turn has replaced the
    // text, and the capture's next blocks follow it; a longer one gives way, as done later it
    // would replace what the capture collects meanwhile.
    if (m_text.receiving()) {
        giveWay();
        return;
    }
    setBusy(true);
    m_next.start();
}

bool ReadingFileLoad::takeSlice(QString *reason)
{
    if (!m_mapped) {
        const qint64 from = m_content.size();
        if (!m_file.readSlice(&m_content, SliceSize, reason))
            return false;
        m_lines.extend(m_content, from);
        return true;
    }
    const qint64 from = m_indexed;
    m_indexed = std::min(from + SliceSize, m_content.size());
    m_lines.extend(QByteArray::fromRawData(m_content.constData(), m_indexed), from);
    // Read once for the index, the pages go back to the system until they are shown.
    FileMapping::letGo(m_content, from, m_indexed);
    if (FileMapping::cutShort(m_content)) {
        *reason = FileSlices::cutShortReason();
        return false;
    }
    return true;
}

QString ReadingFileLoad::gaveWayReason()
{
    return QStringLiteral("a transmission from the instrument arrived while the file was being "
                          "read");
}

void ReadingFileLoad::receivingChanged(bool receiving)
{
    if (receiving && m_running) {
        giveWay();
    } else if (!receiving && m_gaveWay) {
        // After the capture has finished ending: whoever shows a box for this must not hold it.
        QMetaObject::invokeMethod(
            this, [this] { finish(false, gaveWayReason()); }, Qt::QueuedConnection);
    }
}

void ReadingFileLoad::giveWay()
{
    stopReading();
    m_gaveWay = true;
    Q_EMIT gaveWay();
}

void ReadingFileLoad::stopReading()
{
    m_next.stop();
    m_content = QByteArray();
    m_mapped = false;
    m_indexed = 0;
    m_lines.clear();
    setBusy(false);
}

void ReadingFileLoad::finish(bool loaded, const QString &reason)
{
    m_running = false;
    m_gaveWay = false;
    stopReading();
    Q_EMIT finished(loaded, reason);
}

void ReadingFileLoad::setBusy(bool busy)
{
    if (busy == m_busy)
        return;
    m_busy = busy;
    if (busy)
        QGuiApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
    else
        QGuiApplication::restoreOverrideCursor();
}

} // namespace tvx
