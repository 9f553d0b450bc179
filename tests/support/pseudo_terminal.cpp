#include "pseudo_terminal.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace tvx::test {

PseudoTerminal::PseudoTerminal()
{
    char name[PATH_MAX] = {};
    termios raw{};
    cfmakeraw(&raw);
    cfsetspeed(&raw, B9600); // so that a test sees the program set its own speed
    if (openpty(&m_master, &m_slave, name, &raw, nullptr) != 0) {
        m_master = m_slave = -1;
        return;
    }
    m_slavePath = QString::fromLocal8Bit(name);
}

PseudoTerminal::~PseudoTerminal()
{
    closeMaster();
    if (m_slave >= 0)
        ::close(m_slave);
}

bool PseudoTerminal::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

QByteArray PseudoTerminal::readAvailable()
{
    QByteArray bytes;
    pollfd ready{m_master, POLLIN, 0};
    char block[4096];
    while (m_master >= 0 && ::poll(&ready, 1, 0) > 0 && (ready.revents & POLLIN)) {
        const ssize_t n = ::read(m_master, block, sizeof block);
        if (n <= 0)
            break;
        bytes.append(block, n);
    }
    return bytes;
}

QString PseudoTerminal::lineSettings() const
{
    termios t{};
    if (m_slave < 0 || tcgetattr(m_slave, &t) != 0)
        return QString();
    const speed_t speed = cfgetispeed(&t);
    const int baud = speed == B1200 ? 1200 : speed == B9600 ? 9600 : speed == B2400 ? 2400 : -1;
    const char parity = !(t.c_cflag & PARENB) ? 'N' : (t.c_cflag & PARODD) ? 'O' : 'E';
    const int bits = (t.c_cflag & CSIZE) == CS8 ? 8 : (t.c_cflag & CSIZE) == CS7 ? 7 : 0;
    const int stops = (t.c_cflag & CSTOPB) ? 2 : 1;
    return QStringLiteral("%1,%2,%3,%4").arg(baud).arg(QLatin1Char(parity)).arg(bits).arg(stops);
}

void PseudoTerminal::closeMaster()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
    // The slave this object held open would keep the terminal alive; the program's own
    // descriptor must be the last one for it to see the hang-up.
    if (m_slave >= 0)
        ::close(m_slave);
    m_slave = -1;
}

} // namespace tvx::test
