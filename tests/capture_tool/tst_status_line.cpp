// What tarvix-capture writes on standard error in each of its three modes, byte for byte.

#include "capture_tool/status_line.h"

#include <QTest>

using namespace tvx;

class TestStatusLine : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void writes_data();
    void writes();
};

namespace {

// A script of calls: "show:text", "finish:text", "error:text", "close".
QByteArray play(StatusLine::Mode mode, const QStringList &calls)
{
    QByteArray written;
    StatusLine line(mode, [&written](const QByteArray &bytes) { written += bytes; });
    for (const QString &call : calls) {
        const QString verb = call.section(QLatin1Char(':'), 0, 0);
        const QString text = call.section(QLatin1Char(':'), 1);
        if (verb == QLatin1String("show"))
            line.show(text);
        else if (verb == QLatin1String("finish"))
            line.finish(text);
        else if (verb == QLatin1String("error"))
            line.error(text);
        else
            line.close();
    }
    return written;
}

} // namespace

void TestStatusLine::writes_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QByteArray>("expected");

    const int live = int(StatusLine::Mode::Live);
    const int final = int(StatusLine::Mode::Final);
    const int quiet = int(StatusLine::Mode::Quiet);
    const QStringList capture{QStringLiteral("show:waiting"), QStringLiteral("show:5 bytes"),
                              QStringLiteral("finish:7 bytes, written"),
                              QStringLiteral("show:waiting")};

    // On a terminal the line is rewritten in place and kept once the capture ends.
    QTest::newRow("live capture")
        << live << capture
        << QByteArray("\r\x1b[Kwaiting\r\x1b[K5 bytes\r\x1b[K7 bytes, written\n\r\x1b[Kwaiting");

    // An error ends an open live line first, so that both stay readable.
    const QStringList failing{QStringLiteral("show:waiting"), QStringLiteral("error:no port"),
                              QStringLiteral("close")};
    QTest::newRow("live error") << live << failing
                                << QByteArray("\r\x1b[Kwaiting\ntarvix-capture: no port\n");
    QTest::newRow("quiet error") << quiet << failing << QByteArray("tarvix-capture: no port\n");

    QTest::newRow("live: the same text is written once")
        << live
        << QStringList{QStringLiteral("show:5 bytes"), QStringLiteral("show:5 bytes"),
                       QStringLiteral("show:6 bytes"), QStringLiteral("show:5 bytes")}
        << QByteArray("\r\x1b[K5 bytes\r\x1b[K6 bytes\r\x1b[K5 bytes");
    QTest::newRow("live: the same text again on a new line")
        << live
        << QStringList{QStringLiteral("show:waiting"), QStringLiteral("finish:done"),
                       QStringLiteral("show:waiting")}
        << QByteArray("\r\x1b[Kwaiting\r\x1b[Kdone\n\r\x1b[Kwaiting");
    QTest::newRow("live close ends the line")
        << live << QStringList{QStringLiteral("show:waiting"), QStringLiteral("close")}
        << QByteArray("\r\x1b[Kwaiting\n");
    QTest::newRow("UTF-8") << final << QStringList{QStringLiteral("error:busy \u2014 in use?")}
                           << QByteArray("tarvix-capture: busy \xe2\x80\x94 in use?\n");
}

void TestStatusLine::writes()
{
    QFETCH(int, mode);
    QFETCH(QStringList, calls);
    QFETCH(QByteArray, expected);
    QCOMPARE(play(StatusLine::Mode(mode), calls), expected);
}

QTEST_GUILESS_MAIN(TestStatusLine)
#include "tst_status_line.moc"
