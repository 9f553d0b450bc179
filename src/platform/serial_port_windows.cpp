// The serial port on Windows, through the toolkit's serial port: a COM port opens for one
// program at a time, so no lock file is kept.

#include "serial_port.h"

#ifdef Q_OS_WIN

#include <QSerialPort>
#include <QSignalBlocker>

namespace tvx {

struct SystemSerialControl::Device {
    QSerialPort port;
};

SystemSerialControl::SystemSerialControl(QObject *parent)
    : SerialControl(parent), m_device(std::make_unique<Device>())
{
    QSerialPort &port = m_device->port;
    connect(&port, &QSerialPort::readyRead, this, [this, &port] { received(port.readAll()); });
    connect(
        &port, &QSerialPort::errorOccurred, this, [this, &port](QSerialPort::SerialPortError e) {
            // Qt reports a vanished device in one of these three ways, and after a ReadError keeps
            // reporting it for as long as the port stays open: take what arrived, then close.
            if (!port.isOpen() || (e != QSerialPort::ReadError && e != QSerialPort::ResourceError &&
                                   e != QSerialPort::UnknownError))
                return;
            const QString reason = lostDeviceReason(port.errorString());
            received(port.readAll());
            lost(reason);
        });
}

SystemSerialControl::~SystemSerialControl() = default;

QString SystemSerialControl::lockFolderNote() const
{
    return QString();
}

static bool apply(QSerialPort &port, const LineSettings &s)
{
    QSerialPort::Parity parity = QSerialPort::NoParity;
    switch (s.parity) {
    case 'E':
        parity = QSerialPort::EvenParity;
        break;
    case 'O':
        parity = QSerialPort::OddParity;
        break;
    case 'M':
        parity = QSerialPort::MarkParity;
        break;
    case 'S':
        parity = QSerialPort::SpaceParity;
        break;
    default:
        break;
    }
    return port.setBaudRate(s.baud) && port.setParity(parity) &&
           port.setDataBits(static_cast<QSerialPort::DataBits>(s.dataBits)) &&
           port.setStopBits(s.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
}

bool SystemSerialControl::openDevice(const QString &device, const LineSettings &settings,
                                     OpenFailure *failure)
{
    QSerialPort &port = m_device->port;
    port.setPortName(device);
    port.setReadBufferSize(0); // unbounded: nothing is dropped while the program is busy
    if (!port.open(QIODevice::ReadWrite)) {
        failure->reason = port.errorString();
        // Windows reports a COM port that another program has open as access denied.
        if (port.error() == QSerialPort::PermissionError) {
            failure->kind = OpenFailure::Busy;
            failure->reason = QStringLiteral("in use by another program (%1)").arg(failure->reason);
        }
        port.clearError();
        return false;
    }
    if (!apply(port, settings)) {
        failure->reason = port.errorString();
        port.close();
        return false;
    }
    return true;
}

void SystemSerialControl::closeDevice()
{
    m_device->port.close();
}

void SystemSerialControl::collectPending()
{
    QSerialPort &port = m_device->port;
    // What the terminal holds and Qt has not read yet; readyRead stays quiet meanwhile, as the
    // port is on its way to being closed. At 1200 baud a few reads take everything.
    const QSignalBlocker quiet(port);
    for (int read = 0; read < 8 && port.waitForReadyRead(0); ++read) {
    }
    receivedQuietly(port.readAll());
}

bool SystemSerialControl::configureDevice(const LineSettings &settings, QString *reason)
{
    if (apply(m_device->port, settings))
        return true;
    *reason = m_device->port.errorString();
    return false;
}

} // namespace tvx

#endif
