#include "app/MainWindow.h"
#include "app/MessageHandler.h"
#include "config/Version.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {

// The window's own help; its manual page is made from it.
const char* const HelpText =
    "Usage: ziro-bldc [OPTIONS]\n"
    "\n"
    "Commissions ZIRO-BLDC brushless-DC motor control modules in a window: connect a module\n"
    "over a USB virtual COM port or a serial line, read and edit its parameters (each edit\n"
    "is written when it is committed), drive the motor and stop it with Esc, watch its\n"
    "status and live values on charts, record them to CSV, send raw VOKT commands, and\n"
    "export, import, store and restore its configuration. A simulated module is offered\n"
    "beside the ports, to try everything without hardware.\n"
    "\n"
    "Options:\n"
    "  -h, --help     this text\n"
    "  -v, --version  the version of the tool\n"
    "  -platform NAME, -style NAME, ...\n"
    "                 Qt's own options, as every Qt program takes them (-platform offscreen\n"
    "                 runs without a display)\n"
    "\n"
    "Files:\n"
    "  ~/.config/ziro-bldc/ziro-bldc.conf\n"
    "                 the window's size and layout, the ports, baud rate and address last\n"
    "                 used, and the polling delay, as the user left them\n";

} // namespace

int main(int argc, char** argv)
{
    // Answered before the application exists, so they work without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(HelpText, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0) {
            std::printf("%s\n", Version::of(QStringLiteral("ziro-bldc")).toLocal8Bit().constData());
            return 0;
        }
    }

    QApplication app(argc, argv);
    // Every diagnostic from here on goes through the tool's own output.
    qInstallMessageHandler(messageHandler);
    MainWindow* window = MainWindow::createAndShow();
    const int result = app.exec();
    // Releases the port and stops the simulated module's line before the process ends.
    delete window;
    return result;
}
