#include "app/main_window.h"
#include "platform/serial_port.h"
#include "platform/windows.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(tvx::applicationTitle());
    // The program ends only through Exit; a window closing never ends it by accident.
    QApplication::setQuitOnLastWindowClosed(false);
    tvx::installFontStandIns();

    tvx::MainWindow window(std::make_unique<tvx::SystemSerialControl>());
    window.start();
    return QApplication::exec();
}
