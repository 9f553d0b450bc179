#pragma once

#include "platform/serial/serial_port.h"

#include <QHash>
#include <QSet>

namespace tvx::test {

// A serial control over a pretend device: tests feed it received bytes, make devices busy or
// absent, and pull the device away, while the property logic is the real control's. The
// pretend machine has the serial ports /dev/ttyS0 to /dev/ttyS7 (COM1 to COM8) unless a test
// gives it others.
class FakeSerialControl : public SerialControl {
    Q_OBJECT
public:
    explicit FakeSerialControl(QObject *parent = nullptr);

    void setPresentPorts(const QList<SerialDevice> &ports) { m_present = ports; }

    // Devices that fail to open ("/dev/ttyS2", or a path mapped through TARVIX_COM<n>).
    void setUnavailable(const QString &device, bool unavailable = true);

    // The openings from now on hold the device without a lock file, for this reason; none when
    // it is empty.
    void setNoLockFile(const QString &note) { m_noLockFile = note; }

    // What the pretend system says the device at that path is from now on; a device given
    // none is fixed hardware known by its path, as a built-in port is.
    void setIdentity(const QString &device, const DeviceIdentity &identity)
    {
        m_identities.insert(device, identity);
    }
    DeviceIdentity deviceIdentity(const QString &device) const override
    {
        return m_identities.value(device, DeviceIdentity::fixed(device));
    }

    void feed(const QByteArray &bytes) { received(bytes); }
    void loseDevice() { lost(QStringLiteral("device removed")); }
    // Another serial event (a line status change, say) raises the notification.
    void signalEvent(qint16 event) { raiseEvent(event); }

    QString openedDevice() const { return m_openedDevice; }
    LineSettings openedSettings() const { return m_openedSettings; }
    int openCount() const { return m_openCount; }
    // How often the pretend machine's ports were enumerated; as the system's, through the holds.
    int scans() const { return m_scans; }

protected:
    QList<SerialDevice> presentPorts() const override
    {
        return heldScan([this] {
            ++m_scans;
            return m_present;
        });
    }
    // The pretend machine is a Linux one wherever the tests run.
    PortMap::Naming portNaming() const override { return PortMap::Naming::Enumerated; }
    bool openDevice(const QString &device, const LineSettings &settings,
                    OpenFailure *failure) override;
    void closeDevice() override { m_openedDevice.clear(); }
    bool configureDevice(const LineSettings &settings, QString *) override;

private:
    QList<SerialDevice> m_present;
    QSet<QString> m_unavailable;
    QHash<QString, DeviceIdentity> m_identities;
    QString m_openedDevice;
    LineSettings m_openedSettings;
    int m_openCount = 0;
    mutable int m_scans = 0;
    QString m_noLockFile;
};

} // namespace tvx::test
