#pragma once

#include "comm/LinkController.h"
#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "comm/VOKTUSBReply.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

class ServedModule;

namespace cli {

struct Invocation;
class CountingDevice;

// The command's link to the module: the port of --port, or a simulated module served by
// the tool itself (--sim), opened through the link controller. The handler waits for a
// late answer before the port closes, for the process ends after a time-out.
class Link
{
public:
    Link();
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // Opens the port (or serves the simulated module); false, with the reason, if it
    // cannot be had.
    bool open(const Invocation& invocation, QString* error);

    SerialUSBCommandHandler& handler() { return m_handler; }
    // The link is to a simulated module the tool serves itself (--sim).
    bool isSimulated() const { return m_served != nullptr; }
    // The link's state, and the port opened again for the motor's stop after a time-out
    // closed it.
    LinkController& controller() { return m_controller; }
    // Told the number of frames sent so far after every frame; empty for none.
    void setOnFrame(std::function<void(int)> onFrame);

    // One exchange: the reply, or nothing when none came.
    std::optional<VOKTUSBReply> exchange(quint8 command, vokt::ParameterNumber type,
                                         quint8 motorBank, qint32 value);

private:
    // In this order, so that the link's device goes first, then the handler, then the
    // module.
    std::unique_ptr<ServedModule> m_served;
    SerialUSBCommandHandler m_handler;
    LinkController m_controller{m_handler};
    CountingDevice* m_device = nullptr;
};

// What a command does once the port is open; its exit status.
using Action = std::function<int(Link&)>;

// "<what>: no reply from the module"
QString noReply(const QString& what);
// "status <n>"
QString statusText(const VOKTUSBReply& reply);
// After the last exchange of a command: false, with the reason on standard error, when
// bytes arrived during it that answered no request, so that an answer it took may belong
// to another request.
bool lineWasClean(SerialUSBCommandHandler::Batch& batch, const QString& what, int address);
// An interrupted file operation completes its file, unless the line is already known not
// to be clean: then the file cannot be good, and the command ends at once.
bool interruptedOnDirtyLine(const SerialUSBCommandHandler::Batch& batch);
// Runs one of the window's whole-module operations with a percentage for every frame
// sent, out of about total.
bool runWithProgress(Link& link, const QString& label, int total,
                     const std::function<bool(SerialUSBCommandHandler&)>& operation);

} // namespace cli
