#!/usr/bin/env python3
"""Pseudo-terminals for the Windows suites under Wine, as COM ports.

    pty_server.py PROGRAM [ARGUMENT...]

Runs PROGRAM (a Windows suite started through Wine) and ends with its status. Meanwhile it
listens on a local TCP port, named to the program in TVX_PTY_SERVER: each connection gets a
pseudo-terminal of its own, linked as a COM port of the Wine prefix ($WINEPREFIX/dosdevices/comN,
N from 20 up), whose instrument end it works on the program's behalf, one request a line:

    open             -> "COM20"   the terminal, raw at 9600 baud until the program sets its line
    write N + bytes  -> "ok"      the bytes into the instrument end, all of them
    read             -> "N" + bytes   what the program wrote, without waiting
    settings         -> "1200,N,8,1"  the line the program set
    close            -> "ok"      the instrument end hangs up, as an unplugged adapter

A closed connection takes its terminal and its link away. Wine takes a pseudo-terminal for a COM
port only with the modem-line requests answered: the program runs with the library that answers
them (TVX_PTY_MODEM_LIB, built by run-under-wine.sh) preloaded.
"""
import os
import pty
import socket
import subprocess
import sys
import termios
import threading
import tty

prefix = os.environ.get("WINEPREFIX", "")
dosdevices = os.path.join(prefix, "dosdevices")
claim = threading.Lock()

SPEEDS = {getattr(termios, "B%d" % b): b for b in (1200, 2400, 4800, 9600, 19200)}


def settings_of(fd):
    iflag, oflag, cflag, lflag, ispeed, ospeed, cc = termios.tcgetattr(fd)
    parity = "N" if not cflag & termios.PARENB else ("O" if cflag & termios.PARODD else "E")
    bits = {termios.CS5: 5, termios.CS6: 6, termios.CS7: 7, termios.CS8: 8}[cflag & termios.CSIZE]
    return "%d,%s,%d,%d" % (SPEEDS.get(ispeed, -1), parity, bits,
                            2 if cflag & termios.CSTOPB else 1)


class Terminal:
    def __init__(self):
        self.master, self.slave = pty.openpty()
        tty.setraw(self.slave)
        attributes = termios.tcgetattr(self.slave)
        attributes[4] = attributes[5] = termios.B9600  # the program must set its own speed
        termios.tcsetattr(self.slave, termios.TCSANOW, attributes)
        os.set_blocking(self.master, False)
        with claim:
            number = 20
            while os.path.lexists(os.path.join(dosdevices, "com%d" % number)):
                number += 1
            self.link = os.path.join(dosdevices, "com%d" % number)
            os.symlink(os.ttyname(self.slave), self.link)
        self.name = "COM%d" % number

    def write(self, data):
        os.set_blocking(self.master, True)
        total = 0
        while total < len(data):
            total += os.write(self.master, data[total:])
        os.set_blocking(self.master, False)

    def read(self):
        data = b""
        try:
            while True:
                block = os.read(self.master, 4096)
                if not block:
                    break
                data += block
        except (BlockingIOError, OSError):
            pass
        return data

    def close(self):
        for fd in (self.master, self.slave):
            if fd >= 0:
                os.close(fd)
        self.master = self.slave = -1

    def remove(self):
        self.close()
        if os.path.islink(self.link):
            os.unlink(self.link)


def serve(connection):
    stream = connection.makefile("rwb")
    terminal = None
    try:
        for line in stream:
            words = line.decode().split()
            if not words:
                break
            if words[0] == "open":
                terminal = Terminal()
                answer = terminal.name.encode()
            elif words[0] == "write":
                data = stream.read(int(words[1]))
                terminal.write(data)
                answer = b"ok"
            elif words[0] == "read":
                data = terminal.read()
                stream.write(b"%d\n" % len(data) + data)
                stream.flush()
                continue
            elif words[0] == "settings":
                answer = settings_of(terminal.slave).encode()
            elif words[0] == "close":
                terminal.close()
                answer = b"ok"
            else:
                answer = b"unknown request"
            stream.write(answer + b"\n")
            stream.flush()
    finally:
        if terminal:
            terminal.remove()
        connection.close()


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    library = os.environ.get("TVX_PTY_MODEM_LIB", "")
    if not os.path.isfile(library):
        sys.exit("pty_server: TVX_PTY_MODEM_LIB names no library (%r): "
                 "tests/windows/run-under-wine.sh builds it" % library)
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen()

    def accept():
        while True:
            connection, _ = listener.accept()
            threading.Thread(target=serve, args=(connection,), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()
    environment = dict(os.environ)
    environment["TVX_PTY_SERVER"] = str(listener.getsockname()[1])
    environment["LD_PRELOAD"] = " ".join(filter(None, [library, os.environ.get("LD_PRELOAD")]))
    sys.exit(subprocess.call(sys.argv[1:], env=environment))


if __name__ == "__main__":
    main()
