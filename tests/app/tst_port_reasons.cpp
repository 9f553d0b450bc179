// What the program writes on standard error when its serial port fails, line for line as the
// README's troubleshooting section promises: the port, its device and the system's reason.

#include "app/main_window.h"
#include "platform/serial/port_lock.h"
#include "platform/serial/serial_port.h"
#include "port/config_file.h"
#include "support/modal_watcher.h"
#include "support/pseudo_terminal.h"
#include "support/standard_error.h"
#include "support/system_fixtures.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace tvx;

namespace {

// The real serial control, with COM1 standing for the given device.
std::unique_ptr<SystemSerialControl> controlFor(const QString &device)
{
    auto comm = std::make_unique<SystemSerialControl>();
    comm->setDeviceResolver([device](qint16) { return device; });
    return comm;
}

} // namespace

class TestPortReasons : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void startupFailure_data();
    void startupFailure();
    void deviceLost();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestPortReasons::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    QVERIFY(configfile::write(1));
}

void TestPortReasons::cleanup()
{
    QDir::setCurrent(QDir::tempPath());
    m_dir.reset();
}

void TestPortReasons::startupFailure_data()
{
    QTest::addColumn<QString>("cause");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no such device") << "missing"
                                    << "No such file or directory";
    // The holder named as the system names it (at most 15 characters), with its lock file.
    QTest::newRow("port busy")
        << "busy"
        << QStringLiteral("in use by %1 (process %2, lock file /run/lock/LCK..{pts})")
               .arg(QFileInfo(QCoreApplication::applicationFilePath()).fileName().left(15))
               .arg(QCoreApplication::applicationPid());
    QTest::newRow("permission denied")
        << "forbidden"
        << QStringLiteral("Permission denied \u2014 is the user in the dialout group?");
}

void TestPortReasons::startupFailure()
{
    QFETCH(QString, cause);
    QFETCH(QString, reason);
    test::PseudoTerminal pty;
    QVERIFY(pty.isValid());
    const QString device = cause == QLatin1String("missing")
                               ? QStringLiteral("/dev/tarvix-no-such-device")
                               : pty.slavePath();
    std::unique_ptr<SystemSerialControl> holder; // another program holding the port
    if (cause == QLatin1String("busy")) {
        holder = controlFor(device);
        QVERIFY2(holder->setPortOpen(true), qPrintable(holder->errorString()));
    }
    // An ordinary user, not in the terminal's group, may not open it.
    std::unique_ptr<test::OrdinaryUser> user;
    if (cause == QLatin1String("forbidden")) {
        QVERIFY(QFile::setPermissions(m_dir->path(),
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                          QFileDevice::ExeOther));
        user = std::make_unique<test::OrdinaryUser>();
        if (!user->active())
            QSKIP("cannot run as an ordinary user here, and root opens every device");
    }

    MainWindow window(controlFor(device));
    test::ModalWatcher boxes;
    QStringList lines;
    {
        test::StandardError standardError;
        window.start();
        lines = standardError.lines();
    }
    user.reset();
    QCOMPARE(boxes.boxes().size(), 1);
    QCOMPARE(boxes.boxes().first().title, QStringLiteral("File Error"));
    reason.replace(QStringLiteral("{pts}"), lockFileName(device).mid(5));
    QCOMPARE(lines, QStringList(QStringLiteral("COM1 (%1): %2").arg(device, reason)));
}

void TestPortReasons::deviceLost()
{
    test::PseudoTerminal pty;
    QVERIFY(pty.isValid());
    MainWindow window(controlFor(pty.slavePath()));
    window.start();
    QVERIFY(window.comm().portOpen());
    test::StandardError standardError;
    pty.closeMaster(); // the line hung up
    QTRY_VERIFY(!window.comm().portOpen());
    // The loss, naming the port, in one wording whatever error the system happened to report;
    // then, as the terminal's name may go to anyone's next terminal, that it stays closed.
    QTRY_COMPARE(
        standardError.lines(),
        QStringList({QStringLiteral("COM1 (%1): the device was removed or hung up"),
                     QStringLiteral("COM1 (%1) will not be reopened by itself: nothing tells "
                                    "whether a device that appears there is the same one "
                                    "(Option > Serial Port Selection > Ok reopens it)")})
            .replaceInStrings(QStringLiteral("%1"), pty.slavePath()));
}

QTEST_MAIN(TestPortReasons)
#include "tst_port_reasons.moc"
