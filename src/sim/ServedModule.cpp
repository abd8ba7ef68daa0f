#include "sim/ServedModule.h"

#include "sim/SimulatedModule.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

struct ServedModule::Private
{
    Private(const QList<int>& addresses, const MotorSettings& motor)
    {
        for (int address : addresses)
            modules.push_back(
                std::make_unique<SimulatedModule>(address, SimulatedModule::Clock(), motor));
    }

    // The replies of every module the request addresses, each after the one before.
    QList<PtyPeer::Chunk> answer(const QByteArray& request)
    {
        const int rate = baudRate;
        if (rate > 0 && peer.lineBaudRate() != rate)
            return {};
        if (observer)
            observer(request);
        QList<PtyPeer::Chunk> chunks;
        std::lock_guard<std::mutex> lock(mutex);
        for (const auto& module : modules) {
            const QByteArray reply = module->handle(request);
            if (reply.isEmpty())
                continue;
            const int gap = chunks.isEmpty() ? 0 : int(gapMs(random));
            chunks.append(PtyPeer::Chunk{gap, reply});
        }
        return chunks;
    }

    std::mutex mutex;
    std::vector<std::unique_ptr<SimulatedModule>> modules;
    std::atomic<int> baudRate{0};
    // Set before the peer starts; used on its thread only.
    std::function<void(const QByteArray&)> observer;
    std::minstd_rand random;
    std::uniform_int_distribution<int> gapMs{DuplicateGapMinMs, DuplicateGapMaxMs};
    // Last, so that it is destroyed first: its worker thread uses the modules.
    PtyPeer peer;
};

ServedModule::ServedModule(int address) : ServedModule(QList<int>{address}) {}

ServedModule::ServedModule(const QList<int>& addresses, const MotorSettings& motor)
    : d(std::make_unique<Private>(addresses.isEmpty() ? QList<int>{1} : addresses, motor))
{
    d->peer.setFrameTimeoutMs(FrameTimeoutMs);
    d->peer.setRequestLogLimit(RequestLogLimit);
    Private* p = d.get();
    d->peer.setResponder([p](const QByteArray& request) { return p->answer(request); });
}

ServedModule::~ServedModule()
{
    stop();
}

bool ServedModule::start(QString* error)
{
    return d->peer.start(error);
}

void ServedModule::stop()
{
    d->peer.stop();
}

bool ServedModule::isRunning() const
{
    return d->peer.isRunning();
}

QString ServedModule::portName() const
{
    return d->peer.portName();
}

void ServedModule::setBaudRate(int baudRate)
{
    d->baudRate = baudRate;
    d->peer.setBaudRate(baudRate);
}

int ServedModule::baudRate() const
{
    return d->baudRate;
}

PtyPeer& ServedModule::peer()
{
    return d->peer;
}

int ServedModule::moduleCount() const
{
    return static_cast<int>(d->modules.size());
}

SimulatedModule& ServedModule::module(int index)
{
    return *d->modules.at(static_cast<size_t>(index));
}

void ServedModule::withModule(const std::function<void(SimulatedModule&)>& f)
{
    withModule(0, f);
}

void ServedModule::withModule(int index, const std::function<void(SimulatedModule&)>& f)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    f(*d->modules.at(static_cast<size_t>(index)));
}

void ServedModule::setRequestObserver(std::function<void(const QByteArray&)> observer)
{
    d->observer = std::move(observer);
}
