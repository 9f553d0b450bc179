#include "port_link.h"

#include "config_file.h"
#include "platform/serial_port.h"

namespace tvx {

bool PortLink::report(bool ok)
{
    if (!ok)
        m_failure = m_comm.errorString();
    return ok;
}

bool PortLink::openPort()
{
    if (m_comm.portOpen())
        m_comm.setPortOpen(false);
    return report(m_comm.setCommPort(m_portNumber) && m_comm.setSettings(lineSettings()) &&
                  m_comm.setRThreshold(ReceiveThreshold) && m_comm.setPortOpen(true));
}

bool PortLink::loadAtStartup()
{
    const std::optional<qint16> port = configfile::read();
    if (!port) {
        m_failure = QStringLiteral("%1: no usable port number").arg(configfile::fileName());
        return false;
    }
    m_portNumber = *port;
    // The control still holds its initial line settings, so they are not applied again.
    return report(m_comm.setCommPort(m_portNumber) && m_comm.setRThreshold(ReceiveThreshold) &&
                  m_comm.setPortOpen(true));
}

} // namespace tvx
