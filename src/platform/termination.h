#pragma once

#include <QObject>
#include <QString>

class QByteArray;
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

// Whether SIGTERM, SIGINT or SIGHUP has come while a TerminationSignals object lives. Code
// that may wait on something outside the program (a pipe nobody reads) asks it, as the event
// loop that would deliver received() is not running meanwhile.
bool terminationRequested();

// How long output may still take once the program has been asked to end: what arrived goes out
// when the reader takes it in this time, and the program does not wait any longer for it.
constexpr int TerminationGraceMs = 500;

// Writes all of bytes to the descriptor (standard output or error) for as long as its reader
// takes them, but no longer than TerminationGraceMs after the program has been asked to end.
// Empty when everything was written; otherwise why not: the system's words, or that the write
// was interrupted and how far it got.
QString writeUntilTerminated(int descriptor, const QByteArray &bytes);

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
