#pragma once

#include "sim/MotorModel.h"
#include "sim/ParameterTable.h"

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <array>

class VOKTRequest;

// A ZIRO-BLDC module in software: it takes 9-byte request frames and gives the 9-byte reply
// a module gives, and behind them runs a motor on motor/bank 0 (MotorModel). Its axis
// parameters are those of its ParameterTable.
//
// Every reply is: reply address (2), module address, status (see vokt::Status), the command
// it answers, the 32-bit value most significant byte first, and the checksum (sum of bytes
// 0-7 modulo 256). Frames that carry another module address get no reply at all, as on a
// bus. A set request answers with the value as the module took it; a refused one answers
// with the value the module kept.
//
// The motor moves with the clock: every request first brings the model up to the clock's
// time. The running module uses a monotonic clock; tests hand in a clock they step.
class SimulatedModule
{
public:
    // The reply address every reply carries.
    static constexpr quint8 ReplyAddress = 2;

    using Access = ParameterTable::Access;
    using ParameterInfo = ParameterTable::Info;
    using Clock = MotorModel::Clock;

    // Without a clock the module runs on the monotonic clock; its motor is the settings'.
    explicit SimulatedModule(int address = 1, Clock clock = {}, const MotorSettings& motor = {});
    SimulatedModule(const SimulatedModule&) = delete;
    SimulatedModule& operator=(const SimulatedModule&) = delete;

    int address() const { return m_address; }
    void setAddress(int address) { m_address = address; }

    // One request frame in, one reply frame out; empty when the module stays silent (a
    // frame for another address, or one that is not 9 bytes long).
    QByteArray handle(const QByteArray& request);
    // The request as its record goes on the line (its checksum as it stands).
    QByteArray handle(const VOKTRequest& request);

    // Brings the motor up to the clock's time. Every request does this first.
    void update();

    // What a get of the parameter answers now (0 for an unknown number).
    qint32 axisParameter(int type);
    // The value that a restore brings back.
    qint32 storedAxisParameter(int type) const;

    static ParameterInfo parameterInfo(int type);
    // Every axis parameter number the module knows, ascending.
    static QList<int> knownParameters();

private:
    struct Answer
    {
        quint8 status;
        qint32 value;
    };

    // The commands, after the frame was found good.
    Answer getAxis(int type, int motorBank);
    Answer setAxis(int type, int motorBank, qint32 value);
    Answer storeOrRestore(int command, int type, int motorBank);
    Answer move(int type, int motorBank, qint32 value);
    Answer getGlobal(int type, int bank);
    Answer setOutput(int type, int bank, qint32 value);
    Answer getInputOutput(int type, int bank);

    bool acceptsValue(int type, qint32 value) const;
    void applyAxis(int type, qint32 value);

    qint32 value(int type) const { return m_values[static_cast<size_t>(type)]; }

    int m_address;
    MotorModel::Values m_values{};
    MotorModel::Values m_stored{};
    std::array<qint32, 4> m_outputs{};
    // Last: it works on the values.
    MotorModel m_model;
};
