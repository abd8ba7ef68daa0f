#include "cli/Link.h"

#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/StopSignals.h"
#include "comm/PortDiscovery.h"
#include "comm/SerialUSBDevice.h"
#include "sim/ServedModule.h"

namespace cli {

// The serial device, counting the frames it puts on the line.
class CountingDevice : public SerialUSBDevice
{
public:
    using SerialUSBDevice::SerialUSBDevice;

    // Told the number of frames sent so far after every frame.
    void setOnFrame(std::function<void(int)> onFrame) { m_onFrame = std::move(onFrame); }

protected:
    qint64 writeData(const char* data, qint64 size) override
    {
        const qint64 written = SerialUSBDevice::writeData(data, size);
        ++m_frames;
        if (m_onFrame)
            m_onFrame(m_frames);
        return written;
    }

private:
    int m_frames = 0;
    std::function<void(int)> m_onFrame;
};

Link::Link()
{
    // The process ends after a time-out: a late answer must not wait in the port for
    // the next run.
    m_handler.setAwaitLateAnswer(true);
    m_controller.setDeviceFactory([this](const QString& port, const QString& description) {
        auto device = std::make_unique<CountingDevice>(port, description);
        m_device = device.get();
        return std::unique_ptr<SerialUSBDevice>(std::move(device));
    });
}

Link::~Link() = default;

bool Link::open(const Invocation& invocation, QString* error)
{
    QString port = invocation.port;
    if (invocation.sim) {
        m_served = std::make_unique<ServedModule>(invocation.address);
        QString why;
        if (!m_served->start(&why)) {
            *error = QStringLiteral("cannot serve the simulated module: %1").arg(why);
            return false;
        }
        port = m_served->portName();
    }
    if (m_controller.open({port, QString(), invocation.baud.value_or(0), invocation.address}))
        return true;
    *error = QStringLiteral("could not open: %1").arg(port);
    QString why = m_controller.closeReason();
    if (why.isEmpty())
        why = PortDiscovery::openProblem(
            port.startsWith(QLatin1Char('/')) ? port : QStringLiteral("/dev/") + port);
    if (!why.isEmpty())
        *error += QStringLiteral(" (%1)").arg(why);
    return false;
}

void Link::setOnFrame(std::function<void(int)> onFrame)
{
    if (m_device)
        m_device->setOnFrame(std::move(onFrame));
}

std::optional<VOKTUSBReply> Link::exchange(quint8 command, vokt::ParameterNumber type,
                                           quint8 motorBank, qint32 value)
{
    return m_handler.exchange(command, type, motorBank, value).reply;
}

QString noReply(const QString& what)
{
    return QStringLiteral("%1: no reply from the module").arg(what);
}

bool lineWasClean(SerialUSBCommandHandler::Batch& batch, const QString& what, int address)
{
    if (batch.isClean())
        return true;
    printError(QStringLiteral("%1: the line is not clean: %2 bytes arrived that answered no "
                              "request (a late answer, a line echo or a second module at "
                              "address %3); an answer may belong to another request")
                   .arg(what)
                   .arg(batch.unansweredBytes())
                   .arg(address));
    return false;
}

bool interruptedOnDirtyLine(const SerialUSBCommandHandler::Batch& batch)
{
    return StopSignals::requested() && batch.unansweredBytes() > 0;
}

QString statusText(const VOKTUSBReply& reply)
{
    return QStringLiteral("status %1").arg(reply.status());
}

bool runWithProgress(Link& link, const QString& label, int total,
                     const std::function<bool(SerialUSBCommandHandler&)>& operation)
{
    Progress progress(label, total);
    link.setOnFrame([&progress](int frames) { progress.setDone(frames); });
    const bool done = operation(link.handler());
    link.setOnFrame({});
    progress.setDone(total);
    progress.finish();
    return done;
}

} // namespace cli
