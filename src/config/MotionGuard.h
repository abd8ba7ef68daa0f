#pragma once

#include "comm/Protocol.h"

#include <QString>

#include <functional>

class LinkController;
class SerialUSBCommandHandler;

// Stand-in with the guard's interface until the guard itself is merged: writes the motion
// requests and the stop (target velocity 0, up to three tries).
class MotionGuard
{
public:
    struct Stop
    {
        bool confirmed = false;
        int attempts = 0;
        bool reopened = false;
        QString error;
    };
    MotionGuard(SerialUSBCommandHandler& handler, LinkController* link,
                std::function<bool()> cancelled = {});
    ~MotionGuard();
    MotionGuard(const MotionGuard&) = delete;
    MotionGuard& operator=(const MotionGuard&) = delete;

    bool move(quint8 command, vokt::ParameterNumber type, qint32 value, QString* why);
    bool cancelled() const;
    const Stop& stop();
    bool moved() const { return m_moved; }
    static Stop stopMotor(SerialUSBCommandHandler& handler, LinkController* link);

private:
    SerialUSBCommandHandler& m_handler;
    LinkController* m_link;
    std::function<bool()> m_cancelled;
    bool m_moved = false;
    bool m_stopped = false;
    Stop m_stop;
};
