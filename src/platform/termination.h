#pragma once

#include <QObject>

class QSocketNotifier;

namespace tvx {

class SerialControl;

// The requests to end the program that come from outside: SIGTERM (a logout, a service
// manager), SIGINT (Ctrl+C in a terminal) and SIGHUP (the terminal or session went away).
// While an object of this class lives, each such signal arrives as received() on its thread,
// between other events, so the program can end the way its own Exit does and release the
// serial port and its lock file, instead of being killed with them held. At most one object
// may live at a time; its end restores the signals' default actions.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

Q_SIGNALS:
    void received(int signalNumber);

private:
    void readPending();

    QSocketNotifier *m_notifier = nullptr;
};

// Closes the serial port on the way out also when a library ends the program with exit():
// Qt does so when the X server goes away, as at a logout, and the port's lock file would
// otherwise stay behind. At most one object may live at a time, no longer than the control.
class PortReleaseAtExit {
public:
    explicit PortReleaseAtExit(SerialControl &comm);
    ~PortReleaseAtExit();
    PortReleaseAtExit(const PortReleaseAtExit &) = delete;
    PortReleaseAtExit &operator=(const PortReleaseAtExit &) = delete;
};

} // namespace tvx
