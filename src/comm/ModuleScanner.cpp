#include "comm/ModuleScanner.h"

#include "comm/DebugLine.h"
#include "comm/LinkController.h"
#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "comm/VOKTRequest.h"

#include <algorithm>
#include <iterator>

namespace {

// Microseconds that frames of 9 bytes take on the line, 10 bits a byte.
qint64 framesUs(int frames, int baudRate)
{
    return qint64(frames) * vokt::FrameSize * 10 * 1000000 / qMax(1, baudRate);
}

int roundedUpMs(qint64 us)
{
    return static_cast<int>((us + 999) / 1000);
}

} // namespace

struct ModuleScanner::Private
{
    Plan plan;
    SerialUSBCommandHandler handler;
    LinkController link{handler};
    std::function<void(const Found&)> onFound;
    QList<Found> found;
    QStringList problems;
    QString failure;
    int rateIndex = 0;
    int address = 1;
    int done = 0;
    bool open = false;
    bool openedOnce = false;
    bool finished = false;
    bool echoes = false;

    int rate() const { return plan.baudRates.at(qMin(rateIndex, int(plan.baudRates.size()) - 1)); }
    int addresses() const { return plan.to - plan.from + 1; }

    // The next rate, or the end; the port is closed.
    void nextRate()
    {
        link.close();
        open = false;
        address = plan.from;
        if (++rateIndex >= plan.baudRates.size())
            finish();
    }

    void finish()
    {
        link.close();
        open = false;
        finished = true;
        DebugLine().plain(QStringLiteral("scan of %1: %2 answered, %3 with more than one module")
                              .arg(plan.port)
                              .arg(std::count_if(found.cbegin(), found.cend(),
                                                 [](const Found& f) { return !f.conflict; }))
                              .arg(std::count_if(found.cbegin(), found.cend(),
                                                 [](const Found& f) { return f.conflict; })));
    }

    void openAtRate()
    {
        const int baud = rate();
        if (link.open({plan.port, QString(), baud, plan.from})) {
            open = openedOnce = true;
            DebugLine().plain(QStringLiteral("scan of %1 at %2 baud: addresses %3 to %4, %5 ms "
                                             "each")
                                  .arg(plan.port)
                                  .arg(baud)
                                  .arg(plan.from)
                                  .arg(plan.to)
                                  .arg(deadlineMs(baud, plan.turnaroundMs)));
            return;
        }
        QString problem = QStringLiteral("could not open %1 at %2 baud").arg(plan.port).arg(baud);
        if (!link.closeReason().isEmpty())
            problem += QStringLiteral(": ") + link.closeReason();
        DebugLine().plain(problem);
        problems << problem;
        // The rate's probes count as done: the progress goes on to the next rate.
        done += addresses();
        nextRate();
    }

    void probeNext()
    {
        const int baud = rate();
        SerialUSBCommandHandler::Probe seen;
        const Presence presence = probe(handler, address, baud, plan.turnaroundMs, &seen);
        ++done;
        if (seen.echoed && !echoes) {
            echoes = true;
            DebugLine().plain(QStringLiteral("scan: %1 echoes the requests; the echoes are not "
                                             "counted as answers")
                                  .arg(plan.port));
        }
        if (presence == Presence::LinkLost) {
            failure = QStringLiteral("%1 failed at %2 baud, address %3: %4")
                          .arg(plan.port)
                          .arg(baud)
                          .arg(address)
                          .arg(link.closeReason());
            DebugLine().plain(failure);
            finish();
            return;
        }
        if (presence != Presence::Absent) {
            const Found module{address, baud, presence == Presence::Conflict};
            found << module;
            DebugLine().plain(
                module.conflict
                    ? QStringLiteral("scan: more than one module answers at address %1, %2 "
                                     "baud (%3 bytes besides %4)")
                          .arg(address)
                          .arg(baud)
                          .arg(seen.strayBytes)
                          .arg(seen.reply ? QStringLiteral("a reply") : QStringLiteral("no reply"))
                    : QStringLiteral("scan: a module answers at address %1, %2 baud")
                          .arg(address)
                          .arg(baud));
            if (onFound)
                onFound(module);
        }
        if (++address > plan.to)
            nextRate();
    }
};

int ModuleScanner::deadlineMs(int baudRate, int turnaroundMs)
{
    return roundedUpMs(framesUs(2, baudRate)) + qMax(0, turnaroundMs);
}

int ModuleScanner::quietMs(int baudRate, int turnaroundMs)
{
    return roundedUpMs(framesUs(1, baudRate)) + qMax(0, turnaroundMs);
}

ModuleScanner::Presence ModuleScanner::probe(SerialUSBCommandHandler& handler, int address,
                                             int baudRate, int turnaroundMs,
                                             SerialUSBCommandHandler::Probe* seen)
{
    const VOKTRequest request(static_cast<quint8>(address), vokt::GetAxisParameter, 0, 0, 0);
    const SerialUSBCommandHandler::Probe probe =
        handler.probe(request, deadlineMs(baudRate, turnaroundMs), quietMs(baudRate, turnaroundMs));
    if (seen)
        *seen = probe;
    if (probe.linkLost)
        return Presence::LinkLost;
    if (probe.strayBytes > 0)
        return Presence::Conflict;
    return probe.reply ? Presence::Module : Presence::Absent;
}

QList<int> ModuleScanner::allBaudRates()
{
    QList<int> rates(std::cbegin(vokt::SerialBaudRates), std::cend(vokt::SerialBaudRates));
    std::reverse(rates.begin(), rates.end());
    return rates;
}

ModuleScanner::ModuleScanner(const Plan& plan) : d(std::make_unique<Private>())
{
    d->plan = plan;
    if (d->plan.baudRates.isEmpty())
        d->plan.baudRates = allBaudRates();
    d->plan.from = qBound(0, d->plan.from, 255);
    d->plan.to = qBound(d->plan.from, d->plan.to, 255);
    d->address = d->plan.from;
    // Time-outs are a scan's daily bread: no waiting for late answers.
    d->handler.setAwaitLateAnswer(false);
}

ModuleScanner::~ModuleScanner() = default;

void ModuleScanner::setDebug(bool debug)
{
    d->handler.setDebug(debug);
}

void ModuleScanner::setOnFound(std::function<void(const Found&)> onFound)
{
    d->onFound = std::move(onFound);
}

bool ModuleScanner::step()
{
    if (d->finished)
        return false;
    if (d->open)
        d->probeNext();
    else
        d->openAtRate();
    return !d->finished;
}

bool ModuleScanner::finished() const
{
    return d->finished;
}

const ModuleScanner::Plan& ModuleScanner::plan() const
{
    return d->plan;
}

int ModuleScanner::probeCount() const
{
    return static_cast<int>(d->plan.baudRates.size()) * d->addresses();
}

int ModuleScanner::probesDone() const
{
    return d->done;
}

int ModuleScanner::baudRate() const
{
    return d->rate();
}

int ModuleScanner::address() const
{
    return d->address;
}

QList<ModuleScanner::Found> ModuleScanner::found() const
{
    return d->found;
}

QStringList ModuleScanner::problems() const
{
    return d->problems;
}

bool ModuleScanner::lineEchoes() const
{
    return d->echoes;
}

bool ModuleScanner::portOpened() const
{
    return d->openedOnce;
}

QString ModuleScanner::failure() const
{
    return d->failure;
}
