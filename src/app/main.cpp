#include "app/MainWindow.h"
#include "app/MessageHandler.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // Every diagnostic from here on goes through the tool's own output.
    qInstallMessageHandler(messageHandler);
    MainWindow* window = MainWindow::createAndShow();
    const int result = app.exec();
    // Releases the port and stops the simulated module's line before the process ends.
    delete window;
    return result;
}
