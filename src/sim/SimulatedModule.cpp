#include "sim/SimulatedModule.h"

#include "comm/Protocol.h"
#include "comm/VOKTRequest.h"
#include "config/ParameterNumbers.h"

#include <cmath>
#include <limits>

using namespace ParameterCatalogue;

namespace {

constexpr qint32 Int32Min = std::numeric_limits<qint32>::min();
constexpr qint32 Int32Max = std::numeric_limits<qint32>::max();

constexpr qint32 FirmwareVersion = 100;

constexpr int DigitalInputs = 0;
constexpr int AnalogInputs = 1;
constexpr int DigitalOutputs = 2;

} // namespace

SimulatedModule::SimulatedModule(int address, Clock clock, const MotorSettings& motor)
    : m_address(address), m_model(m_values, std::move(clock), motor)
{
    for (int type = 0; type < vokt::ParameterNumbers; ++type)
        m_values[static_cast<size_t>(type)] = ParameterTable::info(type).defaultValue;
    m_stored = m_values;
}

SimulatedModule::ParameterInfo SimulatedModule::parameterInfo(int type)
{
    return ParameterTable::info(type);
}

QList<int> SimulatedModule::knownParameters()
{
    return ParameterTable::known();
}

void SimulatedModule::update()
{
    m_model.update();
}

QByteArray SimulatedModule::handle(const VOKTRequest& request)
{
    return handle(request.toWire());
}

QByteArray SimulatedModule::handle(const QByteArray& request)
{
    if (request.size() != vokt::FrameSize)
        return {};
    const auto byte = [&](int i) { return static_cast<int>(static_cast<quint8>(request.at(i))); };
    if (byte(0) != m_address)
        return {};
    const int command = byte(1);
    const int type = byte(2);
    const int motorBank = byte(3);
    const qint32 value = vokt::takeBigEndian(request.constData() + 4);

    Answer answer{vokt::StatusWrongChecksum, 0};
    if (vokt::checksum(request) == byte(8)) {
        m_model.update();
        switch (command) {
        case vokt::MoveToPosition:
            answer = move(type, motorBank, value);
            break;
        case vokt::SetAxisParameter:
            answer = setAxis(type, motorBank, value);
            break;
        case vokt::GetAxisParameter:
            answer = getAxis(type, motorBank);
            break;
        case vokt::StoreAxisParameter:
        case vokt::RestoreAxisParameter:
            answer = storeOrRestore(command, type, motorBank);
            break;
        case vokt::GetGlobalParameter:
            answer = getGlobal(type, motorBank);
            break;
        case vokt::SetIOValue:
            answer = setOutput(type, motorBank, value);
            break;
        case vokt::GetIOValue:
            answer = getInputOutput(type, motorBank);
            break;
        default:
            answer = {vokt::StatusInvalidCommand, 0};
            break;
        }
    }

    return vokt::replyFrame(ReplyAddress, static_cast<quint8>(m_address), answer.status,
                            static_cast<quint8>(command), answer.value);
}

qint32 SimulatedModule::axisParameter(int type)
{
    m_model.update();
    if (parameterInfo(type).access == Access::Unknown)
        return 0;
    return m_model.reading(type);
}

qint32 SimulatedModule::storedAxisParameter(int type) const
{
    if (type < 0 || type >= vokt::ParameterNumbers)
        return 0;
    return m_stored[static_cast<size_t>(type)];
}

SimulatedModule::Answer SimulatedModule::getAxis(int type, int motorBank)
{
    if (motorBank != 0)
        return {vokt::StatusWrongMotorBank, 0};
    if (parameterInfo(type).access == Access::Unknown)
        return {vokt::StatusWrongType, 0};
    return {vokt::StatusOk, m_model.reading(type)};
}

SimulatedModule::Answer SimulatedModule::setAxis(int type, int motorBank, qint32 value)
{
    if (motorBank != 0)
        return {vokt::StatusWrongMotorBank, 0};
    const ParameterInfo info = parameterInfo(type);
    if (info.access == Access::Unknown)
        return {vokt::StatusWrongType, 0};
    if (info.access == Access::ReadOnly)
        return {vokt::StatusReadOnly, m_model.reading(type)};
    if (!acceptsValue(type, value))
        return {vokt::StatusInvalidValue, m_model.reading(type)};
    applyAxis(type, value);
    return {vokt::StatusOk, m_model.reading(type)};
}

SimulatedModule::Answer SimulatedModule::storeOrRestore(int command, int type, int motorBank)
{
    if (motorBank != 0)
        return {vokt::StatusWrongMotorBank, 0};
    const ParameterInfo info = parameterInfo(type);
    if (info.access == Access::Unknown)
        return {vokt::StatusWrongType, 0};
    if (info.access != Access::Setting)
        return {vokt::StatusReadOnly, m_model.reading(type)};
    const auto index = static_cast<size_t>(type);
    if (command == vokt::StoreAxisParameter)
        m_stored[index] = m_values[index];
    else
        m_values[index] = m_stored[index];
    return {vokt::StatusOk, m_values[index]};
}

SimulatedModule::Answer SimulatedModule::move(int type, int motorBank, qint32 position)
{
    if (motorBank != 0)
        return {vokt::StatusWrongMotorBank, 0};
    if (type != 0 && type != 1)
        return {vokt::StatusWrongType, 0};
    qint64 target = position;
    if (type == 1) {
        // Relative to where the last move was going, so that moves in a row add up; from
        // the actual position when the motor was not positioning.
        const qint64 base = m_model.mode() == MotorModel::Mode::Position
                                ? qint64(value(TargetPosition))
                                : qint64(m_model.reading(ActualPosition));
        target = base + position;
    }
    if (target < Int32Min || target > Int32Max)
        return {vokt::StatusInvalidValue, position};
    m_values[TargetPosition] = static_cast<qint32>(target);
    m_model.enterMode(MotorModel::Mode::Position);
    return {vokt::StatusOk, position};
}

SimulatedModule::Answer SimulatedModule::getGlobal(int type, int bank)
{
    if (bank != 0)
        return {vokt::StatusWrongMotorBank, 0};
    switch (type) {
    case 0:
        return {vokt::StatusOk, m_address};
    case 1:
        return {vokt::StatusOk, ReplyAddress};
    case 2:
        return {vokt::StatusOk, FirmwareVersion};
    case 3: // milliseconds since power-up, running over as a 32-bit counter
        return {
            vokt::StatusOk,
            static_cast<qint32>(static_cast<quint32>(
                std::chrono::duration_cast<std::chrono::milliseconds>(m_model.time()).count()))};
    default:
        return {vokt::StatusWrongType, 0};
    }
}

SimulatedModule::Answer SimulatedModule::setOutput(int type, int bank, qint32 value)
{
    if (bank == DigitalInputs || bank == AnalogInputs) {
        const Answer input = getInputOutput(type, bank);
        return input.status == vokt::StatusOk ? Answer{vokt::StatusReadOnly, input.value} : input;
    }
    if (bank != DigitalOutputs)
        return {vokt::StatusWrongMotorBank, 0};
    if (type < 0 || type >= static_cast<int>(m_outputs.size()))
        return {vokt::StatusWrongType, 0};
    auto& output = m_outputs[static_cast<size_t>(type)];
    if (value != 0 && value != 1)
        return {vokt::StatusInvalidValue, output};
    output = value;
    return {vokt::StatusOk, output};
}

SimulatedModule::Answer SimulatedModule::getInputOutput(int type, int bank)
{
    switch (bank) {
    case DigitalInputs:
        if (type < 4)
            return {vokt::StatusOk, 0};
        break;
    case AnalogInputs:
        if (type == 0) // supply voltage [0.1 V]; sags a little under load
            return {vokt::StatusOk,
                    MotorModel::rounded(240.0 - std::abs(m_model.current()) / 1000.0)};
        if (type == 1) // driver temperature [0.1 °C]
            return {vokt::StatusOk,
                    MotorModel::rounded(300.0 + std::abs(m_model.current()) / 20.0)};
        break;
    case DigitalOutputs:
        if (type < static_cast<int>(m_outputs.size()))
            return {vokt::StatusOk, m_outputs[static_cast<size_t>(type)]};
        break;
    default:
        return {vokt::StatusWrongMotorBank, 0};
    }
    return {vokt::StatusWrongType, 0};
}

bool SimulatedModule::acceptsValue(int type, qint32 value) const
{
    const ParameterInfo info = parameterInfo(type);
    if (value < info.minimum || value > info.maximum)
        return false;
    // Commutation: block (hall sensors) 0, block (phaseQ) 1, sine (encoder) 3.
    return type != CommutationMode || value != 2;
}

void SimulatedModule::applyAxis(int type, qint32 value)
{
    switch (type) {
    case ActualPosition:
        m_model.clearActualPosition(0);
        return;
    case TargetVelocity:
        m_values[TargetVelocity] = value;
        m_model.enterMode(MotorModel::Mode::Velocity);
        return;
    case TargetPWM:
        m_values[TargetPWM] = value;
        m_model.enterMode(MotorModel::Mode::Pwm);
        return;
    case TargetCurrent:
        m_values[TargetCurrent] = value;
        m_model.enterMode(MotorModel::Mode::Torque);
        return;
    case SineInitialisation:
        m_values[SineInitialisation] = value;
        if (value == 0)
            m_model.startSineInitialisation();
        return;
    default:
        m_values[static_cast<size_t>(type)] = value;
        return;
    }
}
