#include "fake_serial_control.h"

namespace tvx::test {

void FakeSerialControl::setUnavailable(const QString &device, bool unavailable)
{
    if (unavailable)
        m_unavailable.insert(device);
    else
        m_unavailable.remove(device);
}

bool FakeSerialControl::openDevice(const QString &device, const LineSettings &settings,
                                   QString *reason)
{
    if (m_unavailable.contains(device)) {
        *reason = QStringLiteral("Device or resource busy");
        return false;
    }
    m_openedDevice = device;
    m_openedSettings = settings;
    ++m_openCount;
    return true;
}

bool FakeSerialControl::configureDevice(const LineSettings &settings, QString *)
{
    m_openedSettings = settings;
    return true;
}

} // namespace tvx::test
