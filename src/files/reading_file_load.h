#pragma once

#include "platform/files/files.h"
#include "reading/line_index.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

namespace tvx {

class ReadingText;

// Loads a reading file into the reading text a slice at a time from the event loop, so the
// windows go on answering while a long file is read; the busy cursor shows meanwhile. The line
// index is built slice by slice as well. A long file is mapped rather than read, and only its
// line index is built in slices. The reading text is replaced only once the whole file
// has been read: a failure, or a load given up (the object deleted), leaves it as it was.
//
// A transmission wins over a file: when one is being received while the file is still being
// read, the load stops at once and leaves the reading text to the capture (gaveWay() says so
// then), and finished() tells of it only once the capture has ended (a box in the middle would
// hide what comes in).
class ReadingFileLoad : public QObject {
    Q_OBJECT
public:
    // Bytes read at a time, and how long the reading goes on before the event loop gets a turn.
    static constexpr qint64 SliceSize = 1 << 20;
    static constexpr int TurnMilliseconds = 20;
    // Room kept after the file's bytes for received blocks.
    static constexpr qint64 ReceiveRoom = 16 << 20;
    // Files this long or longer are mapped rather than read (FileMapping): read, they would
    // take their size in memory, each page of it faulted in and zeroed first.
    static constexpr qint64 MapSize = 16 << 20;

    explicit ReadingFileLoad(ReadingText &text, QObject *parent = nullptr);
    ~ReadingFileLoad() override;

    // Starts loading the file; a short file, or one that cannot be read, is done before this
    // returns.
    void start(const QString &path);
    // From start() until finished(), also while a load that gave way waits for the capture's end.
    bool running() const { return m_running; }

    // Why a load that gave way to a transmission did not load its file.
    static QString gaveWayReason();

Q_SIGNALS:
    // The load stopped for a transmission: the reading text is the capture's from now on.
    void gaveWay();
    // The load ended: the reading text holds the file, or reason says why it does not.
    void finished(bool loaded, const QString &reason);

private:
    void readSome();
    // Takes the next slice in: read into m_content, or indexed where m_content is the mapped
    // file. False with the reason when the file cannot be read (any more).
    bool takeSlice(QString *reason);
    void receivingChanged(bool receiving);
    void giveWay();
    void stopReading();
    void finish(bool loaded, const QString &reason);
    void setBusy(bool busy);

    ReadingText &m_text;
    FileSlices m_file;
    QByteArray m_content;
    bool m_mapped = false;
    qint64 m_indexed = 0; // the bytes of a mapped file indexed so far
    LineIndex m_lines;
    QTimer m_next;
    bool m_running = false;
    bool m_gaveWay = false;
    bool m_busy = false;
};

} // namespace tvx
