#pragma once

#include <QByteArray>
#include <QString>

namespace tvx::test {

// A pseudo-terminal standing in for the instrument's cable: the program opens the slave device
// as its serial port, the test writes the instrument's bytes into the master. A Windows suite
// under Wine gets one linked as a COM port (slavePath() is "COM20"), made and worked by the
// Linux process that runs the suite (pseudo_terminal_windows.cpp).
class PseudoTerminal {
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool isValid() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }

    // Writes every byte (blocking until the terminal took them all).
    bool write(const QByteArray &bytes);
    // What the program wrote to the terminal and nobody read yet (without waiting).
    QByteArray readAvailable();
    // The line settings the program put on the terminal, as "1200,N,8,1".
    QString lineSettings() const;
    // The instrument end goes away: the slave then reports an error to its reader.
    void closeMaster();

private:
    int m_master = -1;
    int m_slave = -1; // kept open so that the slave end stays valid until the program opens it
    QString m_slavePath;
};

} // namespace tvx::test
