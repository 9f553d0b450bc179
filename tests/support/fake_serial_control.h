#pragma once

#include "platform/serial_port.h"

#include <QSet>

namespace tvx::test {

// A serial control over a pretend device: tests feed it received bytes, make devices busy or
// absent, and pull the device away, while the property logic is the real control's.
class FakeSerialControl : public SerialControl {
    Q_OBJECT
public:
    using SerialControl::SerialControl;

    // Devices that fail to open ("/dev/ttyS2", or a path mapped through TARVIX_COM<n>).
    void setUnavailable(const QString &device, bool unavailable = true);

    void feed(const QByteArray &bytes) { received(bytes); }
    void loseDevice() { lost(QStringLiteral("device removed")); }
    // Another serial event (a line status change, say) raises the notification.
    void signalEvent(qint16 event) { raiseEvent(event); }

    QString openedDevice() const { return m_openedDevice; }
    LineSettings openedSettings() const { return m_openedSettings; }
    int openCount() const { return m_openCount; }

protected:
    bool openDevice(const QString &device, const LineSettings &settings, QString *reason) override;
    void closeDevice() override { m_openedDevice.clear(); }
    bool configureDevice(const LineSettings &settings, QString *) override;

private:
    QSet<QString> m_unavailable;
    QString m_openedDevice;
    LineSettings m_openedSettings;
    int m_openCount = 0;
};

} // namespace tvx::test
