#include "config/ParameterModel.h"

#include "comm/SerialUSBCommandHandler.h"

namespace {

int key(quint8 motorBank, vokt::ParameterNumber number)
{
    return motorBank << 8 | number;
}

// The state an exchange's failure leaves a parameter in.
Parameter::State stateAfter(SerialUSBCommandHandler::Failure failure)
{
    switch (failure) {
    case SerialUSBCommandHandler::Failure::None:
        return Parameter::State::Read;
    case SerialUSBCommandHandler::Failure::Refused:
        return Parameter::State::Refused;
    case SerialUSBCommandHandler::Failure::LineNotClean:
        return Parameter::State::LineNotClean;
    case SerialUSBCommandHandler::Failure::TimedOut:
        return Parameter::State::NoReply;
    case SerialUSBCommandHandler::Failure::LinkLost:
        break;
    }
    return Parameter::State::NotConnected;
}

bool isGood(Parameter::State state)
{
    return state == Parameter::State::Unread || state == Parameter::State::Read ||
           state == Parameter::State::Writing;
}

} // namespace

ParameterModel::ParameterModel(SerialUSBCommandHandler* handler, QObject* parent)
    : QObject(parent), m_handler(handler)
{
    if (!m_handler)
        return;
    connect(m_handler, &SerialUSBCommandHandler::requestedValue, this, &ParameterModel::takeAnswer);
    connect(m_handler, &SerialUSBCommandHandler::requestedTraceValue, this,
            &ParameterModel::takeAnswer);
}

Parameter* ParameterModel::parameter(quint8 motorBank, vokt::ParameterNumber number)
{
    Parameter*& parameter = m_parameters[key(motorBank, number)];
    if (!parameter)
        parameter = new Parameter(motorBank, number, this, this);
    return parameter;
}

Parameter* ParameterModel::find(quint8 motorBank, vokt::ParameterNumber number) const
{
    return m_parameters.value(key(motorBank, number));
}

void ParameterModel::readValue(Parameter& parameter)
{
    if (!m_handler)
        return;
    const quint64 before = parameter.outcomes();
    const Parameter::State stateBefore = parameter.state();
    m_inExchange = true;
    m_handler->getAxisParameter(static_cast<char>(parameter.motorBank()),
                                static_cast<char>(parameter.number()));
    finish(parameter, before, stateBefore);
}

void ParameterModel::writeValue(Parameter& parameter, int value)
{
    if (!m_handler)
        return;
    parameter.beginWrite();
    const quint64 before = parameter.outcomes();
    m_inExchange = true;
    m_handler->setAxisParameter(static_cast<char>(parameter.motorBank()),
                                static_cast<char>(parameter.number()), value);
    finish(parameter, before, Parameter::State::Writing);
}

void ParameterModel::finish(Parameter& parameter, quint64 outcomesBefore,
                            Parameter::State stateBefore)
{
    m_inExchange = false;
    // A reply was reported through takeAnswer(); without one, the handler says why. A read
    // without a link asked nobody: the parameter stays as it was.
    if (parameter.outcomes() == outcomesBefore) {
        const Parameter::State state = stateAfter(m_handler->lastFailure());
        if (state == Parameter::State::NotConnected && !parameter.lastWasWrite())
            return;
        parameter.take(state);
    }
    if (!isGood(parameter.state()) && (parameter.lastWasWrite() || isGood(stateBefore)))
        emit notTaken(parameter);
}

void ParameterModel::takeAnswer(char motorBank, char type, int value)
{
    Parameter* parameter =
        find(static_cast<quint8>(motorBank), static_cast<vokt::ParameterNumber>(type));
    if (!parameter)
        return;
    const bool wasGood = isGood(parameter->state());
    parameter->take(stateAfter(m_handler->lastFailure()), value, m_handler->lastStatus());
    // A polled value, or one another part of the window asked for: told when it turns bad.
    if (!m_inExchange && wasGood && !isGood(parameter->state()))
        emit notTaken(*parameter);
}
