#pragma once

#include <QObject>

class QSocketNotifier;

namespace tvx {

// Tells the event loop that another program cut a mapped file short (FileMapping), which the
// program learns of inside a signal handler, where nothing but a write to a pipe may be done.
class MappingWatch : public QObject {
    Q_OBJECT
public:
    // The one watch, made on the first call (on the window's thread).
    static MappingWatch &instance();
    // The pipe's end the signal handler writes to; -1 before the watch exists.
    static int notifyDescriptor();

Q_SIGNALS:
    // A mapped file was cut short: FileMapping::cutShort() says which.
    void cut();

private:
    MappingWatch();
    void drain();

    int m_read = -1;
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace tvx
