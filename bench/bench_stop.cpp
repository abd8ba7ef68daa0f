// The time from a Stop request to the stop's frame on the wire, in the window, against a
// simulated module served on a pseudo-terminal whose line runs at 115200 or 4800 baud.
//
//   bench_stop [tries] [polling|store|step]
//
// A user on another thread asks for the stop at random moments, as a click or a key comes
// in whatever the window is doing, and the module's end of the line notes when the frame
// target velocity 0 (5 2 0) reaches it. Three cases:
//
//   polling  live polling at full rate (delay 0); the request is Esc in the window;
//   store    "Store actual values" (256 exchanges) under its progress dialog; the request is
//            a click on the Stop motor button that is live: the progress dialog's, or the
//            window's once no dialog blocks it (a click that nothing takes is made again
//            5 ms later, as a user would);
//   step     a velocity step of the step response dialog, once its target is written; the
//            request is Esc in the dialog.
//
// For each it prints the median and the largest time over the tries (tries at 115200 baud,
// default 100; a quarter of them at 4800 baud, where every exchange takes 37.5 ms), beside
// the time one exchange takes on that line. Built against an older tree the same program
// measures that tree's behaviour.

#include "app/BLDC.h"
#include "app/MainWindow.h"
#include "app/StepResponseDialog.h"
#include "comm/Protocol.h"
#include "sim/ServedModule.h"
#include "trace/ValueCheckerThread.h"
#include "trace/WTraceController.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

qint64 nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
        .count();
}

// The log, kept quiet; ZIRO_BENCH_LOG=1 shows the lines that are no frames.
void discard(QtMsgType, const QMessageLogContext&, const QString& message)
{
    static const bool show = qEnvironmentVariableIsSet("ZIRO_BENCH_LOG");
    if (show && !message.contains(QLatin1String("VOKT")))
        std::fprintf(stderr, "%lld %s\n", nowUs() / 1000 % 100000, qPrintable(message));
}

// When the module's end last took in the stop's frame, and a target velocity other than 0
// (a step's).
std::atomic<qint64> g_stopSeenUs{0};
std::atomic<qint64> g_stepSeenUs{0};

bool isStop(const QByteArray& frame)
{
    return frame.size() == vokt::FrameSize && quint8(frame.at(1)) == vokt::SetAxisParameter &&
           quint8(frame.at(2)) == 2 && vokt::takeBigEndian(frame.constData() + 4) == 0;
}

enum class Case
{
    Polling,
    Store,
    Step
};

const char* nameOf(Case which)
{
    switch (which) {
    case Case::Polling:
        return "polling";
    case Case::Store:
        return "store";
    case Case::Step:
        return "step";
    }
    return "";
}

// A click on the Stop motor that is live, on the GUI thread; false when none is (the click
// falls on a window a modal dialog blocks).
bool clickLiveStop(MainWindow& window)
{
    if (QWidget* modal = QApplication::activeModalWidget()) {
        if (auto* button = modal->findChild<QPushButton*>(QStringLiteral("btnStopMotor"))) {
            button->click();
            return true;
        }
        return false;
    }
    if (!window.stopMotorAction()->isEnabled())
        return false;
    window.stopMotorAction()->trigger();
    return true;
}

void pressEscape(QWidget* receiver)
{
    QCoreApplication::postEvent(receiver,
                                new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    QCoreApplication::postEvent(receiver,
                                new QKeyEvent(QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier));
}

struct Figures
{
    std::vector<double> ms;
    int missed = 0;
};

Figures measure(Case which, int baudRate, int tries)
{
    ServedModule served;
    served.setBaudRate(baudRate);
    served.setRequestObserver([](const QByteArray& frame) {
        if (isStop(frame))
            g_stopSeenUs.store(nowUs());
        else if (quint8(frame.at(1)) == vokt::SetAxisParameter && quint8(frame.at(2)) == 2)
            g_stepSeenUs.store(nowUs());
    });
    if (!served.start()) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        std::exit(1);
    }
    MainWindow window;
    window.show();
    window.activateWindow();
    for (int i = 0; i < 20 && QApplication::activeWindow() != &window; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    BLDC* bldc = window.centralPanel();
    bldc->openSerialHandler(served.portName(), baudRate, 1);
    StepResponseDialog* step = nullptr;
    if (which == Case::Step) {
        window.showStepResponse();
        step = window.stepResponseDialog();
        step->findChild<QWidget*>(QStringLiteral("sbTarget"))->setProperty("value", 300);
    }

    // One exchange on this line, for the gaps between two requests.
    const int exchangeMs = std::max(1, 2 * vokt::FrameSize * 10 * 1000 / baudRate);
    std::atomic<bool> done{false};
    std::atomic<int> currentTry{0};
    std::atomic<bool> clickTaken{false};
    Figures figures;
    std::thread user([&] {
        std::mt19937 random(12345 + baudRate + int(which));
        std::uniform_int_distribution<int> pause(exchangeMs, 3 * exchangeMs + 20);
        // The window settles into what it does first.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        for (int i = 0; i < tries; ++i) {
            // A step: while the motor moves for it, after its target was written.
            for (const qint64 since = nowUs(); which == Case::Step && g_stepSeenUs.load() < since;)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
            currentTry = i;
            clickTaken = false;
            g_stopSeenUs.store(0);
            const qint64 asked = nowUs();
            const auto ask = [&] {
                switch (which) {
                case Case::Polling:
                    pressEscape(bldc);
                    break;
                case Case::Step:
                    pressEscape(step);
                    break;
                case Case::Store:
                    // A click left over from an earlier try is no longer made.
                    QMetaObject::invokeMethod(
                        &window,
                        [&, i] {
                            if (currentTry.load() == i && clickLiveStop(window))
                                clickTaken = true;
                        },
                        Qt::QueuedConnection);
                    break;
                }
            };
            ask();
            const qint64 deadline = asked + 20'000'000;
            qint64 again = asked + 5'000;
            while (g_stopSeenUs.load() == 0 && nowUs() < deadline) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                // A click that fell on a blocked window, made again.
                if (which == Case::Store && !clickTaken && nowUs() >= again) {
                    ask();
                    again = nowUs() + 5'000;
                }
            }
            const qint64 seen = g_stopSeenUs.load();
            if (seen == 0)
                ++figures.missed;
            else
                figures.ms.push_back((seen - asked) / 1000.0);
            currentTry = -1;
        }
        done = true;
    });

    WTraceController* trace = bldc->traceController();
    while (!done) {
        switch (which) {
        case Case::Polling:
            if (!trace->isPolling()) {
                trace->setDelay(0);
                trace->setPolling(true);
            }
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            break;
        case Case::Store:
            bldc->storeActualValues();
            // A user who clicks again once the dialog has gone is heard before the next one.
            for (const qint64 gapEnd = nowUs() + 20'000; nowUs() < gapEnd;)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
            break;
        case Case::Step:
            step->run();
            break;
        }
    }
    user.join();
    trace->setPolling(false);
    while (trace->pollingThread()->isRunning())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return figures;
}

void print(Case which, int baudRate, Figures figures)
{
    std::sort(figures.ms.begin(), figures.ms.end());
    const double median = figures.ms.empty() ? 0 : figures.ms[figures.ms.size() / 2];
    const double largest = figures.ms.empty() ? 0 : figures.ms.back();
    const double p90 = figures.ms.empty() ? 0 : figures.ms[figures.ms.size() * 9 / 10];
    std::printf(
        "%-8s %6d baud  %3zu tries  median %6.1f ms  90 %% %6.1f ms  max %6.1f ms  (one exchange "
        "%.1f ms)%s\n",
        nameOf(which), baudRate, figures.ms.size(), median, p90, largest,
        2 * vokt::FrameSize * 10 * 1000.0 / baudRate,
        figures.missed ? qPrintable(QStringLiteral("  %1 not seen").arg(figures.missed)) : "");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int tries = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    // The window remembers its settings; the benchmark leaves the user's alone.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    qInstallMessageHandler(discard);
    // The keyboard a key event names is made with the first one: here, on the GUI thread.
    {
        QKeyEvent first(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    }
    const QString only = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    for (int baudRate : {115200, 4800})
        for (Case which : {Case::Polling, Case::Store, Case::Step})
            if (only.isEmpty() || only == QLatin1String(nameOf(which)))
                print(
                    which, baudRate,
                    measure(which, baudRate, baudRate == 115200 ? tries : std::max(1, tries / 4)));
    return 0;
}
