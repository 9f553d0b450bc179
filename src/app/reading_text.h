#pragma once

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

    void clear() { replace(QByteArray()); }
    void replace(const QByteArray &bytes);
    void append(const QByteArray &block);

Q_SIGNALS:
    // The whole text changed (emptied or loaded).
    void replaced();
    // A block was added at the end.
    void appended(const QByteArray &block);

private:
    QByteArray m_bytes;
};

} // namespace tvx
