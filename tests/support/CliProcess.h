#pragma once

#include "support/FileSizeLimit.h"

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
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
