#pragma once

#include <QByteArray>
#include <QClipboard>
#include <QMimeData>
#include <QObject>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace tvx {

// The bytes [start, end) of a reading text as UTF-8, each byte one Latin-1 character.
QByteArray latin1ToUtf8(const char *bytes, qint64 size);

// Copied reading bytes as the clipboard offers them: text, each byte one Latin-1 character,
// given to every program that asks as its UTF-8 bytes, made ready beforehand so that a paste is
// answered at once. It holds those bytes only, never the reading text they came from.
class ClipboardText : public QMimeData {
public:
    explicit ClipboardText(QByteArray utf8) : m_utf8(std::move(utf8)) {}
    QStringList formats() const override;
    bool hasFormat(const QString &mimeType) const override;
    const QByteArray &utf8() const { return m_utf8; }

protected:
    QVariant retrieveData(const QString &mimeType, QMetaType type) const override;

private:
    QByteArray m_utf8;
};

// Puts part of a reading text on the clipboard or the primary selection. A small part is made
// ready at once. A larger one is converted on a thread of its own while the window goes on: the
// clipboard is emptied at once, so that a paste meanwhile gives nothing rather than what was
// copied before, and takes the text when it is ready. A later copy to the same clipboard wins
// over an earlier one still being converted.
class ClipboardWriter : public QObject {
    Q_OBJECT
public:
    // Parts up to this many bytes are converted on the window's thread (well under a
    // millisecond).
    static constexpr qint64 AtOnceLimit = 1024 * 1024;

    ClipboardWriter();
    ~ClipboardWriter() override;

    // source is shared, not copied: the conversion reads it while the text may change.
    void put(QClipboard::Mode mode, const QByteArray &source, qint64 start, qint64 end);
    // Whether a conversion for that clipboard is still running.
    bool converting(QClipboard::Mode mode) const;

private:
    struct Job {
        QClipboard::Mode mode;
        // Set by a later copy to the same clipboard: the conversion stops, its result is dropped.
        std::atomic<bool> cancelled{false};
        QByteArray result;
        std::thread thread;
    };
    // Takes a finished conversion in, on the window's thread.
    void finish(Job *job);

    std::vector<std::unique_ptr<Job>> m_jobs;
};

} // namespace tvx
