#include "fake_serial_control.h"

namespace tvx::test {

FakeSerialControl::FakeSerialControl(QObject *parent) : SerialControl(parent)
{
    for (int n = 0; n < 8; ++n)
        m_present.append({QStringLiteral("/dev/ttyS%1").arg(n), QString()});
}

void FakeSerialControl::setUnavailable(const QString &device, bool unavailable)
{
    if (unavailable)
        m_unavailable.insert(device);
    else
        m_unavailable.remove(device);
}

bool FakeSerialControl::openDevice(const QString &device, const LineSettings &settings,
                                   OpenFailure *failure)
{
    if (m_unavailable.contains(device)) {
        *failure = {OpenFailure::Busy, QStringLiteral("Device or resource busy")};
        return false;
    }
    m_openedDevice = device;
    m_openedSettings = settings;
    if (!m_noLockFile.isEmpty())
        noteNoLockFile(m_noLockFile);
    ++m_openCount;
    return true;
}

bool FakeSerialControl::configureDevice(const LineSettings &settings, QString *)
{
    m_openedSettings = settings;
    return true;
}

} // namespace tvx::test
