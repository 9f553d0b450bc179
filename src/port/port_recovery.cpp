#include "port_recovery.h"

#include "platform/serial_port.h"
#include "port_link.h"

#include <QFileInfo>

namespace tvx {

PortRecovery::PortRecovery(PortLink &link, QObject *parent) : QObject(parent), m_link(link)
{
    connect(&link.comm(), &SerialControl::deviceLost, this, &PortRecovery::portLost);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &PortRecovery::folderChanged);
}

void PortRecovery::portLost()
{
    m_device = m_link.comm().deviceName();
    m_port = m_link.comm().commPort();
    m_userOpenings = m_link.userOpenings();
    watchNearestFolder();
}

void PortRecovery::folderChanged()
{
    if (!waiting())
        return;
    if (m_link.userOpenings() != m_userOpenings || m_link.comm().portOpen()) {
        stop();
        return;
    }
    // Only the device that was lost, and only while the port number still stands for it: with
    // another adapter plugged in meanwhile, the number may have moved to that one.
    if (QFileInfo::exists(m_device) && m_link.comm().deviceFor(m_port) == m_device &&
        m_link.reopenLostPort()) {
        const QString message =
            QStringLiteral("COM%1 (%2) is back; the port is open again").arg(m_port).arg(m_device);
        stop();
        Q_EMIT reopened(message);
        return;
    }
    // Not there yet, or not yet the user's to open (the system sets a new device's permissions
    // a moment after making it): the next change of the folder tells.
    watchNearestFolder();
}

void PortRecovery::watchNearestFolder()
{
    QString folder = QFileInfo(m_device).absolutePath();
    while (!QFileInfo(folder).isDir() && folder != QFileInfo(folder).absolutePath())
        folder = QFileInfo(folder).absolutePath();
    const QStringList watched = m_watcher.directories();
    if (watched == QStringList{folder})
        return;
    if (!watched.isEmpty())
        m_watcher.removePaths(watched);
    m_watcher.addPath(folder);
}

void PortRecovery::stop()
{
    m_device.clear();
    const QStringList watched = m_watcher.directories();
    if (!watched.isEmpty())
        m_watcher.removePaths(watched);
}

} // namespace tvx
