// File > Print and File > Print Setup in the main window.

#include "app/main_window.h"
#include "platform/printer.h"
#include "reading/reading_view.h"
#include "support/fake_printer.h"
#include "support/fake_serial_control.h"
#include "support/modal_watcher.h"
#include "support/standard_error.h"

#include <QAction>
#include <QDir>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTest>

using tvx::test::FakePrinter;
using tvx::test::FakeSerialControl;
using tvx::test::ModalWatcher;

class TestPrintMenu : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void printTakesReadingText();
    void noPrinterLeavesTextAlone();
    void setupShowsDialogOverMainWindow();
    void setupProposesAFileOnlyWhereTheDialogOffersOne_data();
    void setupProposesAFileOnlyWhereTheDialogOffersOne();

private:
    void trigger(const char *action);
    FakePrinter *useFakePrinter();

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_previousDir;
    std::unique_ptr<tvx::MainWindow> m_main;
};

void TestPrintMenu::init()
{
    // A printer choice that ends up writing report.pdf writes it here.
    m_dir = std::make_unique<QTemporaryDir>();
    m_previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    m_main = std::make_unique<tvx::MainWindow>(std::make_unique<FakeSerialControl>());
    m_main->show();
}

void TestPrintMenu::cleanup()
{
    m_main.reset();
    QDir::setCurrent(m_previousDir);
    m_dir.reset();
}

void TestPrintMenu::trigger(const char *action)
{
    auto *item = m_main->findChild<QAction *>(QString::fromLatin1(action));
    QVERIFY(item);
    item->trigger();
}

FakePrinter *TestPrintMenu::useFakePrinter()
{
    auto printer = std::make_unique<FakePrinter>();
    FakePrinter *fake = printer.get();
    m_main->setPrinter(std::move(printer));
    return fake;
}

void TestPrintMenu::printTakesReadingText()
{
    FakePrinter *printer = useFakePrinter();
    m_main->readingText().replace("   1    12.5\r\n   2    13.0\r\n");
    ModalWatcher watcher;
    trigger("mnuprint");

    QVERIFY(watcher.boxes().isEmpty());
    QCOMPARE(printer->jobs(), (QList<QList<QByteArray>>{{" ID     Reading", " ", "   1    12.5",
                                                         "   2    13.0", "", "Report Over"}}));
}

// The window's own printer is the printing service's, and here there is none: the five
// messages come and nothing else changes.
void TestPrintMenu::noPrinterLeavesTextAlone()
{
    const QByteArray text = "   1    12.5\r\n   2    13.0";
    m_main->readingText().replace(text);
    auto *area = m_main->findChild<tvx::ReadingView *>(QStringLiteral("txtreading"));
    QVERIFY(area);
    const auto shown = area->visibleRows();
    ModalWatcher watcher;
    QStringList explained;
    {
        tvx::test::StandardError standardError;
        trigger("mnuprint");
        explained = standardError.lines();
    }

    // Each message is explained on standard error, as the README's troubleshooting promises.
    QCOMPARE(explained, QStringList(5, QStringLiteral("No printer is installed.")));
    QCOMPARE(watcher.boxes().size(), 5);
    for (const ModalWatcher::Box &box : watcher.boxes()) {
        QCOMPARE(box.text, QStringLiteral("The form can't be printed."));
        QCOMPARE(box.title, QStringLiteral("Tarvix"));
    }
    QCOMPARE(m_main->readingText().bytes(), text);
    QCOMPARE(area->visibleRows(), shown);
    QVERIFY(m_main->isVisible());
    QVERIFY(QDir(m_dir->path()).isEmpty());
}

void TestPrintMenu::setupShowsDialogOverMainWindow()
{
    FakePrinter *printer = useFakePrinter();
    ModalWatcher watcher;
    trigger("mnusetup");

    QCOMPARE(printer->dialogsShown(), 1);
    QCOMPARE(printer->lastDialogParent(), m_main.get());
    QCOMPARE(printer->calls(), 0);
    QVERIFY(watcher.boxes().isEmpty());
}

// The toolkit's dialog offers "Print to File (PDF)" with the printer's file name, and is
// proposed report.pdf; Windows's ticks "Print to file" for any file name, and is proposed
// none: it opens on the printer, and a report goes to a file only when the user chose one.
void TestPrintMenu::setupProposesAFileOnlyWhereTheDialogOffersOne_data()
{
    QTest::addColumn<QString>("answer"); // ok, cancel, or the file the user chose
    QTest::newRow("Ok as it opened") << "ok";
    QTest::newRow("Cancel") << "cancel";
    QTest::newRow("a file chosen") << "chosen.pdf";
}

void TestPrintMenu::setupProposesAFileOnlyWhereTheDialogOffersOne()
{
    QFETCH(QString, answer);
#ifdef Q_OS_WIN
    const QString proposed;
#else
    const QString proposed = QDir::current().absoluteFilePath(QStringLiteral("report.pdf"));
#endif
    tvx::SystemPrinter printer;
    QStringList opened; // the file name each dialog opened with
    printer.setSelectionDialog([&](QPrinter &device, QWidget *) {
        opened.append(device.outputFileName());
        if (answer == QLatin1String("cancel"))
            return false;
        if (answer != QLatin1String("ok"))
            device.setOutputFileName(answer);
        return true;
    });
    QCOMPARE(printer.showPrinter(nullptr), answer != QLatin1String("cancel"));
    answer = QStringLiteral("cancel");
    QVERIFY(!printer.showPrinter(nullptr));
    const QString chosen = qstrcmp(QTest::currentDataTag(), "a file chosen") == 0
                               ? QStringLiteral("chosen.pdf")
                               : proposed;
    QCOMPARE(opened, QStringList({proposed, chosen}));
}

QTEST_MAIN(TestPrintMenu)
#include "tst_print_menu.moc"
