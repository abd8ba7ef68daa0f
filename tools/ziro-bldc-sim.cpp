// ziro-bldc-sim: serves one simulated ZIRO-BLDC module on a pseudo-terminal until Ctrl-C.
// The port path goes to standard output (one line, for scripts); everything else to
// standard error.

#include "ServedModule.h"
#include "SimulatedModule.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

namespace {

void printError(const QString& text)
{
    std::fprintf(stderr, "ziro-bldc-sim: %s\n", text.toLocal8Bit().constData());
}

bool parseNumber(const QString& text, int minimum, int maximum, int* number)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < minimum || value > maximum)
        return false;
    *number = value;
    return true;
}

// Points path at target. An old link left behind by an earlier run is replaced; any other
// file stays untouched.
bool makeLink(const QString& target, const QString& path, QString* error)
{
    const QByteArray link = QFile::encodeName(path);
    const QFileInfo info(path);
    if (info.isSymLink()) {
        if (::unlink(link.constData()) != 0) {
            *error = QStringLiteral("cannot replace %1: %2")
                         .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
    } else if (info.exists()) {
        *error = QStringLiteral("%1 exists and is not a symbolic link").arg(path);
        return false;
    }
    if (::symlink(QFile::encodeName(target).constData(), link.constData()) != 0) {
        *error = QStringLiteral("cannot link %1: %2")
                     .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return true;
}

// Removes the link unless someone has pointed it elsewhere meanwhile.
void removeLink(const QString& target, const QString& path)
{
    if (QFileInfo(path).symLinkTarget() == QFileInfo(target).absoluteFilePath())
        ::unlink(QFile::encodeName(path).constData());
}

} // namespace

int main(int argc, char** argv)
{
    // Ctrl-C, kill and a closed terminal are taken by sigwait() below instead of ending the
    // process at once, so the link is removed and the pty closed. Blocked before any thread
    // starts, so that the peer's worker thread inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ziro-bldc-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Serves a simulated ZIRO-BLDC module on a pseudo-terminal until Ctrl-C.\n"
        "The port path is printed on standard output; open it in ziro-bldc or any serial "
        "tool."));
    parser.addHelpOption();
    const QCommandLineOption linkOption(QStringLiteral("link"),
                                        QStringLiteral("Make a symbolic link <path> to the port "
                                                       "(removed at exit)."),
                                        QStringLiteral("path"));
    const QCommandLineOption addressOption(
        QStringLiteral("address"),
        QStringLiteral("Module address <n>, 1 to 255; frames for other addresses get no "
                       "reply (default 1)."),
        QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption baudOption(
        QStringLiteral("baud"),
        QStringLiteral("Answer no faster than a line of <n> baud would carry request and "
                       "reply (10 bits a byte); 0 answers at once (default 0)."),
        QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption logOption(
        QStringLiteral("log"),
        QStringLiteral("Append every request frame that reaches the module to <file>, one "
                       "line of hex bytes each, written as it arrives."),
        QStringLiteral("file"));
    parser.addOption(linkOption);
    parser.addOption(addressOption);
    parser.addOption(baudOption);
    parser.addOption(logOption);
    parser.process(app);

    if (!parser.positionalArguments().isEmpty()) {
        printError(QStringLiteral("unexpected argument %1 (see --help)")
                       .arg(parser.positionalArguments().constFirst()));
        return 2;
    }
    int address = 1;
    if (!parseNumber(parser.value(addressOption), 1, 255, &address)) {
        printError(QStringLiteral("--address wants a number from 1 to 255"));
        return 2;
    }
    int baud = 0;
    if (!parseNumber(parser.value(baudOption), 0, 10000000, &baud)) {
        printError(QStringLiteral("--baud wants a number from 0 to 10000000"));
        return 2;
    }

    ServedModule served(address);
    served.peer().setBaudRate(baud);
    std::FILE* log = nullptr;
    if (parser.isSet(logOption)) {
        log = std::fopen(QFile::encodeName(parser.value(logOption)).constData(), "a");
        if (!log) {
            printError(
                QStringLiteral("cannot write %1: %2")
                    .arg(parser.value(logOption), QString::fromLocal8Bit(std::strerror(errno))));
            return 1;
        }
        // The line is written before the module answers, so a tool that has its reply
        // finds its request in the log.
        served.peer().setResponder([&served, log](const QByteArray& request) {
            std::fprintf(log, "%s\n", request.toHex(' ').constData());
            std::fflush(log);
            QByteArray reply;
            served.withModule([&](SimulatedModule& module) { reply = module.handle(request); });
            return reply.isEmpty() ? QList<PtyPeer::Chunk>{} : PtyPeer::answer(reply);
        });
    }
    QString error;
    if (!served.start(&error)) {
        printError(QStringLiteral("no pseudo-terminal: %1").arg(error));
        return 1;
    }
    const QString port = served.portName();

    const QString linkPath = parser.value(linkOption);
    if (!linkPath.isEmpty() && !makeLink(port, linkPath, &error)) {
        printError(error);
        return 1;
    }

    std::printf("%s\n", port.toLocal8Bit().constData());
    std::fflush(stdout);
    QString servedAs = QStringLiteral("module address %1 on %2").arg(address).arg(port);
    if (!linkPath.isEmpty())
        servedAs += QStringLiteral(" (link %1)").arg(linkPath);
    if (baud > 0)
        servedAs += QStringLiteral(", %1 baud").arg(baud);
    std::fprintf(stderr, "ziro-bldc-sim: serving %s. Ctrl-C stops.\n",
                 servedAs.toLocal8Bit().constData());

    int signal = 0;
    while (sigwait(&stopSignals, &signal) != 0) {
    }

    served.stop();
    if (log)
        std::fclose(log);
    if (!linkPath.isEmpty())
        removeLink(port, linkPath);
    std::fprintf(stderr, "ziro-bldc-sim: stopped.\n");
    return 0;
}
