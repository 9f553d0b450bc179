#include "capture_output.h"

#include "files/reading_file.h"
#include "platform/files/files.h"
#include "platform/termination.h"

#include <QDir>

#include <cstdio>

namespace tvx {

namespace {

CaptureOutput::Result failed(const QString &reason, bool noRoom = false)
{
    CaptureOutput::Result result;
    result.reason = reason;
    result.noRoom = noRoom;
    return result;
}

CaptureOutput::Result written(const QString &where)
{
    CaptureOutput::Result result;
    result.written = true;
    result.where = where;
    return result;
}

} // namespace

bool CaptureOutput::check(QString *reason) const
{
    QString problem;
    switch (m_kind) {
    case OutputKind::StandardOutput:
        return true;
    case OutputKind::Folder:
        // Room for the longest name a capture may get.
        problem = folderWriteProblem(
            m_path,
            QFile::encodeName(readingFileName(QDateTime::currentDateTime(), MaxAttempts)).size());
        if (!problem.isEmpty())
            *reason = QStringLiteral("cannot write to %1: %2").arg(m_path, problem);
        break;
    case OutputKind::File:
        // The write's own rules: a writable file in a folder that takes no new file passes,
        // as the write overwrites it in place.
        problem = writeProblem(m_path);
        if (!problem.isEmpty())
            *reason = QStringLiteral("cannot write %1: %2").arg(m_path, problem);
        break;
    }
    return problem.isEmpty();
}

CaptureOutput::Result CaptureOutput::write(const QByteArray &bytes, const QDateTime &startedAt)
{
    switch (m_kind) {
    case OutputKind::File:
        return writeFile(bytes);
    case OutputKind::Folder:
        return writeNewFile(bytes, startedAt);
    case OutputKind::StandardOutput:
        break;
    }
    return writeStandardOutput(bytes);
}

CaptureOutput::Result CaptureOutput::writeFile(const QByteArray &bytes) const
{
    QString reason;
    bool noRoom = false;
    if (!readingfile::save(m_path, bytes, &reason, &noRoom))
        return failed(QStringLiteral("cannot write %1: %2").arg(m_path, reason), noRoom);
    return written(m_path);
}

// A capture gets the first free name for its start time; no existing file is ever replaced,
// and no name shows the reading before it is complete.
CaptureOutput::Result CaptureOutput::writeNewFile(const QByteArray &bytes,
                                                  const QDateTime &startedAt) const
{
    const NewFile file = tvx::writeNewFile(
        m_path, [&](int attempt) { return readingFileName(startedAt, attempt); }, MaxAttempts,
        readingfile::format(bytes));
    if (file.allTaken)
        return failed(QStringLiteral("cannot write to %1: %2 and %3 more names for that second "
                                     "are taken")
                          .arg(m_path, readingFileName(startedAt))
                          .arg(MaxAttempts - 1));
    const QString path = QDir::cleanPath(file.path);
    if (!file.written)
        return failed(QStringLiteral("cannot write %1: %2").arg(path, file.reason), file.noRoom);
    return written(path);
}

CaptureOutput::Result CaptureOutput::writeStandardOutput(const QByteArray &bytes)
{
    const QString where = QStringLiteral("standard output");
    // Unbuffered: each capture is out when it is written, and a failure shows in write().
    if (!m_standardOutput.isOpen() &&
        !m_standardOutput.open(fileno(stdout), QIODevice::WriteOnly | QIODevice::Unbuffered))
        return failed(
            QStringLiteral("cannot write to %1: %2").arg(where, m_standardOutput.errorString()));
    const QString problem = writeUntilTerminated(m_standardOutput.handle(), bytes);
    if (!problem.isEmpty())
        return failed(QStringLiteral("cannot write to %1: %2").arg(where, problem));
    return written(where);
}

} // namespace tvx
