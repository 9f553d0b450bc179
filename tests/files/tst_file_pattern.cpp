#include "files/file_pattern.h"

#include <QTest>

using namespace tvx;

class FilePatternTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void matches_data();
    void matches();
};

void FilePatternTest::matches_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("match");
    QTest::newRow("dat") << "*.dat"
                         << "r1.dat" << true;
    QTest::newRow("dat from another computer") << "*.dat"
                                               << "R1.DAT" << true;
    QTest::newRow("dat is not txt") << "*.dat"
                                    << "r1.txt" << false;
    QTest::newRow("extension must end the name") << "*.dat"
                                                 << "r1.dat.bak" << false;
    QTest::newRow("dat needs the dot") << "*.dat"
                                       << "r1dat" << false;
    QTest::newRow("typed log") << "*.log"
                               << "port.log" << true;
    QTest::newRow("log is not dat") << "*.log"
                                    << "r1.dat" << false;
    QTest::newRow("all: any extension") << "*.*"
                                        << "r1.txt" << true;
    QTest::newRow("all: no extension") << "*.*"
                                       << "README" << true;
    QTest::newRow("all: several dots") << "*.*"
                                       << "a.b.c" << true;
    QTest::newRow("star alone") << "*"
                                << "anything.at.all" << true;
    QTest::newRow("stem with dot-star") << "r1.*"
                                        << "r1" << true;
    QTest::newRow("stem with dot-star, other stem") << "r1.*"
                                                    << "r10" << false;
    QTest::newRow("question mark is one character") << "r?.dat"
                                                    << "r7.dat" << true;
    QTest::newRow("question mark is not two") << "r?.dat"
                                              << "r17.dat" << false;
    QTest::newRow("question mark is not none") << "r?.dat"
                                               << "r.dat" << false;
    QTest::newRow("several patterns, first") << "*.txt;*.dat"
                                             << "a.txt" << true;
    QTest::newRow("several patterns, second") << "*.txt;*.dat"
                                              << "a.DAT" << true;
    QTest::newRow("several patterns, neither") << "*.txt;*.dat"
                                               << "a.log" << false;
    QTest::newRow("blanks around patterns") << " *.txt ; *.dat "
                                            << "a.dat" << true;
    QTest::newRow("regex characters are plain") << "r(1)+.dat"
                                                << "r(1)+.dat" << true;
    QTest::newRow("dot is plain") << "r1.dat"
                                  << "r1xdat" << false;
    QTest::newRow("brackets are plain") << "[ab].dat"
                                        << "a.dat" << false;
    QTest::newRow("exact name") << "temp.dat"
                                << "TEMP.DAT" << true;
    QTest::newRow("empty pattern lists nothing") << ""
                                                 << "r1.dat" << false;
    QTest::newRow("separators only list nothing") << ";;"
                                                  << "r1.dat" << false;
}

void FilePatternTest::matches()
{
    QFETCH(QString, pattern);
    QFETCH(QString, name);
    QFETCH(bool, match);
    QCOMPARE(FilePattern(pattern).matches(name), match);
}

QTEST_APPLESS_MAIN(FilePatternTest)
#include "tst_file_pattern.moc"
