#include "port_recovery.h"

#include "platform/serial/serial_port.h"
#include "port_link.h"

#include <QFileInfo>

namespace tvx {

namespace {

// How deep a chain of links is followed (the system itself gives up at 40).
constexpr int MaxLinks = 8;

// The folder that holds path, or the nearest folder above it that exists.
QString nearestFolder(const QString &path)
{
    QString folder = QFileInfo(path).absolutePath();
    while (!QFileInfo(folder).isDir() && folder != QFileInfo(folder).absolutePath())
        folder = QFileInfo(folder).absolutePath();
    return folder;
}

} // namespace

PortRecovery::PortRecovery(PortLink &link, QObject *parent) : QObject(parent), m_link(link)
{
    m_retry.setSingleShot(true);
    connect(&link.comm(), &SerialControl::deviceLost, this, &PortRecovery::portLost);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &PortRecovery::check);
    connect(&m_retry, &QTimer::timeout, this, &PortRecovery::check);
    m_poll.setInterval(PollMs);
    connect(&m_poll, &QTimer::timeout, this, &PortRecovery::check);
}

int PortRecovery::retryDelayMs(int retry)
{
    return retry < 3 ? FirstRetryMs << retry : RetryMs;
}

void PortRecovery::portLost()
{
    const SerialControl &comm = m_link.comm();
    m_identity = comm.openedIdentity();
    m_port = comm.commPort();
    if (m_identity.kind == DeviceIdentity::Kind::Unknown) {
        stop();
        const QString message = QStringLiteral("%1 will not be reopened by itself: nothing "
                                               "tells whether a device that appears there is "
                                               "the same one (Option > Serial Port Selection > "
                                               "Ok reopens it)")
                                    .arg(portLabel(m_port, comm.deviceName()));
        // Said after the loss itself, whoever else hears of it.
        QTimer::singleShot(0, this, [this, message] { Q_EMIT notReopened(message); });
        return;
    }
    m_device = comm.deviceName();
    m_abandonments = m_link.abandonments();
    m_retries = 0;
    m_toldOther = false;
    watchFolders();
#ifdef Q_OS_WIN
    m_poll.start();
#endif
}

bool PortRecovery::devicePresent() const
{
#ifdef Q_OS_WIN
    return m_link.comm().portMap().isPresent(m_device);
#else
    return QFileInfo::exists(m_device);
#endif
}

void PortRecovery::check()
{
    if (!waiting())
        return;
    if (m_link.abandonments() != m_abandonments || m_link.comm().portOpen()) {
        stop();
        return;
    }
    // Only the device that was lost, and only while the port number still stands for it: with
    // another adapter plugged in meanwhile, the number may have moved to that one.
    const bool there = devicePresent() && m_link.comm().deviceFor(m_port) == m_device;
    const DeviceIdentity identity = there ? m_link.comm().deviceIdentity(m_device) : m_identity;
    if (there && !identity.sameDeviceAs(m_identity)) {
        // Another device under the lost one's name, wired to who knows what: the port stays
        // closed, and the lost one is still waited for (this one may go again).
        m_retry.stop();
        m_retries = 0;
        if (!m_toldOther) {
            m_toldOther = true;
            Q_EMIT notReopened(QStringLiteral("%1: another device appeared in its place (%2) and "
                                              "is not opened (Option > Serial Port Selection > "
                                              "Ok opens it)")
                                   .arg(portLabel(m_port, m_device), identity.describe()));
        }
    } else if (there) {
        if (m_link.reopenLostPort()) {
            const QString message = QStringLiteral("%1 is back; the port is open again")
                                        .arg(portLabel(m_port, m_device));
            stop();
            Q_EMIT reopened(message);
            return;
        }
        // There, but not the program's to open yet: the system sets a new device's
        // permissions a moment after making it, and another program may hold it briefly.
        m_retry.start(retryDelayMs(m_retries++));
    } else {
        // Absent (or no longer behind the number): only the file system wakes the program.
        m_retry.stop();
        m_retries = 0;
    }
    watchFolders();
}

void PortRecovery::watchFolders()
{
    // Along the chain of links as far as it goes now: a link that is gone comes back in its own
    // folder first, and what it leads to matters only once it is there (watching a busy folder
    // such as /dev/pts for a link that is gone would only wake the program for nothing).
    QStringList folders;
    QString path = m_device;
    for (int depth = 0; depth <= MaxLinks; ++depth) {
        const QString folder = nearestFolder(path);
        if (!folders.contains(folder))
            folders.append(folder);
        const QFileInfo link(path);
        if (!link.isSymLink())
            break;
        path = link.symLinkTarget();
    }
    const QStringList watched = m_watcher.directories();
    if (watched == folders)
        return;
    if (!watched.isEmpty())
        m_watcher.removePaths(watched);
    m_watcher.addPaths(folders);
}

void PortRecovery::stop()
{
    m_device.clear();
    m_retry.stop();
    m_poll.stop();
    const QStringList watched = m_watcher.directories();
    if (!watched.isEmpty())
        m_watcher.removePaths(watched);
}

} // namespace tvx
