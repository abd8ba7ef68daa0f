#pragma once

#include "comm/Protocol.h"
#include "config/Parameter.h"

#include <QHash>
#include <QObject>
#include <QPointer>

#include "comm/SerialUSBCommandHandler.h"

// The window's parameters, one object per motor/bank and number, made when a field first
// asks for one. It connects once to the handler: every value the handler reports (an
// answer to a read or write, a polled live value) goes to the one parameter it is for,
// with the outcome of its exchange; answers for a number nobody shows are dropped.
//
// Reads and writes go through the handler's own slots (getAxisParameter,
// setAxisParameter), so everything else that listens to the handler hears them as
// before.
class ParameterModel : public QObject
{
    Q_OBJECT

public:
    // Without a handler nothing is sent: a read or write of a parameter does nothing.
    explicit ParameterModel(SerialUSBCommandHandler* handler = nullptr, QObject* parent = nullptr);

    // The parameter, made on first use.
    Parameter* parameter(quint8 motorBank, vokt::ParameterNumber number);
    // The parameter if it was made; nullptr otherwise.
    Parameter* find(quint8 motorBank, vokt::ParameterNumber number) const;

    void readValue(Parameter& parameter);
    void writeValue(Parameter& parameter, int value);

signals:
    // An exchange for the parameter brought no value: a write, or a read (or a polled
    // value) whose state was good before, so that one refused again and again is told
    // once.
    void notTaken(const Parameter& parameter);

private:
    // requestedValue and requestedTraceValue of the handler: the value of the reply to the
    // exchange just made.
    void takeAnswer(char motorBank, char type, int value);
    // After an exchange for the parameter that brought no answer signal: no reply.
    void finish(Parameter& parameter, quint64 outcomesBefore, Parameter::State stateBefore);

    // Gone with the window's handler: nothing is sent any more.
    QPointer<SerialUSBCommandHandler> m_handler;
    QHash<int, Parameter*> m_parameters;
    // A read or write of the model's own is on the line.
    bool m_inExchange = false;
};
