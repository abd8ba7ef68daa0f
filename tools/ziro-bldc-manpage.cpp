// ziro-bldc-manpage: makes the manual pages and the bash completion at build time, from
// the tools' own help, so that they never say other than the tools do. Not installed.
//
//     ziro-bldc-manpage cli OUTPUT                  ziro-bldc-cli(1), from its command table
//     ziro-bldc-manpage completion OUTPUT           the bash completion of ziro-bldc-cli
//     ziro-bldc-manpage help PROGRAM NAME OUTPUT    NAME(1), from what PROGRAM --help says

#include "cli/Completion.h"
#include "cli/ManPage.h"
#include "config/FileTarget.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

#include <cstdio>

namespace {

const QStringList Tools = {QStringLiteral("ziro-bldc"), QStringLiteral("ziro-bldc-cli"),
                           QStringLiteral("ziro-bldc-sim")};

int fail(const QString& text)
{
    std::fprintf(stderr, "ziro-bldc-manpage: %s\n", text.toLocal8Bit().constData());
    return 1;
}

// What program --help writes; empty, with *error, when it does not end well.
QString helpOf(const QString& program, QString* error)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The window answers --help before it needs a display; this keeps it from wanting one.
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.start(program, {QStringLiteral("--help")});
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        *error = QStringLiteral("%1 --help failed: %2 %3")
                     .arg(program, process.errorString(),
                          QString::fromLocal8Bit(process.readAllStandardError()));
        return QString();
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    QString content;
    QString output;
    if (args.size() == 2 && args.at(0) == QLatin1String("cli")) {
        content = cli::cliManPage();
        output = args.at(1);
    } else if (args.size() == 2 && args.at(0) == QLatin1String("completion")) {
        content = cli::bashCompletion();
        output = args.at(1);
    } else if (args.size() == 4 && args.at(0) == QLatin1String("help")) {
        QString error;
        const QString help = helpOf(args.at(1), &error);
        if (help.isEmpty())
            return fail(error);
        const QString name = args.at(2);
        QStringList others = Tools;
        others.removeAll(name);
        content = cli::manPage(name, help, others);
        output = args.at(3);
    } else {
        return fail(QStringLiteral("usage: ziro-bldc-manpage cli OUTPUT | completion OUTPUT | "
                                   "help PROGRAM NAME OUTPUT"));
    }
    QString why;
    if (!FileTarget::replace(output, content.toUtf8(), &why))
        return fail(QStringLiteral("%1: %2").arg(output, why));
    return 0;
}
