#include "app/main_window.h"
#include "command_line.h"
#include "platform/serial_port.h"
#include "platform/windows.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    // Answered before the application connects to a display: works without one.
    if (const auto answer = tvx::commandLineAnswer(arguments, QStringLiteral(TVX_VERSION))) {
        std::fputs(answer->toLocal8Bit().constData(), stdout);
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(tvx::applicationTitle());
    // The program ends only through Exit; a window closing never ends it by accident.
    QApplication::setQuitOnLastWindowClosed(false);
    tvx::installFontStandIns();

    tvx::MainWindow window(std::make_unique<tvx::SystemSerialControl>());
    window.start();
    return QApplication::exec();
}
