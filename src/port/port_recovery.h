#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>

namespace tvx {

class PortLink;

// Brings back a port that was lost while open (an unplugged USB adapter, a simulator that went
// away): when the same device appears again it reopens the port with the port-opening
// procedure, so the next transmission is captured without a visit to the port selection
// window. It runs no timer: the file system tells it when the device's folder changes, so an
// idle program with a lost port stays asleep. The user's own choice (Ok or Cancel of the port
// selection window) ends the waiting: a port the user gave up is never reopened behind their
// back.
class PortRecovery : public QObject {
    Q_OBJECT
public:
    explicit PortRecovery(PortLink &link, QObject *parent = nullptr);

    // Whether a lost device is being waited for.
    bool waiting() const { return !m_device.isEmpty(); }

Q_SIGNALS:
    // The port is open again; the text says so for standard error.
    void reopened(const QString &message);

private:
    void portLost();
    void folderChanged();
    // Watches the device's folder, or the nearest folder above it that exists (a folder such as
    // /dev/serial/by-id goes away with the last adapter).
    void watchNearestFolder();
    void stop();

    PortLink &m_link;
    QFileSystemWatcher m_watcher;
    QString m_device;
    qint16 m_port = 0;
    quint64 m_userOpenings = 0;
};

} // namespace tvx
