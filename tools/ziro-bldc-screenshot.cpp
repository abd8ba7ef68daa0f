// Renders the main window as a user sees it at work into a PNG, with no display needed:
// connected to the simulated module, comparing two velocity ramps on the "Velocity" chart.
//
//   ziro-bldc-screenshot OUT.png [seconds]
//
// The window starts as on a first start (the user's remembered settings are not read) at
// 1366 x 728, a laptop screen less its task bar, connects through the USB panel's
// "[Simulated]" entry and starts polling. On the "Velocity mode" tab it ramps the motor to
// 2000 rpm at 1000 rpm/s with "Right", pauses the "Velocity" chart once the ramp has
// reached its top, keeps that run as the reference, stops the motor, goes on, sets the
// acceleration to 2500 rpm/s and runs again, pausing at the same moment after the start.
// Then it zooms the time axis onto the ramps' top corner, shows 1000 to 2200 rpm on the
// value axis, puts the cursor on the first run's corner, and grabs the window. The given time
// (default 4 s) is how long each run lasts before the pause.

#include "app/BLDC.h"
#include "app/MainWindow.h"
#include "app/MessageHandler.h"
#include "panels/connection/WConnection.h"
#include "panels/motion/WVelocityControl.h"
#include "panels/parameters/WVelocityRampControl.h"
#include "sim/ServedModule.h"
#include "trace/Chart.h"
#include "trace/DrawerArea.h"
#include "trace/WDrawer.h"
#include "trace/WTraceController.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
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
    const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 4;

    std::unique_ptr<MainWindow> window(MainWindow::createAndShow());
    window->resize(1366, 728);
    BLDC* bldc = window->centralPanel();
    if (!bldc->simulatedModule() || !bldc->simulatedModule()->isRunning()) {
        std::fprintf(stderr, "ziro-bldc-screenshot: the simulated module did not start\n");
        return 1;
    }

    auto* devices = child<QComboBox>(bldc->usbConnection(), "cmbDevices");
    devices->setCurrentIndex(devices->count() - 1);
    child<QPushButton>(bldc->usbConnection(), "btnConnect")->click();

    // The "Velocity mode" tab in front: the page that holds the velocity panel.
    auto* velocity = bldc->findChild<WVelocityControl*>();
    for (QWidget* page = velocity; page && page->parentWidget(); page = page->parentWidget())
        if (auto* tabs = qobject_cast<QTabWidget*>(page->parentWidget()->parentWidget()))
            tabs->setCurrentWidget(page);
    QWidget* ramp = velocity->parentWidget()->findChild<WVelocityRampControl*>();
    WDrawer* chart = bldc->drawers().first();
    DrawerArea* area = chart->area();
    bldc->traceController()->setDelay(20);
    bldc->traceController()->setPolling(true);
    wait(1000);

    const auto run = [&](int acceleration) {
        child<QSpinBox>(ramp, "sbAcceleration")->setValue(acceleration);
        child<QSpinBox>(velocity, "sbTargetVelocity")->setValue(2000);
        child<QPushButton>(velocity, "btnRight")->click();
        wait(seconds * 1000);
        chart->setPaused(true);
    };
    run(1000);
    area->keepReference();
    child<QPushButton>(velocity, "btnStop")->click();
    wait(3000);
    chart->setPaused(false);
    run(2500);

    // The top corner of the first ramp: the first sample of the ramp velocity at 2000.
    const Chart* target =
        area->reference().back().sampleCount() > 0 ? &area->reference().back() : nullptr;
    int corner = target ? target->sampleCount() - 1 : 0;
    for (int i = 0; target && i < target->sampleCount(); ++i) {
        if (target->sample(i) >= 2000) {
            corner = i;
            break;
        }
    }
    const int newestX = area->width() - 22;
    const int x = newestX - (target ? target->sampleCount() - 1 - corner : 0);
    area->zoomTime(0.4, x);
    // The value axis from 1000 to 2200 rpm, as typed beside the chart.
    child<QRadioButton>(chart, "btnScaleManually")->click();
    child<QSpinBox>(chart, "sbMax")->setValue(2200);
    child<QSpinBox>(chart, "sbMin")->setValue(1000);
    area->setCursorX(x);
    area->repaint();
    wait(300);

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
