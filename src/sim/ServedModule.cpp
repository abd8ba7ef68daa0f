#include "sim/ServedModule.h"

#include "sim/SimulatedModule.h"

#include <mutex>

struct ServedModule::Private
{
    explicit Private(int address) : module(address) {}

    std::mutex mutex;
    SimulatedModule module;
    // Last, so that it is destroyed first: its worker thread uses the module.
    PtyPeer peer;
};

ServedModule::ServedModule(int address) : d(std::make_unique<Private>(address))
{
    d->peer.setFrameTimeoutMs(FrameTimeoutMs);
    d->peer.setRequestLogLimit(RequestLogLimit);
    Private* p = d.get();
    d->peer.setResponder([p](const QByteArray& request) {
        QByteArray reply;
        {
            std::lock_guard<std::mutex> lock(p->mutex);
            reply = p->module.handle(request);
        }
        if (reply.isEmpty())
            return QList<PtyPeer::Chunk>{};
        return PtyPeer::answer(reply);
    });
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

PtyPeer& ServedModule::peer()
{
    return d->peer;
}

SimulatedModule& ServedModule::module()
{
    return d->module;
}

void ServedModule::withModule(const std::function<void(SimulatedModule&)>& f)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    f(d->module);
}
