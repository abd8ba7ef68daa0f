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
    connect(&m_handler, &SerialUSBCommandHandler::linkLost, this, &LinkController::linkLost);
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
    m_stopOnlyReason.reset();
    m_request = request;
    m_hasRequest = true;
    std::unique_ptr<SerialUSBDevice> device = m_factory(request.port, request.description);
    if (request.baudRate > 0)
        device->setBaudRate(request.baudRate);
    // The old device goes first, so a link opened again on the same port finds it free.
    m_handler.setDevice(device.get());
    m_device = std::move(device);
    m_handler.setModuleAddress(request.address);
    if (!m_handler.open()) {
        m_closeReason = m_device->errorString();
        return false;
    }
    m_closeReason.clear();
    return true;
}

bool LinkController::reconnect()
{
    return m_hasRequest && open(m_request);
}

void LinkController::close()
{
    m_handler.close();
    if (m_device)
        m_closeReason = ClosedByUser;
}

bool LinkController::reopenForStop(QString* error)
{
    if (isOpen() || !m_hasRequest || !m_device || m_handler.device() != m_device.get()) {
        *error = isOpen() ? QStringLiteral("the link is open") : QStringLiteral("no link to open");
        return false;
    }
    if (m_closeReason == ClosedByUser && !m_stopOnlyReason) {
        *error = QStringLiteral("the link was closed");
        return false;
    }
    const QString reason = m_stopOnlyReason.value_or(m_closeReason);
    // A device is opened once: the stop takes a new one on the same port.
    std::unique_ptr<SerialUSBDevice> device = m_factory(m_request.port, m_request.description);
    if (m_request.baudRate > 0)
        device->setBaudRate(m_request.baudRate);
    m_handler.setDevice(device.get());
    m_device = std::move(device);
    if (!m_handler.open()) {
        *error = m_device->errorString();
        m_closeReason = reason;
        m_stopOnlyReason.reset();
        return false;
    }
    // Opened again after the stop's own time-out: the link closed for the first reason.
    if (!m_stopOnlyReason)
        m_stopOnlyReason = reason;
    return true;
}

void LinkController::endStopOnly()
{
    if (!m_stopOnlyReason)
        return;
    m_handler.close();
    m_closeReason = *m_stopOnlyReason;
    m_stopOnlyReason.reset();
}

bool LinkController::isOpen() const
{
    return m_handler.isOpen();
}

QString LinkController::closeReason() const
{
    return isOpen() ? QString() : m_closeReason;
}

void LinkController::linkLost(const QString& reason)
{
    m_closeReason = reason;
}
