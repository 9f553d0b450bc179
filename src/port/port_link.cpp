#include "port_link.h"

#include "config_file.h"

namespace tvx {

bool PortLink::report(qint16 port, bool ok)
{
    if (ok) {
        m_lastFailures.remove(port);
        return true;
    }
    m_failure = m_comm.errorString();
    m_lastFailures.insert(port, m_comm.openFailure());
    return false;
}

std::optional<SerialControl::OpenFailure> PortLink::lastFailure(qint16 port) const
{
    const auto found = m_lastFailures.constFind(port);
    if (found == m_lastFailures.constEnd())
        return std::nullopt;
    return *found;
}

bool PortLink::runProcedure(qint16 port)
{
    // The ports are enumerated once, while the port in force is still open: the device for the
    // number is known before it closes, and the opening does not enumerate again.
    const PortScanHold oneScan;
    // Closing a port only to open it again on the same device would throw away what waits in
    // its receive buffer and whatever arrives meanwhile, in the middle of a transmission maybe;
    // also when another number stands for that device, which the port then takes.
    const QString device = m_comm.deviceFor(port);
    if (m_comm.portOpen() && m_comm.settings() == lineSettings() && m_comm.isOpenOn(device)) {
        return report(port,
                      m_comm.renumber(port, device) && m_comm.setRThreshold(ReceiveThreshold));
    }
    if (m_comm.portOpen())
        m_comm.setPortOpen(false);
    return report(port, m_comm.setCommPort(port) && m_comm.setSettings(lineSettings()) &&
                            m_comm.setRThreshold(ReceiveThreshold) && m_comm.setPortOpen(true));
}

bool PortLink::openPort(Choice choice)
{
    if (choice == Choice::Cancel || m_portNumber != m_comm.commPort())
        ++m_abandonments;
    return runProcedure(m_portNumber);
}

bool PortLink::reopenLostPort()
{
    // The port that was lost, even if an option of the port selection window has been clicked
    // since: only Ok or Cancel put another port in its place.
    return runProcedure(m_comm.commPort());
}

bool PortLink::loadAtStartup()
{
    const std::optional<qint16> port = configfile::read(&m_failure);
    if (!port)
        return false;
    m_portNumber = *port;
    // The control still holds its initial line settings, so they are not applied again.
    return report(m_portNumber, m_comm.setCommPort(m_portNumber) &&
                                    m_comm.setRThreshold(ReceiveThreshold) &&
                                    m_comm.setPortOpen(true));
}

} // namespace tvx
