#pragma once

#include "reading/line_index.h"

#include <QByteArray>
#include <QObject>

namespace tvx {

// The reading text: the bytes received from the instrument or loaded from a reading file, one
// character per byte, exactly as they came. Save, print and open work on this, never on what
// the reading area happens to display.
class ReadingText : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    const QByteArray &bytes() const { return m_bytes; }
    // Where its lines begin, kept up to date with every change.
    const LineIndex &lines() const { return m_lines; }

    void clear() { replace(QByteArray()); }
    void replace(const QByteArray &bytes);
    // Replaces the text by bytes whose line index has been built already (while a file was
    // read, slice by slice).
    void replace(const QByteArray &bytes, LineIndex lines);
    void append(const QByteArray &block);

    // Whether a transmission is being received into the text (a capture runs). A file still
    // being read gives way to it rather than replace it afterwards.
    bool receiving() const { return m_receiving; }
    void setReceiving(bool receiving);

Q_SIGNALS:
    // The whole text is about to change: bytes() still holds the old text.
    void aboutToReplace();
    // The whole text changed (emptied or loaded).
    void replaced();
    // A block was added at the end.
    void appended(const QByteArray &block);
    void receivingChanged(bool receiving);

private:
    QByteArray m_bytes;
    LineIndex m_lines;
    bool m_receiving = false;
};

} // namespace tvx
