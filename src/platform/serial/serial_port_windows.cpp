// The serial port on Windows, straight on the COM device as the Unix half is on the terminal: a
// COM port opens for one program at a time, so no lock file is kept.
//
// The toolkit's serial port learns that its wait for received characters has ended only through
// an I/O completion port. Wine never posts that packet (it sets the wait's event, when the wait
// has one, and nothing else), so under Wine that port read nothing at all. Here the wait has an
// event of its own, which the event loop watches.

#include "serial_port.h"

#ifdef Q_OS_WIN

#include "bounded_call.h"
#include "port_claim.h"

#include <QSerialPortInfo>
#include <QTimer>
#include <QWinEventNotifier>

#include <memory>

#include <windows.h>

namespace tvx {

namespace {

// How long a driver may take to open the port and start a wait for received characters;
// Windows does both at once.
constexpr std::chrono::milliseconds DriverLimit{1500};
// The most taken in one read.
constexpr DWORD ReadBlock = 65536;
// How often the driver's queue is looked at besides the wait: Wine, on a loaded machine, now and
// then never ends a wait although characters keep coming, and the port would hear nothing
// more. A transmission's first characters are then noticed this much later, none lost.
constexpr std::chrono::milliseconds QueueCheck{250};

// Windows's own words for an error, without the line end it gives them.
QString systemWords(DWORD error)
{
    wchar_t *text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    QString words = length > 0 ? QString::fromWCharArray(text, int(length)).trimmed()
                               : QStringLiteral("error %1").arg(error);
    LocalFree(text);
    return words;
}

// The errors a COM port gives when its device has gone (a USB adapter unplugged, a driver
// unloaded): they say nothing more than that, whichever one the driver picked.
bool saysDeviceGone(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_NOT_READY:
    case ERROR_GEN_FAILURE:
    case ERROR_OPERATION_ABORTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_INVALID_HANDLE:
    case ERROR_FILE_NOT_FOUND:
        return true;
    default:
        return false;
    }
}

// COMn as a device name; a name given whole (TARVIX_COM<n>=\\.\COM12) is taken as it is.
std::wstring devicePathOf(const QString &device)
{
    const QString name =
        device.startsWith(QLatin1String("\\\\")) ? device : QStringLiteral("\\\\.\\") + device;
    return name.toStdWString();
}

// The line at the settings, raw: no flow control of either kind, no character replaced or
// dropped, DTR and RTS up as a terminal raises them; reads return at once with what waits.
DWORD configure(HANDLE handle, const LineSettings &s)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb))
        return GetLastError();
    dcb.BaudRate = DWORD(s.baud);
    dcb.ByteSize = BYTE(s.dataBits);
    dcb.StopBits = s.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    switch (s.parity) {
    case 'E':
        dcb.Parity = EVENPARITY;
        break;
    case 'O':
        dcb.Parity = ODDPARITY;
        break;
    case 'M':
        dcb.Parity = MARKPARITY;
        break;
    case 'S':
        dcb.Parity = SPACEPARITY;
        break;
    default:
        dcb.Parity = NOPARITY;
        break;
    }
    dcb.fParity = dcb.Parity != NOPARITY;
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(handle, &dcb))
        return GetLastError();
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    if (!SetCommTimeouts(handle, &timeouts))
        return GetLastError();
    return ERROR_SUCCESS;
}

// A wait for received characters and what it reports. It lives as long as the driver may
// still write into it: beyond the port when a driver never ends a wait.
struct CommWait {
    OVERLAPPED overlapped{};
    DWORD events = 0;
    CommWait() { overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~CommWait()
    {
        if (overlapped.hEvent)
            CloseHandle(overlapped.hEvent);
    }
    CommWait(const CommWait &) = delete;
    CommWait &operator=(const CommWait &) = delete;
};

// Starts the wait; ERROR_SUCCESS once it is under way or over, the event then set either way.
DWORD startWait(HANDLE handle, CommWait &wait)
{
    ResetEvent(wait.overlapped.hEvent);
    wait.events = 0;
    if (WaitCommEvent(handle, &wait.events, &wait.overlapped)) {
        SetEvent(wait.overlapped.hEvent);
        return ERROR_SUCCESS;
    }
    const DWORD error = GetLastError();
    return error == ERROR_IO_PENDING ? ERROR_SUCCESS : error;
}

// Ends a wait under way, as changing the event mask does; false when the driver has not let
// it go within the limit (the wait must then be left to live).
bool endWait(HANDLE handle, CommWait &wait)
{
    SetCommMask(handle, 0);
    if (WaitForSingleObject(wait.overlapped.hEvent, DWORD(DriverLimit.count())) != WAIT_OBJECT_0) {
        CancelIoEx(handle, &wait.overlapped);
        if (WaitForSingleObject(wait.overlapped.hEvent, DWORD(DriverLimit.count())) !=
            WAIT_OBJECT_0)
            return false;
    }
    DWORD ignored = 0;
    GetOverlappedResult(handle, &wait.overlapped, &ignored, FALSE);
    return true;
}

// The opening as far as the driver takes part in it: the device, its line, and a first wait
// for received characters, ended again. Run on a thread of its own, and shared with it: a
// driver that never answers leaves the thread, and what it works on, to themselves.
struct Opening {
    HANDLE handle = INVALID_HANDLE_VALUE;
    DWORD openError = ERROR_SUCCESS;   // CreateFile's
    DWORD configError = ERROR_SUCCESS; // the line's, or the wait's
    bool done = false;
    CommWait wait;

    ~Opening()
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }

    void run(const std::wstring &path, const LineSettings &settings)
    {
        handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            openError = GetLastError();
            done = true;
            return;
        }
        configError = configure(handle, settings);
        if (configError == ERROR_SUCCESS && !SetCommMask(handle, EV_RXCHAR))
            configError = GetLastError();
        // A wait started by this thread would end with it: tried, then ended again.
        if (configError == ERROR_SUCCESS)
            configError = startWait(handle, wait);
        if (configError == ERROR_SUCCESS && !endWait(handle, wait))
            return;
        if (configError == ERROR_SUCCESS && !SetCommMask(handle, EV_RXCHAR))
            configError = GetLastError();
        done = true;
    }
};

} // namespace

struct SystemSerialControl::Device {
    PortClaim claim;
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::shared_ptr<CommWait> wait;
    HANDLE readEvent = nullptr;
    QWinEventNotifier *notifier = nullptr; // a child of the control
    QTimer *queueCheck = nullptr;          // likewise
    bool waiting = false;                  // a wait is under way
    quint64 openings = 0; // tells a reader whether the device it read from is still the one open

    // Appends what the driver says is waiting; ERROR_SUCCESS, or the error that ended it.
    DWORD readWaiting(QByteArray *bytes)
    {
        // At 1200 baud a few rounds take everything, however fast bytes come meanwhile.
        for (int round = 0; round < 16; ++round) {
            DWORD errors = 0;
            COMSTAT status{};
            if (!ClearCommError(handle, &errors, &status))
                return GetLastError();
            if (status.cbInQue == 0)
                return ERROR_SUCCESS;
            const DWORD wanted = qMin(status.cbInQue, ReadBlock);
            const qsizetype at = bytes->size();
            bytes->resize(at + qsizetype(wanted));
            OVERLAPPED overlapped{};
            overlapped.hEvent = readEvent;
            DWORD got = 0;
            if (!ReadFile(handle, bytes->data() + at, wanted, &got, &overlapped)) {
                const DWORD error = GetLastError();
                // The timeouts make a read return at once with what waits.
                if (error != ERROR_IO_PENDING ||
                    !GetOverlappedResult(handle, &overlapped, &got, TRUE)) {
                    bytes->resize(at);
                    return error == ERROR_IO_PENDING ? GetLastError() : error;
                }
            }
            bytes->resize(at + qsizetype(got));
            if (got == 0)
                return ERROR_SUCCESS;
        }
        return ERROR_SUCCESS;
    }
};

SystemSerialControl::SystemSerialControl(QObject *parent)
    : SerialControl(parent), m_device(std::make_unique<Device>())
{
}

// A control that goes while its port is open (the program ends, a window is discarded) lets
// go of the device.
SystemSerialControl::~SystemSerialControl()
{
    closeDevice();
}

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

bool SystemSerialControl::openDevice(const QString &device, const LineSettings &settings,
                                     OpenFailure *failure)
{
    // Another Tarvix program that has the port is named; any other program is refused by
    // Windows itself when the device opens.
    QString holder;
    if (!m_device->claim.claim(device, &holder)) {
        failure->kind = OpenFailure::Busy;
        failure->reason = QStringLiteral("in use by %1").arg(holder);
        return false;
    }
    const auto refuse = [&](OpenFailure::Kind kind, const QString &reason) {
        m_device->claim.release();
        failure->kind = kind;
        failure->reason = reason;
        return false;
    };
    // Each call that reaches the driver may wait for ever on a driver that never answers (Wine
    // 8 waited so on a COM port linked to a ttyS node with no UART behind it): the program goes
    // on after the limit, and the port is refused.
    const auto opening = std::make_shared<Opening>();
    const std::wstring path = devicePathOf(device);
    const bool answered =
        callWithin([opening, path, settings] { opening->run(path, settings); }, DriverLimit,
                   [opening] {
                       if (opening->handle != INVALID_HANDLE_VALUE) {
                           SetCommMask(opening->handle, 0);
                           CancelIoEx(opening->handle, nullptr);
                       }
                   });
    if (!answered || !opening->done) {
        return refuse(OpenFailure::Other,
                      QStringLiteral("the port does not answer: its driver does not let the "
                                     "program wait for received characters (is there a UART "
                                     "behind %1?)")
                          .arg(device));
    }
    if (opening->openError != ERROR_SUCCESS) {
        const DWORD error = opening->openError;
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return refuse(OpenFailure::Other, QStringLiteral("no such port"));
        // Windows opens a COM port for one program at a time, and names no holder.
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
            return refuse(OpenFailure::Busy,
                          QStringLiteral("in use by another program (%1)").arg(systemWords(error)));
        }
        return refuse(OpenFailure::Other, systemWords(error));
    }
    // The opening closes the device.
    if (opening->configError != ERROR_SUCCESS)
        return refuse(OpenFailure::Other, systemWords(opening->configError));

    Device &d = *m_device;
    d.handle = std::exchange(opening->handle, INVALID_HANDLE_VALUE);
    d.wait = std::make_shared<CommWait>();
    d.readEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ++d.openings;
    d.notifier = new QWinEventNotifier(d.wait->overlapped.hEvent, this);
    connect(d.notifier, &QWinEventNotifier::activated, this, &SystemSerialControl::readDevice);
    d.queueCheck = new QTimer(this);
    d.queueCheck->setInterval(QueueCheck);
    connect(d.queueCheck, &QTimer::timeout, this, &SystemSerialControl::readDevice);
    d.queueCheck->start();
    const DWORD error = startWait(d.handle, *d.wait);
    if (error != ERROR_SUCCESS) {
        closeDevice();
        failure->kind = OpenFailure::Other;
        failure->reason = systemWords(error);
        return false;
    }
    d.waiting = true;
    return true;
}

// Runs when the wait ends, and at every look at the queue while it is under way; the wait may
// then still end later, to find the queue read or the device gone.
void SystemSerialControl::readDevice()
{
    Device &d = *m_device;
    if (d.handle == INVALID_HANDLE_VALUE || !d.waiting)
        return;
    DWORD ignored = 0;
    DWORD waitError = ERROR_SUCCESS;
    bool over = true;
    if (!GetOverlappedResult(d.handle, &d.wait->overlapped, &ignored, FALSE)) {
        waitError = GetLastError();
        over = waitError != ERROR_IO_INCOMPLETE;
    }
    if (!over) {
        // Nothing to do unless characters wait or the device has gone (the queue cannot be
        // asked for: a hung-up line under Wine, an unplugged adapter).
        DWORD errors = 0;
        COMSTAT status{};
        if (ClearCommError(d.handle, &errors, &status) && status.cbInQue == 0)
            return;
        waitError = ERROR_SUCCESS;
    }
    d.waiting = !over;
    QByteArray bytes;
    const DWORD readError = d.readWaiting(&bytes);
    // The receive notification may run a whole capture, during which this device can be
    // closed, or another one opened.
    const quint64 opening = d.openings;
    received(bytes);
    if (d.openings != opening || d.handle == INVALID_HANDLE_VALUE)
        return;
    // A wait ends in failure only when the device has gone: Windows ends it with mask 0,
    // without an error, for a change of the mask, which happens only when the port closes.
    DWORD error = readError != ERROR_SUCCESS ? readError : waitError;
    if (error == ERROR_SUCCESS && over) {
        error = startWait(d.handle, *d.wait);
        d.waiting = error == ERROR_SUCCESS;
    }
    if (error != ERROR_SUCCESS)
        lost(lostDeviceReason(saysDeviceGone(error) ? QString() : systemWords(error)));
}

void SystemSerialControl::closeDevice()
{
    Device &d = *m_device;
    if (d.handle == INVALID_HANDLE_VALUE)
        return;
    if (d.notifier) {
        d.notifier->setEnabled(false);
        d.notifier->deleteLater(); // it may be the one whose signal runs now
        d.notifier = nullptr;
    }
    if (d.queueCheck) {
        d.queueCheck->stop();
        d.queueCheck->deleteLater(); // likewise
        d.queueCheck = nullptr;
    }
    // A wait under way writes into its OVERLAPPED until it ends: one the driver does not let
    // go stays allocated for good.
    if (d.waiting && !endWait(d.handle, *d.wait))
        new std::shared_ptr<CommWait>(d.wait);
    d.waiting = false;
    d.wait.reset();
    CloseHandle(d.handle);
    d.handle = INVALID_HANDLE_VALUE;
    if (d.readEvent)
        CloseHandle(d.readEvent);
    d.readEvent = nullptr;
    d.claim.release(); // once the device is let go
    ++d.openings;
}

bool SystemSerialControl::configureDevice(const LineSettings &settings, QString *reason)
{
    const DWORD error = configure(m_device->handle, settings);
    if (error == ERROR_SUCCESS)
        return true;
    *reason = systemWords(error);
    return false;
}

void SystemSerialControl::collectPending()
{
    // What the driver holds and nobody has read yet; the port is on its way to being closed,
    // so it comes without a notification.
    if (m_device->handle == INVALID_HANDLE_VALUE)
        return;
    QByteArray bytes;
    m_device->readWaiting(&bytes);
    receivedQuietly(bytes);
}

} // namespace tvx

#endif
