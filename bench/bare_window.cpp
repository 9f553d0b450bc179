// The floor the program's start-up is measured against: a bare window of the toolkit with a
// menu bar and a read-only plain text box, as a program that shows readings needs at least.
// It does nothing else; floor_bench.sh counts its instructions until its window shows, as it
// counts tarvix's.

#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QPlainTextEdit>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    QMenu *file = window.menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(QStringLiteral("&Open"));
    file->addAction(QStringLiteral("&Save"));
    file->addAction(QStringLiteral("E&xit"));
    auto *text = new QPlainTextEdit;
    text->setReadOnly(true);
    window.setCentralWidget(text);
    window.show();
    return QApplication::exec();
}
