// Renders the main window as a user sees it at work into a PNG, with no display needed:
// connected to the simulated module, the motor turning in velocity mode, live polling on
// and the charts filled.
//
//   ziro-bldc-screenshot OUT.png [seconds]
//
// The window starts as on a first start (the user's remembered settings are not read),
// connects through the USB panel's "[Simulated]" entry, starts polling, ramps the motor
// to 2000 rpm with "Right" on the "Velocity mode" tab after a few seconds at rest, polls
// for the given time (default 8 s) more, then grabs the window.

#include "app/BLDC.h"
#include "app/MainWindow.h"
#include "app/MessageHandler.h"
#include "panels/connection/WConnection.h"
#include "panels/motion/WVelocityControl.h"
#include "sim/ServedModule.h"
#include "trace/WTraceController.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QPixmap>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

void wait(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

template <typename T> T* child(QObject* parent, const char* name)
{
    T* found = parent->findChild<T*>(QLatin1String(name));
    if (!found) {
        std::fprintf(stderr, "ziro-bldc-screenshot: no %s\n", name);
        std::exit(1);
    }
    return found;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: ziro-bldc-screenshot OUT.png [seconds]\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // A first start: nothing remembered is read, nothing is left behind.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    qInstallMessageHandler(messageHandler);
    const QString out = QString::fromLocal8Bit(argv[1]);
    const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 8;

    std::unique_ptr<MainWindow> window(MainWindow::createAndShow());
    window->resize(1000, 760);
    BLDC* bldc = window->centralPanel();
    if (!bldc->simulatedModule() || !bldc->simulatedModule()->isRunning()) {
        std::fprintf(stderr, "ziro-bldc-screenshot: the simulated module did not start\n");
        return 1;
    }

    auto* devices = child<QComboBox>(bldc->usbConnection(), "cmbDevices");
    devices->setCurrentIndex(devices->count() - 1);
    child<QPushButton>(bldc->usbConnection(), "btnConnect")->click();

    auto* tabs = bldc->findChild<QTabWidget*>();
    for (QTabWidget* candidate : bldc->findChildren<QTabWidget*>())
        if (candidate->count() > tabs->count())
            tabs = candidate;
    auto* velocity = bldc->findChild<WVelocityControl*>();
    tabs->setCurrentWidget(tabs->widget(tabs->indexOf(velocity->parentWidget())));
    bldc->traceController()->setDelay(20);
    bldc->traceController()->setPolling(true);
    wait(3000);
    child<QSpinBox>(velocity, "sbTargetVelocity")->setValue(2000);
    child<QPushButton>(velocity, "btnRight")->click();
    wait(seconds * 1000);

    const QPixmap picture = window->grab();
    bldc->traceController()->setPolling(false);
    child<QPushButton>(velocity, "btnStop")->click();
    if (!picture.save(out, "PNG")) {
        std::fprintf(stderr, "ziro-bldc-screenshot: could not write %s\n", argv[1]);
        return 1;
    }
    std::fprintf(stderr, "ziro-bldc-screenshot: wrote %s (%dx%d)\n", argv[1], picture.width(),
                 picture.height());
    return 0;
}
