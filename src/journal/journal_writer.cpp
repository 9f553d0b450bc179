#include "journal_writer.h"

#include "files/reading_file.h"

#include <QDir>
#include <QFile>

namespace tvx {

const QString JournalWriter::ListName = QStringLiteral(".written");

JournalWriter::JournalWriter(const QString &folder, Tell tell)
    : m_folder(folder), m_tell(std::move(tell))
{
}

bool JournalWriter::ready(QString *reason)
{
    return makePrivateFolder(m_folder, reason);
}

// Told once: a journal that stays unwritable is not repeated at every capture.
void JournalWriter::broken(const QString &path, const QString &reason)
{
    m_file.close();
    {
        const std::lock_guard<std::mutex> lock(m_pathMutex);
        m_capturePath.clear();
    }
    if (m_told)
        return;
    m_told = true;
    m_tell(QStringLiteral("the capture journal cannot be written (%1: %2); captures go on "
                          "without it")
               .arg(QDir::toNativeSeparators(path), reason));
}

void JournalWriter::begin(const QDateTime &startedAt)
{
    if (m_file.isOpen())
        end();
    QString reason;
    if (!ready(&reason) ||
        !m_file.create(
            m_folder, [&](int attempt) { return readingfile::captureName(startedAt, attempt); },
            readingfile::CaptureNameAttempts, &reason)) {
        broken(m_folder, reason);
        return;
    }
    const std::lock_guard<std::mutex> lock(m_pathMutex);
    m_capturePath = QDir::toNativeSeparators(m_file.path());
}

void JournalWriter::write(const QByteArray &bytes)
{
    if (!m_file.isOpen())
        return;
    QString reason;
    if (!m_file.append(bytes, &reason) || !m_file.flush(&reason))
        broken(m_file.path(), reason);
}

void JournalWriter::end()
{
    if (!m_file.isOpen())
        return;
    write(QByteArrayLiteral("\r\n"));
    if (!m_file.isOpen())
        return;
    m_file.close();
    m_told = false;
    // Recorded as it is now complete: a file cut short by the program's end is never taken for
    // one the journal may remove.
    remember(m_file.path());
    prune();
}

QString JournalWriter::store(const QByteArray &text, const QDateTime &startedAt, QString *reason)
{
    if (!ready(reason))
        return QString();
    const NewFile file = writeNewFile(
        m_folder, [&](int attempt) { return readingfile::captureName(startedAt, attempt); },
        readingfile::CaptureNameAttempts, readingfile::format(text));
    if (!file.written) {
        if (reason)
            *reason =
                file.allTaken ? QStringLiteral("every name for that second is taken") : file.reason;
        return QString();
    }
    remember(file.path);
    prune();
    return QDir::toNativeSeparators(QDir::cleanPath(file.path));
}

QString JournalWriter::capturePath() const
{
    const std::lock_guard<std::mutex> lock(m_pathMutex);
    return m_capturePath;
}

// One line added at the end in one write, so that two programs writing to one journal do not
// mix their lines.
void JournalWriter::remember(const QString &path)
{
    QFile list(QDir(m_folder).filePath(ListName));
    if (!list.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return;
    list.write(fileIdentity(path) + ' ' + QFile::encodeName(QDir(path).dirName()) + '\n');
}

void JournalWriter::prune()
{
    const QString listPath = QDir(m_folder).filePath(ListName);
    QFile list(listPath);
    if (!list.open(QIODevice::ReadOnly))
        return;
    const QList<QByteArray> lines = list.readAll().split('\n');
    list.close();
    // The files still there as the journal wrote them, oldest first.
    QList<QByteArray> kept;
    for (const QByteArray &line : lines) {
        const qsizetype space = line.indexOf(' ');
        if (space <= 0)
            continue;
        const QString path = QDir(m_folder).filePath(QFile::decodeName(line.mid(space + 1)));
        if (fileIdentity(path) == line.left(space))
            kept.append(line);
    }
    const qsizetype surplus = kept.size() - Kept;
    for (qsizetype i = 0; i < surplus; ++i) {
        const QByteArray &line = kept.at(i);
        QFile::remove(QDir(m_folder).filePath(QFile::decodeName(line.mid(line.indexOf(' ') + 1))));
    }
    if (surplus > 0)
        kept.remove(0, surplus);
    if (kept.size() + 1 == lines.size())
        return; // nothing went: the list stays as it is
    writeFileAtomically(listPath, kept.join('\n') + (kept.isEmpty() ? "" : "\n"));
}

} // namespace tvx
