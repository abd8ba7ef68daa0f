#pragma once

#include "config/MotorAccess.h"
#include "support/SimBench.h"

#include <QList>
#include <QPair>

// A simulated module on a clock the test steps, as identification and tuning reach a
// module: every exchange moves the clock on by the time its frames take on a 115200-baud
// line (the module answers between request and reply), so a run of several seconds takes
// milliseconds. Every write is kept, in order.
class BenchAccess : public MotorAccess
{
public:
    explicit BenchAccess(const MotorSettings& motor = {}) : bench(motor) {}

    bool read(int type, qint32* value, double* seconds, QString* why) override
    {
        const SimBench::Answer answer = exchange(6, type, 0);
        *value = answer.value;
        *seconds = m_takenAt;
        return ok(answer, why);
    }
    bool move(int type, qint32 value, double* seconds, QString* why) override
    {
        if (cancelled()) {
            *why = QStringLiteral("cancelled");
            return false;
        }
        moved = true;
        const bool written = set(type, value, why);
        *seconds = m_takenAt;
        return written;
    }
    bool write(int type, qint32 value, QString* why) override { return set(type, value, why); }
    bool stop(QString* why) override
    {
        stopped = set(2, 0, why);
        if (!stopped)
            *why = QStringLiteral("stopping the motor (2 = 0) failed: %1; the motor may still move")
                       .arg(*why);
        return stopped;
    }
    bool cancelled() const override { return cancelAfterReads > 0 && reads >= cancelAfterReads; }
    double now() const override { return SimBench::seconds(bench.now); }

    SimBench::Bench bench;
    QList<QPair<int, qint32>> writes;
    int reads = 0;
    int cancelAfterReads = 0;
    bool moved = false;
    bool stopped = false;

private:
    // 9 bytes each way at 115200 baud, and a little turnaround.
    static constexpr std::chrono::nanoseconds FrameTime{781250};
    static constexpr std::chrono::nanoseconds Turnaround{200000};

    SimBench::Answer exchange(int command, int type, qint32 value)
    {
        bench.now += FrameTime;
        m_takenAt = SimBench::seconds(bench.now);
        const SimBench::Answer answer = bench.send(command, type, value);
        bench.now += FrameTime + Turnaround;
        if (command == 6)
            ++reads;
        return answer;
    }
    bool set(int type, qint32 value, QString* why)
    {
        writes.append({type, value});
        return ok(exchange(5, type, value), why);
    }
    static bool ok(const SimBench::Answer& answer, QString* why)
    {
        if (answer.status == SimBench::Ok)
            return true;
        *why = QStringLiteral("status %1").arg(answer.status);
        return false;
    }

    double m_takenAt = 0;
};
