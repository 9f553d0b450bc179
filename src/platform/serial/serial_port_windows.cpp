// The serial port on Windows, through the toolkit's serial port: a COM port opens for one
// program at a time, so no lock file is kept.

#include "serial_port.h"

#ifdef Q_OS_WIN

#include "bounded_call.h"

#include <QSerialPort>
#include <QSerialPortInfo>
#include <QSignalBlocker>

#include <memory>

#include <windows.h>

namespace tvx {

namespace {

// How long the wait for received characters may take to be set up; Windows does it at once.
constexpr std::chrono::milliseconds CommWaitLimit{1500};

// QSerialPort waits for received characters with an overlapped WaitCommEvent that has no event
// handle of its own (it completes through an I/O completion port), set up inside open() and
// again after each event. Windows returns such a call at once, as pending. Wine 8 does not: it
// returns only when an event has come, so on a serial port where nothing ever arrives (a UART
// with no cable, a ttyS node with no UART behind it that COMn is linked to) open() never
// returns, and the program hangs before it shows a window. The same call is tried here first,
// on a thread of its own: if it has not returned within the limit, changing the event mask
// ends it (as on Windows) and the port is refused with a reason. Empty when the port may go to
// QSerialPort; a port that does not open at all is left to QSerialPort to report.
QString commWaitBlocks(const QString &device)
{
    // COMn as a device name; a name given whole (TARVIX_COM<n>=\\.\COM12) is taken as it is.
    const QString name =
        device.startsWith(QLatin1String("\\\\")) ? device : QStringLiteral("\\\\.\\") + device;
    const std::wstring path = name.toStdWString();
    struct Probe {
        HANDLE handle = INVALID_HANDLE_VALUE;
        OVERLAPPED overlapped{};
        DWORD events = 0;
        ~Probe()
        {
            if (handle != INVALID_HANDLE_VALUE)
                CloseHandle(handle);
        }
    };
    auto probe = std::make_shared<Probe>();
    probe->handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (probe->handle == INVALID_HANDLE_VALUE || !SetCommMask(probe->handle, EV_RXCHAR))
        return QString();
    const HANDLE handle = probe->handle;
    const bool answered = callWithin(
        [probe] {
            if (!WaitCommEvent(probe->handle, &probe->events, &probe->overlapped) &&
                GetLastError() == ERROR_IO_PENDING) {
                // Pending, as it should be: end it before the handle closes.
                CancelIo(probe->handle);
                DWORD ignored = 0;
                GetOverlappedResult(probe->handle, &probe->overlapped, &ignored, TRUE);
            }
        },
        CommWaitLimit, [handle] { SetCommMask(handle, 0); });
    if (answered)
        return QString();
    return QStringLiteral("the port does not answer: its driver does not let the program wait "
                          "for received characters (is there a UART behind %1?)")
        .arg(device);
}

} // namespace

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

DeviceIdentity SystemSerialControl::deviceIdentity(const QString &device) const
{
    // What the enumeration says of the port: an adapter's vendor, product and serial number,
    // nothing of a port of the machine's own.
    const QSerialPortInfo info(device);
    if (info.isNull())
        return {};
    if (!info.hasVendorIdentifier() || !info.hasProductIdentifier())
        return DeviceIdentity::fixed(info.systemLocation());
    const auto hex = [](quint16 id) {
        return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0'));
    };
    return DeviceIdentity::usb(hex(info.vendorIdentifier()), hex(info.productIdentifier()),
                               info.serialNumber(), QString());
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
    const QString blocks = commWaitBlocks(device);
    if (!blocks.isEmpty()) {
        failure->kind = OpenFailure::Other;
        failure->reason = blocks;
        return false;
    }
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
