#pragma once

#include "comm/Protocol.h"
#include "comm/VOKTRequest.h"
#include "sim/SimulatedModule.h"
#include "support/LogCapture.h"
#include "support/ServedHandler.h"

#include <QObject>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// The setting of the tests of file operations: each test function gets a folder of its own,
// a fresh simulated module with an open handler on its port, and the log lines from then on.
// A test class derives from it; its own private slots are the tests.
class ServedModuleTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_link = std::make_unique<ServedHandler>();
        QString error;
        QVERIFY2(m_link->start(&error), qPrintable(error));
        m_served = &m_link->served();
        m_handler = &m_link->handler();
        m_log = std::make_unique<LogCapture>();
    }

    void cleanup()
    {
        m_log.reset();
        m_link.reset();
        m_dir.reset();
    }

protected:
    QString path(const char* name) const { return m_dir->filePath(QLatin1String(name)); }

    // What the module holds in an axis parameter, and setting it as a write would.
    qint32 held(int type)
    {
        qint32 value = 0;
        m_served->withModule([&](SimulatedModule& module) { value = module.axisParameter(type); });
        return value;
    }
    void set(int type, qint32 value)
    {
        m_served->withModule([&](SimulatedModule& module) {
            const QByteArray reply = module.handle(VOKTRequest(1, 5, quint8(type), 0, value));
            QCOMPARE(int(quint8(reply.at(2))), int(vokt::StatusOk));
        });
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ServedHandler> m_link;
    ServedModule* m_served = nullptr;
    SerialUSBCommandHandler* m_handler = nullptr;
    std::unique_ptr<LogCapture> m_log;
};
