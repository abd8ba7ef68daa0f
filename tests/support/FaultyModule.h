#pragma once

#include "comm/LinkController.h"
#include "comm/SerialUSBCommandHandler.h"
#include "sim/PtyPeer.h"
#include "sim/SimulatedModule.h"

#include <QByteArray>
#include <QList>

#include <atomic>
#include <functional>

// A simulated module behind a line that fails on purpose from a given reply on, with a link
// controller and handler open on it, as the window and the command line have them. The
// module itself takes every request: only its answers are lost, garbled or doubled.
class FaultyModule
{
public:
    enum class Fault
    {
        None,
        // The nth reply never comes.
        DropOne,
        // From the nth reply on, garbage of a reply's length comes instead.
        GarbageFrom,
        // Every reply comes twice, 2 ms apart: two modules at one address.
        Twice,
    };

    FaultyModule(Fault fault, int nth = 0)
    {
        m_peer.setBaudRate(115200);
        m_peer.setResponder([this, fault, nth](const QByteArray& request) {
            const QByteArray reply = m_module.handle(request);
            const int index = ++m_replies;
            if (reply.isEmpty())
                return QList<PtyPeer::Chunk>{};
            switch (fault) {
            case Fault::None:
                break;
            case Fault::DropOne:
                if (index == nth)
                    return QList<PtyPeer::Chunk>{};
                break;
            case Fault::GarbageFrom:
                if (index >= nth)
                    return PtyPeer::answer(QByteArray(reply.size(), char(0xA5)));
                break;
            case Fault::Twice:
                return QList<PtyPeer::Chunk>{{0, reply}, {2, reply}};
            }
            return PtyPeer::answer(reply);
        });
        started = m_peer.start();
        opened = started && link.open({m_peer.portName(), QString(), 115200, 1});
    }
    ~FaultyModule()
    {
        link.close();
        m_peer.stop();
    }

    // The values of target velocity (2) written, in order: what moved and stopped the motor.
    QList<qint32> targetVelocities() const
    {
        QList<qint32> values;
        for (const QByteArray& request : m_peer.requests())
            if (request.at(1) == 5 && request.at(2) == 2)
                values << qint32((quint32(quint8(request.at(4))) << 24) |
                                 (quint32(quint8(request.at(5))) << 16) |
                                 (quint32(quint8(request.at(6))) << 8) | quint8(request.at(7)));
        return values;
    }
    int requestCount() const { return m_peer.requestCount(); }

    SerialUSBCommandHandler handler;
    LinkController link{handler};
    bool started = false;
    bool opened = false;

private:
    SimulatedModule m_module;
    std::atomic<int> m_replies{0};
    // Last, so that its worker, which uses the module, goes first.
    PtyPeer m_peer;
};
