#include "app/main_window.h"
#include "command_line.h"
#include "info/info_resources.h"
#include "platform/console.h"
#include "platform/files/files.h"
#include "platform/serial/serial_port.h"
#include "platform/standard_descriptors.h"
#include "platform/termination.h"
#include "platform/windows.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Before anything opens a file: Qt's warnings go to descriptor 2 whatever it stands for.
    tvx::openClosedStandardDescriptors();
    const QStringList arguments = tvx::programArguments(argc, argv);
    // Answered before the application connects to a display: works without one, and an
    // unknown option is refused without a window.
    if (const auto answer = tvx::commandLineAnswer(arguments, QStringLiteral(TVX_VERSION))) {
        // On Windows the program is a GUI program: the answer goes to the prompt it came from.
        tvx::useParentConsole();
        std::fputs(answer->text.toLocal8Bit().constData(),
                   answer->exitStatus == 0 ? stdout : stderr);
        return answer->exitStatus;
    }

    tvx::useSystemDpiAwareness();
    QApplication app(argc, argv);
    QApplication::setApplicationName(tvx::applicationTitle());
    // The program ends only through Exit; a window closing never ends it by accident.
    QApplication::setQuitOnLastWindowClosed(false);
    tvx::installFontStandIns();

    // A logout, Ctrl+C or a service manager's stop ends the program as Exit does, so the port and
    // its lock file are released. Also when it comes during a message box at start-up, before
    // the event loop runs: the box's own loop ends, and the queued exit ends the main one.
    tvx::TerminationSignals termination;
    QObject::connect(&termination, &tvx::TerminationSignals::received, [] {
        QCoreApplication::exit(0);
        QMetaObject::invokeMethod(
            qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    });

    tvx::MainWindow window(std::make_unique<tvx::SystemSerialControl>());
    // Every window shows it in its frame and on the task bar. Given to the application only once
    // the main window's own native window exists: one made while the application has an icon
    // gets every size of it converted and sent to the window system twice.
    window.winId();
    QApplication::setWindowIcon(tvx::programIcon());
    const tvx::PortReleaseAtExit release(window.comm());
    window.start();
    // A reading file named on the command line, once the port has been loaded.
    // The arguments the toolkit left, its own options taken out.
    const QString file = tvx::readingFileArgument(tvx::programArguments(argc, argv));
    if (!file.isEmpty())
        window.openReadingFile(file);
    return QApplication::exec();
}
