#include "clipboard_writer.h"

#include <QGuiApplication>

#include <algorithm>
#include <cstring>

namespace tvx {

namespace {

const QString PlainText = QStringLiteral("text/plain");

// Bytes converted between two looks at whether the conversion is still wanted.
constexpr qint64 Piece = 4 * 1024 * 1024;

// Converts [from, to) of bytes into out at written; returns the new end of out.
char *convertPiece(const char *from, const char *to, char *out)
{
    while (from < to) {
        // Runs of ASCII are copied as they are.
        const char *ascii = from;
        while (ascii < to && uchar(*ascii) < 0x80)
            ++ascii;
        std::memcpy(out, from, size_t(ascii - from));
        out += ascii - from;
        from = ascii;
        if (from < to) {
            const uchar c = uchar(*from++);
            *out++ = char(0xc0 | (c >> 6));
            *out++ = char(0x80 | (c & 0x3f));
        }
    }
    return out;
}

// The conversion, given up between pieces when cancelled becomes true.
QByteArray convert(const char *bytes, qint64 size, const std::atomic<bool> *cancelled)
{
    const qint64 high = std::count_if(bytes, bytes + size, [](char c) { return uchar(c) >= 0x80; });
    QByteArray utf8(size + high, Qt::Uninitialized);
    char *out = utf8.data();
    for (qint64 at = 0; at < size; at += Piece) {
        if (cancelled && cancelled->load())
            return QByteArray();
        out = convertPiece(bytes + at, bytes + std::min(size, at + Piece), out);
    }
    return utf8;
}

} // namespace

QByteArray latin1ToUtf8(const char *bytes, qint64 size)
{
    return convert(bytes, size, nullptr);
}

QStringList ClipboardText::formats() const
{
    return {PlainText};
}

bool ClipboardText::hasFormat(const QString &mimeType) const
{
    return mimeType == PlainText;
}

QVariant ClipboardText::retrieveData(const QString &mimeType, QMetaType) const
{
    // As bytes, the toolkit hands these out; as text, it decodes them as UTF-8.
    if (!hasFormat(mimeType))
        return {};
    return m_utf8;
}

ClipboardWriter::ClipboardWriter() = default;

ClipboardWriter::~ClipboardWriter()
{
    for (const std::unique_ptr<Job> &job : m_jobs) {
        job->cancelled = true;
        job->thread.join();
    }
}

void ClipboardWriter::put(QClipboard::Mode mode, const QByteArray &source, qint64 start, qint64 end)
{
    end = std::clamp<qint64>(end, 0, source.size());
    start = std::clamp<qint64>(start, 0, end);
    for (const std::unique_ptr<Job> &job : m_jobs) {
        if (job->mode == mode)
            job->cancelled = true;
    }
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (end - start <= AtOnceLimit) {
        clipboard->setMimeData(
            new ClipboardText(latin1ToUtf8(source.constData() + start, end - start)), mode);
        return;
    }
    clipboard->setMimeData(new QMimeData, mode);
    auto job = std::make_unique<Job>();
    job->mode = mode;
    Job *running = job.get();
    // The thread holds its own share of the text, so that a text replaced meanwhile stays
    // readable until the conversion ends, and then is let go.
    job->thread = std::thread([this, running, source, start, end] {
        running->result = convert(source.constData() + start, end - start, &running->cancelled);
        QMetaObject::invokeMethod(
            this, [this, running] { finish(running); }, Qt::QueuedConnection);
    });
    m_jobs.push_back(std::move(job));
}

bool ClipboardWriter::converting(QClipboard::Mode mode) const
{
    // A job stays until the window's thread has taken its result.
    return std::any_of(m_jobs.cbegin(), m_jobs.cend(),
                       [mode](const std::unique_ptr<Job> &job) { return job->mode == mode; });
}

void ClipboardWriter::finish(Job *job)
{
    if (!job->cancelled)
        QGuiApplication::clipboard()->setMimeData(new ClipboardText(std::move(job->result)),
                                                  job->mode);
    // The thread's last act was to ask for this: it ends at once.
    job->thread.join();
    m_jobs.erase(
        std::find_if(m_jobs.begin(), m_jobs.end(),
                     [job](const std::unique_ptr<Job> &held) { return held.get() == job; }));
}

} // namespace tvx
