#include "app/MainWindow.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    MainWindow* window = MainWindow::createAndShow();
    const int result = app.exec();
    // Releases the port and stops the simulated module's line before the process ends.
    delete window;
    return result;
}
