#pragma once

#include "platform/serial/device_identity.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>

namespace tvx {

class PortLink;

// Brings back a port that was lost while open (an unplugged USB adapter): when the same device
// appears again, and the port number still stands for it, it reopens the port with the
// port-opening procedure, so the next transmission is captured without a visit to the port
// selection window. The same device, not only the same name (see DeviceIdentity): another
// adapter plugged in under the lost one's name is left alone, and a device that nothing tells
// apart is not waited for at all. A pseudo-terminal is such a device: its name goes to the next
// terminal made, a new shell's maybe, whose keystrokes the port would then read; the user
// reopens it through the port selection window. The file system tells it when the device's
// folder changes (and, for a symbolic link, the folder of what it points to), so an idle
// program with a lost port stays asleep. On Windows a COM port is no file: the port list tells
// whether it is there, asked every PollMs while it is waited for. A device that is there but does
// not open yet (busy for a moment, its permissions not set yet) is tried again after a pause that
// grows to RetryMs, for as long as it stays there. Only the user's own giving up of the port
// (Cancel, or Ok on another port) ends the waiting: a port the user gave up is never reopened
// behind their back.
class PortRecovery : public QObject {
    Q_OBJECT
public:
    static constexpr int FirstRetryMs = 500;
    static constexpr int RetryMs = 5000;
    static constexpr int PollMs = 1000;

    explicit PortRecovery(PortLink &link, QObject *parent = nullptr);

    // Whether a lost device is being waited for.
    bool waiting() const { return !m_device.isEmpty(); }
    // Whether a try at the device is due after a pause (never while it is absent).
    bool retrying() const { return m_retry.isActive(); }

    // The pause before the given try again (0 for the first): 0.5 s, 1 s, 2 s, then every 5 s.
    static int retryDelayMs(int retry);

Q_SIGNALS:
    // The port is open again; the text says so for standard error.
    void reopened(const QString &message);
    // The lost port is not reopened by itself: it cannot be told from another device, or
    // another one has taken its name (said once while it is waited for). The text is for
    // standard error.
    void notReopened(const QString &message);

private:
    void portLost();
    void check();
    // Watches the device's folder, and each folder its links lead to; for a folder that does
    // not exist, the nearest folder above it that does (a folder such as /dev/serial/by-id goes
    // away with the last adapter).
    void watchFolders();
    // Whether the lost device is there now.
    bool devicePresent() const;
    void stop();

    PortLink &m_link;
    QFileSystemWatcher m_watcher;
    QTimer m_retry;
    QTimer m_poll; // Windows's: the file system tells nothing of COM ports
    QString m_device;
    DeviceIdentity m_identity;
    bool m_toldOther = false;
    qint16 m_port = 0;
    quint64 m_abandonments = 0;
    int m_retries = 0;
};

} // namespace tvx
