#pragma once

#include "device_identity.h"
#include "port_map.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace tvx {

// Line settings in the serial control's notation, for example "1200,N,8,1".
struct LineSettings {
    qint32 baud = 1200;
    char parity = 'N'; // N, E, O, M or S
    int dataBits = 8;  // 5 to 8
    int stopBits = 1;  // 1 or 2

    static std::optional<LineSettings> parse(const QString &text);
    QString toString() const;
    bool operator==(const LineSettings &other) const;
};

// The device a name leads to, every link followed; the name itself when it leads nowhere.
QString realDeviceOf(const QString &device);

// What a user is told of a device that went away while open: one wording whatever error the
// system happened to report last, with the system's words after it only when they say more.
QString lostDeviceReason(const QString &systemWords);

// The serial communications control: the property set the program relies on, over a device
// supplied by a subclass. Every access reports failure to its caller (false or an empty
// optional, with errorString()), never by throwing.
//
// The receive buffer has no size limit of its own: received bytes wait here until Input takes
// them, however long the reader is busy, so no reading is ever dropped for lack of room.
class SerialControl : public QObject {
    Q_OBJECT
public:
    static constexpr qint16 EventReceive = 2;

    // Why an opening failed, as a user can act on it.
    struct OpenFailure {
        enum Kind {
            NoDevice,   // no serial port stands behind the port number
            Permission, // the user may not open the device (the dialout group)
            Busy,       // another program holds the port (the reason names it where it can)
            StaleLock,  // a lock file of a program that has ended, which cannot be removed
            Other,
        };
        Kind kind = Other;
        QString reason; // the system's words ("Permission denied")
    };

    explicit SerialControl(QObject *parent = nullptr);
    ~SerialControl() override;

    qint16 commPort() const { return m_port; }
    bool setCommPort(qint16 port);

    QString settings() const { return m_settings.toString(); }
    bool setSettings(const QString &settings);

    bool portOpen() const { return m_open; }
    bool setPortOpen(bool open);

    qint16 rThreshold() const { return m_rThreshold; }
    bool setRThreshold(qint16 threshold);

    qint16 inputLen() const { return m_inputLen; }
    bool setInputLen(qint16 length);

    // Waiting characters as a 16-bit count (at most 32767 however many wait).
    std::optional<qint16> inBufferCount();
    // Takes InputLen waiting characters (all of them when InputLen is 0).
    std::optional<QByteArray> input();

    qint16 commEvent() const { return m_commEvent; }
    QString errorString() const { return m_error; }

    // The device behind the open port, for messages ("/dev/ttyS0").
    QString deviceName() const { return m_device; }
    // Whether the port is open on this device: by the same name, or by another that leads to
    // the same real device.
    bool isOpenOn(const QString &device) const;

    // Gives the open port another number that stands for the device it is open on (the device
    // as deviceFor(port) names it): only the number, and so how messages name the port,
    // changes; the device, its lock, what waits and the threshold stay. False when the port is
    // closed or open on another device.
    bool renumber(qint16 port, const QString &device);

    // What port numbers stand for on this machine, asked afresh each time: adapters come and go.
    PortMap portMap() const { return PortMap(presentPorts(), portNaming()); }

    // Which device an opening uses for a port number: portMap()'s unless another is set (a
    // program given a device path rather than a port number). Empty: no device.
    using DeviceResolver = std::function<QString(qint16 port)>;
    void setDeviceResolver(DeviceResolver resolver) { m_resolver = std::move(resolver); }
    QString deviceFor(qint16 port) const;

    // How messages name the open port: "COM1 (/dev/ttyUSB0)", unless a name is set here (a
    // device given by its path has no number of its own, and is named as the user gave it).
    void setPortName(const QString &name) { m_name = name; }
    QString portName() const { return nameOf(m_device); }

    // Why the last opening failed; meaningful after setPortOpen(true) returned false.
    const OpenFailure &openFailure() const { return m_openFailure; }

    // Why the open port has no lock file that other programs see; empty when it has one.
    QString lockNote() const { return m_lockNote; }
    // Why no port can have such a lock file on this machine now; empty when one can.
    virtual QString lockFolderNote() const { return QString(); }

    // What tells the device now at this name from another that may take the name later.
    virtual DeviceIdentity deviceIdentity(const QString &device) const = 0;
    // The identity of the device the port last opened on, read as it opened: once it is lost
    // its node, and what the system knows of it, are usually gone. Kept after the port closes.
    const DeviceIdentity &openedIdentity() const { return m_openedIdentity; }

Q_SIGNALS:
    // The receive notification: raised while the port is open, the threshold is not 0 and at
    // least that many characters wait.
    void onComm();
    // The device went away while open (unplugged adapter, closed pseudo-terminal); the port is
    // closed already.
    void deviceLost(const QString &reason);
    // The port is about to be closed with characters still waiting: the last moment to take
    // them, as closing discards them.
    void aboutToClose();

protected:
    // The serial ports the machine has.
    virtual QList<SerialDevice> presentPorts() const = 0;
    // How its port numbers are named: the way of the system the program runs on.
    virtual PortMap::Naming portNaming() const { return PortMap::systemNaming(); }
    // What a concrete device does; each returns false with a reason on failure.
    virtual bool openDevice(const QString &device, const LineSettings &settings,
                            OpenFailure *failure) = 0;
    virtual void closeDevice() = 0;
    // Hands over what the device has received and not yet reported, without a notification;
    // called before it is closed, and for the count while notifications are off.
    virtual void collectPending() {}
    virtual bool configureDevice(const LineSettings &settings, QString *reason) = 0;

    // Called by the device with bytes it received, in order.
    void received(const QByteArray &bytes);
    // The same without the receive notification.
    void receivedQuietly(const QByteArray &bytes) { m_buffer.append(bytes); }
    // Called by the device when it is gone; what was received before stays readable.
    void lost(const QString &reason);
    // Raises the notification for an event other than received characters.
    void raiseEvent(qint16 event);
    // Called by the device while it opens when it holds the port without a lock file.
    void noteNoLockFile(const QString &note) { m_lockNote = note; }

private:
    bool fail(const QString &reason);
    QString nameOf(const QString &device) const;
    bool requireClosed(const char *property);

    qint16 m_port = 1;
    LineSettings m_settings;
    QString m_device;
    QString m_name;
    QString m_realDevice; // m_device with every link followed
    DeviceIdentity m_openedIdentity;
    DeviceResolver m_resolver;
    OpenFailure m_openFailure;
    bool m_open = false;
    qint16 m_rThreshold = 0;
    qint16 m_inputLen = 0;
    qint16 m_commEvent = 0;
    QByteArray m_buffer;
    QString m_error;
    QString m_lockNote;
};

// The control over a real serial port. On Unix the device is held the way serial programs
// agree on: a lock file in the system's lock folder (honoured in every form other programs
// write, and written in the common one), flock() on the open device and the terminal's
// exclusive mode. Without a writable lock folder the port is still held by the last two.
class SystemSerialControl final : public SerialControl {
    Q_OBJECT
public:
    explicit SystemSerialControl(QObject *parent = nullptr);
    ~SystemSerialControl() override;

    QString lockFolderNote() const override;
    // On Unix as sysfs tells it (device_identity.cpp); on Windows as the port's enumeration does.
    DeviceIdentity deviceIdentity(const QString &device) const override;

protected:
    QList<SerialDevice> presentPorts() const override { return systemSerialPorts(); }
    bool openDevice(const QString &device, const LineSettings &settings,
                    OpenFailure *failure) override;
    void closeDevice() override;
    bool configureDevice(const LineSettings &settings, QString *reason) override;
    void collectPending() override;

private:
    struct Device;
    void readDevice();
    std::unique_ptr<Device> m_device;
};

} // namespace tvx
