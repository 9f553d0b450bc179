// The capture station's systemd unit: its command line, run as systemd would run it for a
// device, captures the simulated instrument into the state directory byte for byte; and
// systemd itself accepts the unit and rates its exposure as safe.

#include "files/reading_file.h"
#include "support/file_bytes.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace tvx;

namespace {

const double MaxExposure = 1.0;

// The value of the unit's first line that starts with key ("ExecStart="), or nothing.
QString setting(const QByteArray &unit, const QByteArray &key)
{
    for (const QByteArray &line : unit.split('\n')) {
        if (line.startsWith(key))
            return QString::fromUtf8(line.mid(key.size()));
    }
    return QString();
}

QString execStart(const QByteArray &unit)
{
    return setting(unit, "ExecStart=");
}

// The unit with its program replaced by the one just built.
QByteArray withBuiltProgram(QByteArray unit)
{
    const QString program = execStart(unit).section(QLatin1Char(' '), 0, 0);
    return unit.replace(program.toUtf8(), TARVIX_CAPTURE);
}

QByteArray everyByteValue()
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(char(i));
    return bytes;
}

} // namespace

class TestCaptureService : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void commandLineCapturesIntoTheStateDirectory();
    void systemdAcceptsTheUnit();
};

void TestCaptureService::commandLineCapturesIntoTheStateDirectory()
{
    const QByteArray unit = test::fileContent(QStringLiteral(TARVIX_UNIT));
    QString command = execStart(unit);
    QVERIFY2(command.startsWith(QStringLiteral(TARVIX_BINDIR "/tarvix-capture ")),
             qPrintable(command));
    QTemporaryDir dir;
    const QByteArray sent = everyByteValue() + "TARVIX-1M\r\n 001     23.17\r\n";
    QVERIFY(test::writeFile(dir.filePath(QStringLiteral("sent.bin")), sent));
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QStringLiteral(TARVIX_SIM),
              {QStringLiteral("--file"), dir.filePath(QStringLiteral("sent.bin")),
               QStringLiteral("--delay"), QStringLiteral("300"), QStringLiteral("--fast")});
    QVERIFY(sim.waitForStarted() && sim.waitForReadyRead(5000));
    const QString device = QString::fromLocal8Bit(sim.readLine().trimmed()); // /dev/pts/N

    // What systemd puts in for the instance dev-pts-N: %I the device path without its first
    // slash, the state directory in the environment.
    const QString instance = device.mid(1).replace(QLatin1Char('/'), QLatin1Char('-'));
    const QString state = dir.filePath(instance);
    QVERIFY(QDir().mkdir(state));
    command.replace(QStringLiteral("%I"), device.mid(1))
        .replace(QStringLiteral("%i"), instance)
        .replace(QStringLiteral("${STATE_DIRECTORY}"), state);
    QStringList words = command.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    // The journal folder ("%S/..."), where what could not be written goes, is one of the state
    // directories: under ProtectSystem=strict the station may write no other.
    QString journal =
        setting(unit, "Environment=XDG_STATE_HOME=").replace(QStringLiteral("%i"), instance);
    QVERIFY2(setting(unit, "StateDirectory=")
                 .replace(QStringLiteral("%i"), instance)
                 .split(QLatin1Char(' '))
                 .contains(journal.mid(3)),
             qPrintable(journal));
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_STATE_HOME"), journal.replace(QStringLiteral("%S"), dir.path()));
    tool.setProcessEnvironment(env);
    tool.start(QStringLiteral(TARVIX_CAPTURE), words.mid(1));
    QVERIFY(tool.waitForStarted());
    QStringList files;
    for (int i = 0; i < 100 && files.isEmpty(); ++i) {
        QTest::qWait(100);
        files = QDir(state).entryList({QStringLiteral("readings-*.dat")}, QDir::Files);
    }
    // The station waits for the next transmission until systemd stops it.
    QCOMPARE(tool.state(), QProcess::Running);
    ::kill(pid_t(tool.processId()), SIGTERM);
    QVERIFY(tool.waitForFinished(5000));
    sim.terminate();
    sim.waitForFinished(3000);
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), 0);
    QCOMPARE(tool.readAllStandardError(), QByteArray()); // --quiet: errors only
    QCOMPARE(files.size(), 1);
    QCOMPARE(test::fileContent(state + QLatin1Char('/') + files.first()),
             readingfile::format(sent));
}

void TestCaptureService::systemdAcceptsTheUnit()
{
    const QString analyze = QStandardPaths::findExecutable(QStringLiteral("systemd-analyze"));
    if (analyze.isEmpty())
        QSKIP("systemd-analyze is missing: the unit is not checked by systemd here");
    QTemporaryDir dir;
    // An instance of the template, with a program that exists, and the manual page that its
    // Documentation= names where man finds it.
    const QString instance = dir.filePath(QStringLiteral("tarvix-capture@dev-ttyS0.service"));
    QVERIFY(test::writeFile(instance,
                            withBuiltProgram(test::fileContent(QStringLiteral(TARVIX_UNIT)))));
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("man/man1"))));
    QVERIFY(QFile::copy(QStringLiteral(TARVIX_MANPAGE),
                        dir.filePath(QStringLiteral("man/man1/tarvix-capture.1"))));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MANPATH"), dir.filePath(QStringLiteral("man")));
    env.insert(QStringLiteral("SYSTEMD_COLORS"), QStringLiteral("0"));

    QProcess verify;
    verify.setProcessEnvironment(env);
    verify.setProcessChannelMode(QProcess::MergedChannels);
    // Without man, verify could not look the manual page up; it then leaves it out.
    const bool man = !QStandardPaths::findExecutable(QStringLiteral("man")).isEmpty();
    verify.start(analyze,
                 {QStringLiteral("verify"),
                  man ? QStringLiteral("--man=yes") : QStringLiteral("--man=no"), instance});
    QVERIFY(verify.waitForFinished(60000));
    QVERIFY2(verify.exitCode() == 0, verify.readAll().constData());
    QCOMPARE(verify.readAll(), QByteArray());

    QProcess security;
    security.setProcessEnvironment(env);
    security.start(analyze, {QStringLiteral("security"), QStringLiteral("--offline=yes"),
                             QStringLiteral("--no-pager"), instance});
    QVERIFY(security.waitForFinished(60000));
    const QString report = QString::fromUtf8(security.readAllStandardOutput());
    const QRegularExpressionMatch overall =
        QRegularExpression(QStringLiteral("Overall exposure level for [^:]+: (\\d+\\.\\d)"))
            .match(report);
    QVERIFY2(overall.hasMatch(), qPrintable(report));
    const double exposure = overall.captured(1).toDouble();
    qInfo("exposure %.1f", exposure);
    QVERIFY2(exposure <= MaxExposure, qPrintable(report));
}

QTEST_GUILESS_MAIN(TestCaptureService)
#include "tst_capture_service.moc"
