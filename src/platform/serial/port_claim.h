#pragma once

#include <QString>

namespace tvx {

// Windows: the program's own claim on a COM port, beside the one Windows makes. Windows's COM
// driver opens a port for one program at a time but names no holder; Wine does not keep a
// second program off a port at all, so two programs would share its bytes. While a port is
// open, a named object of the session ("Local\Tarvix.port.COM3") holds the process number of
// the program that opened it: a second Tarvix program that wants the port is refused, and
// told which program has it. Windows removes the object with the last handle to it, however
// the holder ends, so no claim outlives its program. Windows only (port_claim.cpp).
class PortClaim {
public:
    PortClaim() = default;
    ~PortClaim() { release(); }
    PortClaim(const PortClaim &) = delete;
    PortClaim &operator=(const PortClaim &) = delete;

    // Claims the port ("COM3", or "\\.\COM3"); false when another program (this one's other
    // openings included) has claimed it, *holder then naming it: "tarvix-capture.exe
    // (process 1234)", or "process 1234" when its program cannot be told.
    bool claim(const QString &device, QString *holder);
    void release();

private:
    void *m_object = nullptr;
};

} // namespace tvx
