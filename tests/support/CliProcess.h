#pragma once

#include "support/FileSizeLimit.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

// Runs the command-line tool (ZIRO_CLI_COMMAND, defined by the test's target) as a process,
// as a line script would.

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs the command; room limits the size of every file it writes (a full disk), and
// stdoutFile takes its standard output in place of a pipe.
inline Run cli(const QStringList& args, qint64 room = 0, const QString& stdoutFile = QString())
{
    QProcess process;
    if (room > 0)
        FileSizeLimit::applyTo(process, room);
    if (!stdoutFile.isEmpty())
        process.setStandardOutputFile(stdoutFile);
    process.start(QStringLiteral(ZIRO_CLI_COMMAND), args);
    Run run;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        run.err = QStringLiteral("did not end normally");
        return run;
    }
    run.exitCode = process.exitCode();
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

inline QString describe(const Run& run)
{
    return QStringLiteral("exit %1\nstdout: %2\nstderr: %3")
        .arg(run.exitCode)
        .arg(run.out, run.err);
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), content.size());
}

#ifdef ZIRO_SIM_COMMAND
// The simulator command (ZIRO_SIM_COMMAND, defined by the test's target) serving one module
// on a link in a folder of its own, logging every frame it receives: the module a test runs
// the command against.
class SimulatorProcess
{
public:
    ~SimulatorProcess() { stop(); }

    // Serves the module (with the simulator's options given, e.g. its motor); true once
    // its link is there.
    bool start(const QStringList& options = {})
    {
        if (!m_dir.isValid())
            return false;
        m_sim.start(QStringLiteral(ZIRO_SIM_COMMAND),
                    QStringList{QStringLiteral("--link"), path(QStringLiteral("port")),
                                QStringLiteral("--log"), path(QStringLiteral("received.log"))} +
                        options);
        // The port path on standard output says the module is served.
        return m_sim.waitForStarted() && m_sim.waitForReadyRead(10000) &&
               QFileInfo(path(QStringLiteral("port"))).isSymLink();
    }
    bool stop()
    {
        if (m_sim.state() == QProcess::NotRunning)
            return true;
        m_sim.terminate();
        return m_sim.waitForFinished(10000);
    }

    // A file in the folder.
    QString path(const QString& name) const { return m_dir.filePath(name); }
    // The arguments for a run of the command against the module, without debug lines.
    QStringList onLink(const QStringList& args) const
    {
        return QStringList{QStringLiteral("--port"), path(QStringLiteral("port")),
                           QStringLiteral("--quiet")} +
               args;
    }
    // The frames the module has received so far, as hex lines.
    QStringList received() const
    {
        return QString::fromLatin1(readFile(path(QStringLiteral("received.log"))))
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private:
    QTemporaryDir m_dir;
    QProcess m_sim;
};
#endif
