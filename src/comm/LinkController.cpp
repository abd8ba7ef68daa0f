#include "comm/LinkController.h"

#include "comm/SerialUSBCommandHandler.h"
#include "comm/SerialUSBDevice.h"

const QString LinkController::ClosedByUser = QStringLiteral("closed");

LinkController::LinkController(SerialUSBCommandHandler& handler, QObject* parent)
    : QObject(parent), m_handler(handler)
{
    m_factory = [](const QString& port, const QString& description) {
        return std::make_unique<SerialUSBDevice>(port, description);
    };
    connect(&m_handler, &SerialUSBCommandHandler::linkLost, this, &LinkController::handlerLostLink);
}

LinkController::~LinkController()
{
    if (m_handler.device() == m_device.get()) {
        m_handler.close();
        m_handler.setDevice(nullptr);
    }
}

void LinkController::setDeviceFactory(DeviceFactory factory)
{
    m_factory = std::move(factory);
}

bool LinkController::open(const Request& request)
{
    m_state.request = request;
    m_hasRequest = true;
    std::unique_ptr<SerialUSBDevice> device = m_factory(request.port, request.description);
    if (request.baudRate > 0)
        device->setBaudRate(request.baudRate);
    // The old device goes first, so a link opened again on the same port finds it free.
    m_handler.setDevice(device.get());
    m_device = std::move(device);
    m_handler.setModuleAddress(request.address);
    if (!m_handler.open()) {
        setState(State::OpenFailed, m_device->errorString());
        return false;
    }
    setState(State::Open, QString());
    return true;
}

bool LinkController::reconnect()
{
    return m_hasRequest && open(m_state.request);
}

void LinkController::close()
{
    m_handler.close();
    if (m_device && (m_state.kind != State::Closed || m_state.reason != ClosedByUser))
        setState(State::Closed, ClosedByUser);
}

bool LinkController::reopenForStop(QString* error)
{
    if (isOpen() || !m_hasRequest || !m_device || m_handler.device() != m_device.get()) {
        *error = isOpen() ? QStringLiteral("the link is open") : QStringLiteral("no link to open");
        return false;
    }
    if (!m_state.isLost()) {
        *error = m_state.kind == State::Closed ? QStringLiteral("the link was closed")
                                               : QStringLiteral("no link to open");
        return false;
    }
    // A device is opened once: the stop takes a new one on the same port.
    std::unique_ptr<SerialUSBDevice> device =
        m_factory(m_state.request.port, m_state.request.description);
    if (m_state.request.baudRate > 0)
        device->setBaudRate(m_state.request.baudRate);
    m_handler.setDevice(device.get());
    m_device = std::move(device);
    if (!m_handler.open()) {
        *error = m_device->errorString();
        // The link stays lost, for the first reason.
        if (m_state.kind != State::Lost)
            setState(State::Lost, m_state.reason);
        return false;
    }
    // Opened again after the stop's own time-out: still for the first reason.
    if (m_state.kind != State::StopOnly)
        setState(State::StopOnly, m_state.reason);
    return true;
}

void LinkController::endStopOnly()
{
    if (m_state.kind != State::StopOnly)
        return;
    m_handler.close();
    setState(State::Lost, m_state.reason);
}

bool LinkController::isOpen() const
{
    return m_handler.isOpen();
}

QString LinkController::closeReason() const
{
    return m_state.kind == State::Open ? QString() : m_state.reason;
}

void LinkController::handlerLostLink(const QString& reason)
{
    // The stop's own time-out on the port opened for it: the link was lost before, and
    // for that reason.
    if (m_state.kind == State::Open)
        setState(State::Lost, reason);
}

void LinkController::setState(State::Kind kind, const QString& reason)
{
    m_state.kind = kind;
    m_state.reason = reason;
    emit stateChanged(m_state);
}
