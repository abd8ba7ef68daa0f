#pragma once

#include "comm/Protocol.h"
#include "comm/VOKTRequest.h"
#include "comm/VOKTUSBReply.h"
#include "config/ParameterNumbers.h"
#include "sim/SimulatedModule.h"

#include <QByteArray>

#include <chrono>

// A simulated module on a clock that the test steps, talked to with whole frames.
namespace SimBench {

using namespace std::chrono_literals;

constexpr int Ok = vokt::StatusOk;

struct Answer
{
    bool silent = true;
    int status = -1;
    int command = -1;
    qint32 value = 0;
};

class Bench
{
public:
    explicit Bench(const MotorSettings& motor = {})
        : module(
              1, [this] { return now; }, motor)
    {
    }
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    Answer send(int command, int type, qint32 value = 0, int motorBank = 0, int address = 1)
    {
        return decode(module.handle(
            VOKTRequest(quint8(address), quint8(command), quint8(type), quint8(motorBank), value)));
    }
    static Answer decode(const QByteArray& frame)
    {
        Answer answer;
        if (frame.size() != 9)
            return answer;
        const VOKTUSBReply reply(frame);
        answer.silent = false;
        answer.status = reply.status();
        answer.command = reply.command();
        answer.value = reply.value();
        return answer;
    }
    qint32 get(int type) { return send(6, type).value; }
    int set(int type, qint32 value) { return send(5, type, value).status; }
    int moveTo(int moveType, qint32 value) { return send(4, moveType, value).status; }
    quint32 flags() { return quint32(get(ParameterCatalogue::StatusFlags)); }
    void run(std::chrono::nanoseconds time) { now += time; }
    // Steps the clock by tick until done() holds or limit has passed; the time it took.
    template <class Done>
    std::chrono::nanoseconds runUntil(Done done, std::chrono::nanoseconds limit,
                                      std::chrono::nanoseconds tick = 10ms)
    {
        const auto start = now;
        while (!done() && now - start < limit)
            now += tick;
        return now - start;
    }

    std::chrono::nanoseconds now{0};
    SimulatedModule module;
};

inline double seconds(std::chrono::nanoseconds time)
{
    return std::chrono::duration<double>(time).count();
}

} // namespace SimBench
