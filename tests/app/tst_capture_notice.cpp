// What a screen reader user is told of a capture, as the toolkit's accessibility hands it on:
// the notice's words once when a capture begins, whatever the notice's flashing, and the count of
// lines when it ends. Accessibility is on only with a session's accessibility bus, so the suite
// runs on a desktop of its own (tests/reading/desktop_session.sh).

#include "app/capture.h"
#include "app/main_window.h"
#include "app/spoken_notice.h"
#include "port/config_file.h"
#include "support/fake_serial_control.h"

#include <QAccessible>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace tvx;

namespace {

// What notifications were presented, and how often the notice button came to show.
QStringList said;
int flashes = 0;

void listen(QAccessibleEvent *event)
{
    if (event->type() != QAccessible::ObjectShow)
        return;
    QAccessibleInterface *shown = event->accessibleInterface();
    if (shown && shown->role() == QAccessible::Notification)
        said << shown->text(QAccessible::Name);
    else if (event->object() && event->object()->objectName() == QLatin1String("cmdcap"))
        ++flashes;
}

} // namespace

class TestCaptureNotice : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void told_data();
    void told();
};

void TestCaptureNotice::initTestCase()
{
    QTRY_VERIFY_WITH_TIMEOUT(QAccessible::isActive(), 15000);
    QAccessible::installUpdateHandler(listen);
}

void TestCaptureNotice::told_data()
{
    QTest::addColumn<QByteArrayList>("blocks"); // sent a second apart
    QTest::addColumn<QString>("end");
    QByteArray readings;
    for (int i = 1; i <= 40; ++i)
        readings += " " + QByteArray::number(i) + "     23.22\r\n";
    QTest::newRow("40 readings") << QByteArrayList{readings} << "40 lines received";
    QTest::newRow("a last line without its break")
        << QByteArrayList{"a\r\nb"} << "2 lines received";
    QTest::newRow("one line") << QByteArrayList{"001"} << "1 line received";
    QTest::newRow("LF, CR and an empty line")
        << QByteArrayList{"a\nb\r\r\nc\n"} << "4 lines received";
    // The notice flashes meanwhile; it is told once all the same.
    QTest::newRow("over several flashes")
        << QByteArrayList{readings.left(40), readings.mid(40, 40), readings.mid(80)}
        << "40 lines received";
}

void TestCaptureNotice::told()
{
    QFETCH(QByteArrayList, blocks);
    QFETCH(QString, end);
    QTemporaryDir dir;
    QVERIFY(QDir::setCurrent(dir.path()));
    QVERIFY(configfile::write(1));
    auto comm = std::make_unique<test::FakeSerialControl>();
    test::FakeSerialControl *line = comm.get();
    MainWindow main(std::move(comm));
    main.start();
    said.clear();
    flashes = 0;
    for (const QByteArray &block : blocks) {
        line->feed(block);
        if (block != blocks.last())
            QTest::qWait(1000);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!main.capturing(), 10000);
    QTRY_COMPARE(said, (QStringList{QStringLiteral("DATA CAPTURING WAIT"), end}));
    QVERIFY(flashes >= (blocks.size() > 1 ? 3 : 1));
    QVERIFY(!main.findChild<SpokenNotice *>()->isVisible()); // nothing shows of it
    QDir::setCurrent(QDir::tempPath());
}

QTEST_MAIN(TestCaptureNotice)
#include "tst_capture_notice.moc"
