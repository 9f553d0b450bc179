// The pseudo-terminal of a Windows suite under Wine: a Windows program cannot make one, so
// tests/windows/pty_server.py, the Linux process that runs the suite, makes it, links it as a
// COM port of the Wine prefix and works its instrument end at the suite's request, over a local
// TCP connection (TVX_PTY_SERVER names the port).
#include "pseudo_terminal.h"

#include <winsock2.h>

namespace tvx::test {

namespace {

bool sendAll(SOCKET socket, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const int n = ::send(socket, bytes.constData() + done, int(bytes.size() - done), 0);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// The server's answer: a line, or that many bytes.
QByteArray receive(SOCKET socket, qsizetype count = -1)
{
    QByteArray bytes;
    char c = 0;
    while (count < 0 ? true : bytes.size() < count) {
        if (::recv(socket, &c, 1, 0) != 1)
            break;
        if (count < 0 && c == '\n')
            break;
        bytes.append(c);
    }
    return bytes;
}

} // namespace

PseudoTerminal::PseudoTerminal()
{
    const QByteArray port = qgetenv("TVX_PTY_SERVER");
    WSADATA data;
    if (port.isEmpty() || WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return;
    const SOCKET server = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(u_short(port.toUShort()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (server == INVALID_SOCKET ||
        ::connect(server, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        !sendAll(server, "open\n")) {
        if (server != INVALID_SOCKET)
            closesocket(server);
        return;
    }
    m_master = int(server);
    m_slavePath = QString::fromLatin1(receive(server));
}

PseudoTerminal::~PseudoTerminal()
{
    if (m_master >= 0)
        closesocket(SOCKET(m_master));
}

bool PseudoTerminal::write(const QByteArray &bytes)
{
    const SOCKET server = SOCKET(m_master);
    return m_master >= 0 && sendAll(server, "write " + QByteArray::number(bytes.size()) + '\n') &&
           sendAll(server, bytes) && receive(server) == "ok";
}

QByteArray PseudoTerminal::readAvailable()
{
    const SOCKET server = SOCKET(m_master);
    if (m_master < 0 || !sendAll(server, "read\n"))
        return QByteArray();
    return receive(server, receive(server).toLongLong());
}

QString PseudoTerminal::lineSettings() const
{
    const SOCKET server = SOCKET(m_master);
    if (m_master < 0 || !sendAll(server, "settings\n"))
        return QString();
    return QString::fromLatin1(receive(server));
}

void PseudoTerminal::closeMaster()
{
    if (m_master >= 0 && sendAll(SOCKET(m_master), "close\n"))
        receive(SOCKET(m_master));
}

} // namespace tvx::test
