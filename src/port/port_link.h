#pragma once

#include "platform/serial/serial_port.h"

#include <QHash>
#include <QString>

#include <optional>

namespace tvx {

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

    // The user's choices that run the port-opening procedure.
    enum class Choice {
        Ok,     // the port number marked
        Cancel, // back to the saved port number
    };

    // Close the port if open, select the port number's port, apply the line settings, set the
    // receive threshold and open. On failure the port is closed and failure() says why. An open
    // port that would only be closed and opened again on the same device stays open, its
    // receive buffer untouched, with only the threshold set; also when the number is another
    // one that stands for that device (the port then takes that number). The
    // ports are enumerated once, before the open port is closed.
    bool openPort(Choice choice = Choice::Ok);

    // The same procedure for a port that was lost while open and has come back; not the
    // user's choice.
    bool reopenLostPort();

    // At start: the port number from tvx.cfg, then that port opened with the line settings the
    // control already holds. False when either fails (failure() says why).
    bool loadAtStartup();

    QString failure() const { return m_failure; }

    // Why the last opening of this port number failed; nothing when it opened or was never
    // tried.
    std::optional<SerialControl::OpenFailure> lastFailure(qint16 port) const;

    // How often the user has given up the port in force: Cancel, or Ok on another port. A lost
    // port may be reopened behind the user's back only while this stays as it was when the port
    // was lost; an Ok on that same port, even one that failed, keeps it wanted.
    quint64 abandonments() const { return m_abandonments; }

private:
    bool runProcedure(qint16 port);
    bool report(qint16 port, bool ok);

    SerialControl &m_comm;
    qint16 m_portNumber = 1;
    qint16 m_savedPortNumber = 1;
    QString m_failure;
    QHash<qint16, SerialControl::OpenFailure> m_lastFailures;
    quint64 m_abandonments = 0;
};

} // namespace tvx
