#include "reading_file_load.h"

#include "app/reading_text.h"
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
    // Room beyond the file for blocks a capture adds afterwards: growing the array later would
    // move the whole text at once. Room that is never written takes no memory.
    m_content.reserve(m_file.size() + ReceiveRoom);
    m_running = true;
    readSome();
}

void ReadingFileLoad::readSome()
{
    QElapsedTimer turn;
    turn.start();
    do {
        const qint64 from = m_content.size();
        QString reason;
        if (!m_file.readSlice(&m_content, SliceSize, &reason)) {
            finish(false, reason);
            return;
        }
        m_lines.extend(m_content, from);
        if (m_file.atEnd()) {
            m_text.replace(m_content, std::move(m_lines));
            finish(true, QString());
            return;
        }
    } while (turn.elapsed() < TurnMilliseconds);
    setBusy(true);
    m_next.start();
}

void ReadingFileLoad::finish(bool loaded, const QString &reason)
{
    m_running = false;
    m_content = QByteArray();
    m_lines.clear();
    setBusy(false);
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
