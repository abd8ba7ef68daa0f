#pragma once

#include "comm/Protocol.h"

#include <QObject>
#include <QString>

#include <optional>

class ParameterModel;

// One axis parameter of one motor/bank as the window knows it: its number, the range, step,
// unit and tool tip of the field that shows it (from the catalogue), the last value the
// module reported, and what became of the last exchange for it. The panels' fields show
// it; an edit goes through it to the module, and the module's answer comes back to it.
//
// Only a reply with status 100 on a clean line is a value. A refused read, a read without
// an answer, or one on a line that was not clean leaves the last good value as it was and
// says why in state() and reason().
class Parameter : public QObject
{
    Q_OBJECT

public:
    enum class State
    {
        // Never read nor written.
        Unread,
        // The module reported the value (status 100, clean line).
        Read,
        // A write is on the line.
        Writing,
        // The module answered with another status than 100 (status()).
        Refused,
        // No reply came in time.
        NoReply,
        // A reply came, but bytes that answered no request came too: it may be another's.
        LineNotClean,
        // No link: the write was not sent. (A read without a link changes nothing.)
        NotConnected,
    };
    Q_ENUM(State)

    // Made by the model; without one (a panel on its own) nothing is sent.
    Parameter(quint8 motorBank, vokt::ParameterNumber number, ParameterModel* model = nullptr,
              QObject* parent = nullptr);

    quint8 motorBank() const { return m_motorBank; }
    vokt::ParameterNumber number() const { return m_number; }
    // The range and step of the field that shows the parameter, and the unit of its value
    // (empty for a plain number); the full 32-bit range and step 1 for a parameter no
    // field shows.
    int minimum() const { return m_minimum; }
    int maximum() const { return m_maximum; }
    int step() const { return m_step; }
    QString unit() const { return m_unit; }
    // "Axis parameter <number>".
    QString toolTip() const;

    // The last value the module reported (status 100, clean line), if any.
    std::optional<int> value() const { return m_value; }
    State state() const { return m_state; }
    // The status of the last refusal.
    int status() const { return m_status; }
    // Whether the last exchange was a write.
    bool lastWasWrite() const { return m_lastWasWrite; }
    // Why the shown value is not what the module holds, as a clause of its own
    // ("refused by the module (status 3)"); empty for Unread, Read and Writing.
    QString reason() const;

    // Asks the module for the value.
    void read();
    // Writes the user's value; the module's answer (the value it took) comes back here.
    void edit(int value);

    // What an exchange for the parameter came to: Read with the module's value, or why it
    // brought none (status: the refusal's).
    void take(State state, int value = 0, int status = 0);
    // Counts every outcome taken, so that the model sees whether an exchange brought one.
    quint64 outcomes() const { return m_outcomes; }
    // A write begins.
    void beginWrite();

signals:
    // After every outcome (a value, a refusal, no reply), and when a write begins.
    void changed();

private:
    quint8 m_motorBank;
    vokt::ParameterNumber m_number;
    ParameterModel* m_model;
    int m_minimum;
    int m_maximum;
    int m_step;
    QString m_unit;
    std::optional<int> m_value;
    State m_state = State::Unread;
    int m_status = 0;
    bool m_lastWasWrite = false;
    quint64 m_outcomes = 0;
};
