#include "files/join_path.h"

#include <QTest>

using namespace tvx;

class JoinPathTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void windowsRule_data();
    void windowsRule();
    void posixRule_data();
    void posixRule();
    void systemRuleIsThisSystemsVariant();
};

void JoinPathTest::windowsRule_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("path");
    QTest::newRow("drive root") << "C:\\"
                                << "temp.dat"
                                << "C:\\temp.dat";
    QTest::newRow("other drive root") << "D:\\"
                                      << "r1.dat"
                                      << "D:\\r1.dat";
    QTest::newRow("folder") << "C:\\DATA"
                            << "r1.dat"
                            << "C:\\DATA\\r1.dat";
    QTest::newRow("deeper folder") << "C:\\DATA\\2024"
                                   << "r1.dat"
                                   << "C:\\DATA\\2024\\r1.dat";
    // Only the length counts: a three-letter folder of a drive takes no backslash either.
    QTest::newRow("three characters") << "ABC"
                                      << "r1.dat"
                                      << "ABCr1.dat";
    QTest::newRow("name as typed") << "C:\\DATA"
                                   << " r 1 "
                                   << "C:\\DATA\\ r 1 ";
    QTest::newRow("empty name") << "C:\\DATA"
                                << ""
                                << "C:\\DATA\\";
}

void JoinPathTest::windowsRule()
{
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(QString, path);
    QCOMPARE(joinPathWindows(folder, name), path);
}

void JoinPathTest::posixRule_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("path");
    QTest::newRow("root") << "/"
                          << "temp.dat"
                          << "/temp.dat";
    QTest::newRow("folder") << "/tmp"
                            << "r1.dat"
                            << "/tmp/r1.dat";
    QTest::newRow("home folder") << "/home/u"
                                 << "r1.dat"
                                 << "/home/u/r1.dat";
    QTest::newRow("three characters") << "/ab"
                                      << "r1.dat"
                                      << "/ab/r1.dat";
    QTest::newRow("volume root with slash") << "/media/usb/"
                                            << "r1.dat"
                                            << "/media/usb/r1.dat";
    QTest::newRow("name as typed") << "/tmp"
                                   << " r 1 "
                                   << "/tmp/ r 1 ";
    QTest::newRow("name with a folder part") << "/tmp"
                                             << "sub/r1.dat"
                                             << "/tmp/sub/r1.dat";
    QTest::newRow("backslash is a character") << "/home/u"
                                              << "a\\b"
                                              << "/home/u/a\\b";
}

void JoinPathTest::posixRule()
{
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(QString, path);
    QCOMPARE(joinPathPosix(folder, name), path);
}

void JoinPathTest::systemRuleIsThisSystemsVariant()
{
    // "/tmp" + "r1.dat" tells the two variants apart.
    const QString folder = QStringLiteral("/tmp");
    const QString name = QStringLiteral("r1.dat");
#ifdef Q_OS_WIN
    QCOMPARE(joinPath(folder, name), QStringLiteral("/tmp\\r1.dat"));
#else
    QCOMPARE(joinPath(folder, name), QStringLiteral("/tmp/r1.dat"));
#endif
}

QTEST_APPLESS_MAIN(JoinPathTest)
#include "tst_join_path.moc"
