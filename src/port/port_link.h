#pragma once

#include <QString>

namespace tvx {

class SerialControl;

// The program's link to the instrument: the port number in force, the one saved when the port
// selection window opened, and the one way the serial port is (re)opened with them.
class PortLink {
public:
    static constexpr qint16 ReceiveThreshold = 1;
    static QString lineSettings() { return QStringLiteral("1200,N,8,1"); }

    explicit PortLink(SerialControl &comm) : m_comm(comm) {}

    SerialControl &comm() const { return m_comm; }

    qint16 portNumber() const { return m_portNumber; }
    void setPortNumber(qint16 port) { m_portNumber = port; }

    qint16 savedPortNumber() const { return m_savedPortNumber; }
    void setSavedPortNumber(qint16 port) { m_savedPortNumber = port; }

    // Close the port if open, select the port number's port, apply the line settings, set the
    // receive threshold and open. On failure the port is closed and failure() says why.
    bool openPort();

    // At start: the port number from tvx.cfg, then that port opened with the line settings the
    // control already holds. False when either fails (failure() says why).
    bool loadAtStartup();

    QString failure() const { return m_failure; }

private:
    bool report(bool ok);

    SerialControl &m_comm;
    qint16 m_portNumber = 1;
    qint16 m_savedPortNumber = 1;
    QString m_failure;
};

} // namespace tvx
