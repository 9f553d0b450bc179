#include "capture_output.h"

#include "files/reading_file.h"
#include "platform/files.h"
#include "platform/termination.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace tvx {

namespace {

CaptureOutput::Result failed(const QString &reason)
{
    CaptureOutput::Result result;
    result.reason = reason;
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

QString CaptureOutput::readingFileName(const QDateTime &startedAt, int attempt)
{
    const QString stamp = startedAt.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    return attempt <= 1 ? QStringLiteral("readings-%1.dat").arg(stamp)
                        : QStringLiteral("readings-%1-%2.dat").arg(stamp).arg(attempt);
}

bool CaptureOutput::check(QString *reason) const
{
    QString problem;
    switch (m_kind) {
    case OutputKind::StandardOutput:
        return true;
    case OutputKind::Folder:
        problem = folderWriteProblem(m_path);
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
    if (!readingfile::save(m_path, bytes, &reason))
        return failed(QStringLiteral("cannot write %1: %2").arg(m_path, reason));
    return written(m_path);
}

// The name is claimed by creating the file exclusively, so no file is ever replaced, not even
// one that appears between a look and the write; the content then replaces the empty file as a
// whole, so nobody ever reads part of a reading.
CaptureOutput::Result CaptureOutput::writeNewFile(const QByteArray &bytes,
                                                  const QDateTime &startedAt) const
{
    for (int attempt = 1; attempt <= MaxAttempts; ++attempt) {
        const QString path =
            QDir::cleanPath(QDir(m_path).filePath(readingFileName(startedAt, attempt)));
        QFile claim(path);
        if (!claim.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (QFileInfo::exists(path))
                continue;
            return failed(QStringLiteral("cannot write %1: %2").arg(path, claim.errorString()));
        }
        claim.close();
        QString reason;
        if (!readingfile::save(path, bytes, &reason)) {
            claim.remove();
            return failed(QStringLiteral("cannot write %1: %2").arg(path, reason));
        }
        return written(path);
    }
    return failed(QStringLiteral("cannot write to %1: %2 and %3 more names for that second are "
                                 "taken")
                      .arg(m_path, readingFileName(startedAt))
                      .arg(MaxAttempts - 1));
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
