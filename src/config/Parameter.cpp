#include "config/Parameter.h"

#include "config/ParameterCatalogue.h"
#include "config/ParameterModel.h"

#include <QCoreApplication>

#include <limits>

Parameter::Parameter(quint8 motorBank, vokt::ParameterNumber number, ParameterModel* model,
                     QObject* parent)
    : QObject(parent), m_motorBank(motorBank), m_number(number), m_model(model),
      m_minimum(std::numeric_limits<int>::min()), m_maximum(std::numeric_limits<int>::max()),
      m_step(1)
{
    if (const ParameterCatalogue::Field* field = ParameterCatalogue::field(number)) {
        m_minimum = field->minimum;
        m_maximum = field->maximum;
        m_step = field->step;
        m_unit = QString::fromUtf8(field->unit);
    }
}

QString Parameter::toolTip() const
{
    return QCoreApplication::translate("BLDC", "Axis parameter %1").arg(m_number);
}

QString Parameter::reason() const
{
    switch (m_state) {
    case State::Refused:
        return QCoreApplication::translate("Parameter", "refused by the module (status %1)")
            .arg(m_status);
    case State::NoReply:
        return QCoreApplication::translate("Parameter", "no reply from the module");
    case State::LineNotClean:
        return QCoreApplication::translate(
            "Parameter", "the line is not clean: the answer may be another request's");
    case State::NotConnected:
        return QCoreApplication::translate("Parameter", "not connected");
    case State::Unread:
    case State::Read:
    case State::Writing:
        break;
    }
    return QString();
}

void Parameter::read()
{
    m_lastWasWrite = false;
    if (m_model)
        m_model->readValue(*this);
}

void Parameter::edit(int value)
{
    if (m_model)
        m_model->writeValue(*this, value);
}

void Parameter::beginWrite()
{
    m_lastWasWrite = true;
    m_state = State::Writing;
    emit changed();
}

void Parameter::take(State state, int value, int status)
{
    ++m_outcomes;
    if (state == State::Read)
        m_value = value;
    m_state = state;
    m_status = state == State::Refused ? status : 0;
    emit changed();
}
