// ziro-bldc-cli: commissions a ZIRO-BLDC module from the command line. It speaks to the
// module through the same handler, serial device, catalogue and file operations as the
// window, so both send the same bytes.
//
// Results go to standard output, diagnostics (and, with a terminal, progress) to standard
// error. Exit status: 0 success, 1 the module refused something or did not answer, or the
// line was not clean, 2 bad usage or a malformed file (nothing sent), 3 the port could not
// be opened.

#include "comm/DebugLine.h"
#include "comm/LinkController.h"
#include "comm/PortDiscovery.h"
#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "comm/SerialUSBDevice.h"
#include "comm/VOKTRequest.h"
#include "comm/VOKTUSBReply.h"
#include "config/CommandScript.h"
#include "config/CsvRecorder.h"
#include "config/FileTarget.h"
#include "config/InputText.h"
#include "config/ParameterCatalogue.h"
#include "config/ParameterStore.h"
#include "config/ScriptRunner.h"
#include "config/SettingsFile.h"
#include "sim/ServedModule.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSettings>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <unistd.h>

namespace {

enum ExitCode
{
    ExitOk = 0,
    ExitRefused = 1,
    ExitUsage = 2,
    ExitPort = 3,
};

constexpr int DefaultIntervalMs = 100;

// ---------------------------------------------------------------------------------------
// Output

// The first failed write to standard output (a full disk, /dev/full): the command's exit
// status is then 1 at least, for output that did not arrive is no success.
int g_stdoutError = 0;

// false when the line did not reach standard output.
bool printOut(const QString& line)
{
    std::fputs(line.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        if (g_stdoutError == 0)
            g_stdoutError = errno != 0 ? errno : EIO;
        return false;
    }
    return true;
}

// The exit status once every result is out: 1 at least when standard output did not take
// all of them, which is then said on standard error.
int checkedOutput(int status)
{
    if (std::fflush(stdout) != 0 && g_stdoutError == 0)
        g_stdoutError = errno != 0 ? errno : EIO;
    if (g_stdoutError == 0)
        return status;
    std::fprintf(stderr, "ziro-bldc-cli: could not write the results to standard output: %s\n",
                 std::strerror(g_stdoutError));
    return status == ExitOk ? int(ExitRefused) : status;
}

void clearProgressLine();

void printError(const QString& text)
{
    clearProgressLine();
    std::fprintf(stderr, "ziro-bldc-cli: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

// A percentage on standard error while a long command runs, only when a person watches.
class Progress
{
public:
    Progress(const QString& label, int total)
        : m_label(label), m_total(total), m_shown(-1), m_enabled(::isatty(STDERR_FILENO))
    {
        s_current = this;
        show(0);
    }
    ~Progress() { finish(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Leaves the last percentage standing on its own line.
    void finish()
    {
        if (m_enabled && m_shown >= 0)
            std::fputc('\n', stderr);
        m_enabled = false;
        if (s_current == this)
            s_current = nullptr;
    }

    void setDone(int done) { show(m_total > 0 ? qMin(100, done * 100 / m_total) : 100); }
    static Progress* current() { return s_current; }

    // Takes the line away before another line is written; the next step draws it again.
    void clear()
    {
        if (m_enabled && m_shown >= 0) {
            std::fputs("\r\033[K", stderr);
            m_shown = -1;
        }
    }

private:
    void show(int percent)
    {
        if (!m_enabled || percent == m_shown)
            return;
        m_shown = percent;
        std::fprintf(stderr, "\r%s: %3d%%", m_label.toLocal8Bit().constData(), percent);
        std::fflush(stderr);
    }

    static Progress* s_current;
    QString m_label;
    int m_total;
    int m_shown;
    bool m_enabled;
};

Progress* Progress::s_current = nullptr;

void clearProgressLine()
{
    if (Progress::current())
        Progress::current()->clear();
}

bool g_quiet = false;

// The tool's debug lines (every frame the handler sends and receives, the file operations'
// reports) go to standard error, or nowhere with --quiet.
void messageHandler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    const char* prefix = messagePrefix(type);
    if (!prefix || (type == QtDebugMsg && g_quiet))
        return;
    clearProgressLine();
    std::fprintf(stderr, "%s%s\n", prefix, message.toLocal8Bit().constData());
    std::fflush(stderr);
    if (type == QtFatalMsg)
        std::abort();
}

// Ctrl-C, kill and a closed terminal do not cut an exchange or a file operation in half:
// the first one is noted and the command ends as soon as that is safe (a recording after
// the cycle in progress, a script, a store or restore walk and a get after the exchange in
// progress, a file operation when its file is complete, or at once on a line already
// found not clean). A second one ends the process at once.
std::atomic<bool> g_stopRequested{false};
bool g_stopNotice = true;

void requestStop(int)
{
    g_stopRequested = true;
    static const char notice[] =
        "\nziro-bldc-cli: interrupted: ending as soon as it is safe (again to end at once)\n";
    if (g_stopNotice)
        (void)!::write(STDERR_FILENO, notice, sizeof notice - 1);
}

void catchStopSignals(bool notice)
{
    g_stopNotice = notice;
    struct sigaction action = {};
    action.sa_handler = requestStop;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

// ---------------------------------------------------------------------------------------
// Numbers and names

// A whole decimal number within [minimum, maximum]; otherwise *error says what is wrong.
std::optional<qint64> parseNumber(const QString& text, qint64 minimum, qint64 maximum,
                                  const QString& what, QString* error)
{
    QString why;
    const std::optional<qint64> value = InputText::wholeNumber(text, minimum, maximum, &why);
    if (!value)
        *error = QStringLiteral("%1: %2").arg(what, why);
    return value;
}

std::optional<quint8> parseByte(const QString& text, const QString& what, QString* error)
{
    const auto value = parseNumber(text, 0, 255, what, error);
    return value ? std::optional<quint8>(static_cast<quint8>(*value)) : std::nullopt;
}

std::optional<qint32> parseValue(const QString& text, QString* error)
{
    const auto value =
        parseNumber(text, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max(),
                    QStringLiteral("value (32-bit)"), error);
    return value ? std::optional<qint32>(static_cast<qint32>(*value)) : std::nullopt;
}

std::optional<quint8> parseParameter(const QString& text, QString* error)
{
    const int number = ParameterCatalogue::numberOf(text, error);
    return number < 0 ? std::nullopt : std::optional<quint8>(static_cast<quint8>(number));
}

QString statusText(const VOKTUSBReply& reply)
{
    return QStringLiteral("status %1").arg(reply.status());
}

// ---------------------------------------------------------------------------------------
// The command line

struct Invocation
{
    QString port;
    bool sim = false;
    std::optional<int> baud;
    int address = 1;
    bool quiet = false;
    bool help = false;
    QString command;
    QStringList arguments;
    // Options of the command itself.
    std::optional<QString> interval;
    std::optional<QString> count;
    std::optional<QString> csv;
    bool keepGoing = false;
};

struct CommandHelp
{
    const char* name;
    const char* synopsis;
    const char* text;
    const char* example;
};

const CommandHelp commandHelp[] = {
    {"ports", "ports",
     "Lists the ports the window would offer, one a line: the name, a tab, the kind (USB or\n"
     "serial) and, for USB ports, a tab and the port's description. A port that cannot be\n"
     "opened for lack of permission is named on standard error with the reason.",
     "ziro-bldc-cli ports"},
    {"get", "get PARAMETER [PARAMETER...]",
     "Reads axis parameters of motor/bank 0 and prints PARAMETER<TAB>value for each, the\n"
     "parameter as given. A parameter is a number 0 to 255 or a name of the catalogue: a\n"
     "settings key (MaxCurrent), group/key (velocity_PID_values/P_set_1) or a live value\n"
     "(ActualVelocity, StatusFlags, ...).",
     "ziro-bldc-cli --port ttyUSB0 get MaxCurrent 4 motion_settings/Acceleration"},
    {"set", "set PARAMETER VALUE",
     "Writes one axis parameter of motor/bank 0 and prints PARAMETER<TAB>value with the\n"
     "value the module answered. A refused write (status other than 100) is reported with\n"
     "the module's status and the value it keeps, and exits 1.",
     "ziro-bldc-cli --port ttyUSB0 set motion_settings/Acceleration 2000"},
    {"stop", "stop",
     "Stops the motor: writes target velocity 0 (parameter 2) to motor/bank 0, as the\n"
     "window's \"Stop motor\" (Esc) does, which brings the motor to rest under its ramp in\n"
     "every mode. Prints TargetVelocity<TAB>value with the value the module answered.",
     "ziro-bldc-cli --port ttyUSB0 stop"},
    {"raw", "raw COMMAND TYPE BANK VALUE",
     "Sends one request with the given command, type and motor/bank numbers (0 to 255)\n"
     "and 32-bit value, and prints the reply's fields: reply address, module address,\n"
     "status, command and value. Exits 1 when the status is not 100.",
     "ziro-bldc-cli --port ttyUSB0 raw 6 4 0 0"},
    {"export-ini", "export-ini FILE",
     "Reads the 44 parameters of the module's configuration and saves them to the settings\n"
     "file FILE, as the window's \"Export settings to *.ini\" does. The file is written only\n"
     "when every parameter was read, and replaced only when completely written. An existing\n"
     "FILE must be a settings file: anything else is left alone.",
     "ziro-bldc-cli --port ttyUSB0 export-ini motor7.ini"},
    {"import-ini", "import-ini FILE",
     "Writes the parameters the settings file FILE holds to the module and reads each one\n"
     "back, as the window's \"Import settings from *.ini\" does. A key the file lacks, or\n"
     "whose text is not a number, is not written.",
     "ziro-bldc-cli --port ttyUSB0 import-ini motor7.ini"},
    {"export-script", "export-script FILE",
     "Reads the 44 parameters and writes them as a command script (SAP and STAP lines) to\n"
     "FILE, as the window's \"Export settings to VOKT\" does. Nothing is left behind when a\n"
     "parameter cannot be read.",
     "ziro-bldc-cli --port ttyUSB0 export-script motor7.vkt"},
    {"store", "store",
     "Tells the module to store every axis parameter 0 to 255 in its non-volatile memory,\n"
     "as the window's \"Store actual values\" does, and prints how many it stored and\n"
     "refused (\"store: stored 45, refused 211\"). The module refuses the numbers it does\n"
     "not know or keeps no copy of; a refused setting of the configuration exits 1.",
     "ziro-bldc-cli --port ttyUSB0 store"},
    {"restore", "restore",
     "Tells the module to restore every axis parameter 0 to 255 from its non-volatile\n"
     "memory and reads each one back, as the window's \"Restore actual values\" does; it\n"
     "reports as store does.",
     "ziro-bldc-cli --port ttyUSB0 restore"},
    {"run-script", "run-script [--keep-going] FILE",
     "Runs a command script as the window exports it: SAP n, bank, value sets an axis\n"
     "parameter, STAP n, bank stores it; headers, comments and empty lines are skipped.\n"
     "The whole file is checked first: a malformed line stops it with the file, line and\n"
     "reason, and nothing is sent. Every command the module refuses or does not answer is\n"
     "reported; the run stops at the first unless --keep-going is given.",
     "ziro-bldc-cli --port ttyUSB0 run-script motor7.vkt"},
    {"watch", "watch [--interval MS] [--count N] [--csv FILE]",
     "Polls the live values the window charts (actual velocity, ramp velocity, actual and\n"
     "target position, actual PWM and current, status word) every MS milliseconds (default\n"
     "100; a cycle that takes longer is followed by the next at once). Prints a header line\n"
     "and one line per cycle, tab-separated, or with --csv writes FILE: a header row, then\n"
     "one row per cycle with the time in ms since the start and one column per value,\n"
     "named after the catalogue; a value without answer is left empty. FILE is created\n"
     "with the first complete cycle and always ends on a whole row. Runs N cycles, or\n"
     "until Ctrl-C, which ends it cleanly with the file complete.",
     "ziro-bldc-cli --port ttyUSB0 --quiet watch --count 100 --csv run.csv"},
};

const CommandHelp* findCommand(const QString& name)
{
    for (const CommandHelp& help : commandHelp)
        if (name == QLatin1String(help.name))
            return &help;
    return nullptr;
}

QString generalHelp()
{
    QString text = QStringLiteral(
        "Usage: ziro-bldc-cli [--port PATH | --sim] [--baud N] [--address N] [--quiet] COMMAND "
        "[ARGS]\n"
        "\n"
        "Commissions a ZIRO-BLDC module from the command line.\n"
        "\n"
        "Options:\n"
        "  --port PATH   the module's port: a name (ttyUSB0) or a path (/dev/ttyUSB0, a pty,\n"
        "                a symbolic link)\n"
        "  --sim         a simulated module served by the tool itself, to try commands\n"
        "  --baud N      line speed; 8 data bits, one stop bit, no parity, no flow control.\n"
        "                Without it the port keeps its own line settings (USB ports).\n"
        "  --address N   module address 1 to 255 (default 1)\n"
        "  --quiet       no debug lines (every frame sent and received) on standard error\n"
        "  --help        this text; COMMAND --help describes one command\n"
        "\n"
        "Commands:\n");
    for (const CommandHelp& help : commandHelp)
        text += QStringLiteral("  %1\n      e.g. %2\n")
                    .arg(QLatin1String(help.synopsis), QLatin1String(help.example));
    text += QStringLiteral(
        "\n"
        "Exit status:\n"
        "  0  success\n"
        "  1  the module refused something (status other than 100) or did not answer, or the\n"
        "     line was not clean (bytes arrived that answered no request: a late answer, a\n"
        "     line echo or a second module at the address)\n"
        "  2  bad usage or a malformed file; nothing was sent\n"
        "  3  the port could not be opened (the reason is on standard error)\n");
    return text;
}

QString helpFor(const CommandHelp& help)
{
    return QStringLiteral("Usage: ziro-bldc-cli [--port PATH | --sim] [OPTIONS] %1\n\n%2\n\n"
                          "Example:\n  %3\n")
        .arg(QLatin1String(help.synopsis), QLatin1String(help.text), QLatin1String(help.example));
}

// Options may stand before or after the command; an argument that does not begin with
// "--" (a negative value, for one) is an argument.
bool parseCommandLine(const QStringList& args, Invocation* invocation, QString* error)
{
    struct Option
    {
        const char* name;
        bool takesValue;
        const char* command; // the command it belongs to; nullptr for every command
    };
    static const Option options[] = {
        {"port", true, nullptr},     {"sim", false, nullptr},
        {"baud", true, nullptr},     {"address", true, nullptr},
        {"quiet", false, nullptr},   {"help", false, nullptr},
        {"interval", true, "watch"}, {"count", true, "watch"},
        {"csv", true, "watch"},      {"keep-going", false, "run-script"},
    };
    QList<const Option*> commandOptions;
    QString baud;
    QString address;
    bool onlyArguments = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (!onlyArguments && arg == QLatin1String("--")) {
            onlyArguments = true;
            continue;
        }
        if (onlyArguments || !arg.startsWith(QLatin1String("--"))) {
            if (!onlyArguments && arg == QLatin1String("-h"))
                invocation->help = true;
            else if (invocation->command.isEmpty())
                invocation->command = arg;
            else
                invocation->arguments << arg;
            continue;
        }
        const qsizetype equals = arg.indexOf(QLatin1Char('='));
        const QString name = arg.mid(2, equals < 0 ? -1 : equals - 2);
        const Option* option = nullptr;
        for (const Option& candidate : options)
            if (name == QLatin1String(candidate.name))
                option = &candidate;
        if (!option) {
            *error = QStringLiteral("unknown option --%1").arg(InputText::shown(name));
            return false;
        }
        if (option->command)
            commandOptions << option;
        QString value;
        if (option->takesValue) {
            if (equals >= 0) {
                value = arg.mid(equals + 1);
            } else if (i + 1 < args.size()) {
                value = args.at(++i);
            } else {
                *error = QStringLiteral("--%1 needs a value").arg(name);
                return false;
            }
        } else if (equals >= 0) {
            *error = QStringLiteral("--%1 takes no value").arg(name);
            return false;
        }
        if (name == QLatin1String("port"))
            invocation->port = value;
        else if (name == QLatin1String("sim"))
            invocation->sim = true;
        else if (name == QLatin1String("baud"))
            baud = value;
        else if (name == QLatin1String("address"))
            address = value;
        else if (name == QLatin1String("quiet"))
            invocation->quiet = true;
        else if (name == QLatin1String("help"))
            invocation->help = true;
        else if (name == QLatin1String("interval"))
            invocation->interval = value;
        else if (name == QLatin1String("count"))
            invocation->count = value;
        else if (name == QLatin1String("csv"))
            invocation->csv = value;
        else if (name == QLatin1String("keep-going"))
            invocation->keepGoing = true;
    }
    for (const Option* option : std::as_const(commandOptions)) {
        if (!invocation->help && invocation->command != QLatin1String(option->command)) {
            *error = QStringLiteral("--%1 belongs to the %2 command")
                         .arg(QLatin1String(option->name), QLatin1String(option->command));
            return false;
        }
    }
    if (!baud.isNull()) {
        const auto number = parseNumber(baud, 1, 4000000, QStringLiteral("--baud"), error);
        if (!number)
            return false;
        invocation->baud = static_cast<int>(*number);
    }
    if (!address.isNull()) {
        const auto number = parseNumber(address, 1, 255, QStringLiteral("--address"), error);
        if (!number)
            return false;
        invocation->address = static_cast<int>(*number);
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// The link

// The serial device, counting the frames it puts on the line.
class CountingDevice : public SerialUSBDevice
{
public:
    using SerialUSBDevice::SerialUSBDevice;

    // Told the number of frames sent so far after every frame.
    void setOnFrame(std::function<void(int)> onFrame) { m_onFrame = std::move(onFrame); }

protected:
    qint64 writeData(const char* data, qint64 size) override
    {
        const qint64 written = SerialUSBDevice::writeData(data, size);
        ++m_frames;
        if (m_onFrame)
            m_onFrame(m_frames);
        return written;
    }

private:
    int m_frames = 0;
    std::function<void(int)> m_onFrame;
};

class Link
{
public:
    Link()
    {
        // The process ends after a time-out: a late answer must not wait in the port for
        // the next run.
        m_handler.setAwaitLateAnswer(true);
        m_controller.setDeviceFactory([this](const QString& port, const QString& description) {
            auto device = std::make_unique<CountingDevice>(port, description);
            m_device = device.get();
            return std::unique_ptr<SerialUSBDevice>(std::move(device));
        });
    }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // Opens the port (or serves the simulated module); false, with the reason, if it
    // cannot be had.
    bool open(const Invocation& invocation, QString* error)
    {
        QString port = invocation.port;
        if (invocation.sim) {
            m_served = std::make_unique<ServedModule>(invocation.address);
            QString why;
            if (!m_served->start(&why)) {
                *error = QStringLiteral("cannot serve the simulated module: %1").arg(why);
                return false;
            }
            port = m_served->portName();
        }
        if (m_controller.open({port, QString(), invocation.baud.value_or(0), invocation.address}))
            return true;
        *error = QStringLiteral("could not open: %1").arg(port);
        QString why = m_controller.closeReason();
        if (why.isEmpty())
            why = PortDiscovery::openProblem(
                port.startsWith(QLatin1Char('/')) ? port : QStringLiteral("/dev/") + port);
        if (!why.isEmpty())
            *error += QStringLiteral(" (%1)").arg(why);
        return false;
    }

    SerialUSBCommandHandler& handler() { return m_handler; }
    void setOnFrame(std::function<void(int)> onFrame)
    {
        if (m_device)
            m_device->setOnFrame(std::move(onFrame));
    }

    // One exchange: the reply, or nothing when none came.
    std::optional<VOKTUSBReply> exchange(quint8 command, vokt::ParameterNumber type,
                                         quint8 motorBank, qint32 value)
    {
        return m_handler.exchange(command, type, motorBank, value).reply;
    }

private:
    // In this order, so that the link's device goes first, then the handler, then the
    // module.
    std::unique_ptr<ServedModule> m_served;
    SerialUSBCommandHandler m_handler;
    LinkController m_controller{m_handler};
    CountingDevice* m_device = nullptr;
};

// What a command does once the port is open; its exit status.
using Action = std::function<int(Link&)>;

QString noReply(const QString& what)
{
    return QStringLiteral("%1: no reply from the module").arg(what);
}

// After the last exchange of a command: false, with the reason on standard error, when
// bytes arrived during it that answered no request, so that an answer it took may belong
// to another request.
bool lineWasClean(SerialUSBCommandHandler::Batch& batch, const QString& what, int address)
{
    if (batch.isClean())
        return true;
    printError(QStringLiteral("%1: the line is not clean: %2 bytes arrived that answered no "
                              "request (a late answer, a line echo or a second module at "
                              "address %3); an answer may belong to another request")
                   .arg(what)
                   .arg(batch.unansweredBytes())
                   .arg(address));
    return false;
}

// An interrupted file operation completes its file, unless the line is already known not
// to be clean: then the file cannot be good, and the command ends at once.
bool interruptedOnDirtyLine(const SerialUSBCommandHandler::Batch& batch)
{
    return g_stopRequested && batch.unansweredBytes() > 0;
}

// ---------------------------------------------------------------------------------------
// Commands. Each checks its arguments and returns what it will do with the link, or sets
// *error; nothing is sent before every argument has been checked.

int listPorts()
{
    const QList<PortDiscovery::Port> ports = PortDiscovery::systemPorts();
    for (const PortDiscovery::Port& port : ports) {
        if (port.usb) {
            printOut(QStringLiteral("%1\tUSB\t%2").arg(port.name, port.description));
            const QString problem = PortDiscovery::permissionProblem(port.name);
            if (!problem.isEmpty())
                printError(QStringLiteral("%1 cannot be opened: %2").arg(port.name, problem));
            continue;
        }
        bool permission = false;
        const QString problem = PortDiscovery::openProblem(port.name, &permission);
        if (problem.isEmpty())
            printOut(QStringLiteral("%1\tserial").arg(port.name));
        else if (permission)
            printError(QStringLiteral("%1 cannot be opened: %2").arg(port.name, problem));
    }
    return ExitOk;
}

Action prepareGet(const QStringList& args, QString* error)
{
    if (args.isEmpty()) {
        *error = QStringLiteral("get: which parameter? (get PARAMETER [PARAMETER...])");
        return {};
    }
    QList<quint8> numbers;
    for (const QString& arg : args) {
        const auto number = parseParameter(arg, error);
        if (!number)
            return {};
        numbers << *number;
    }
    return [args, numbers](Link& link) {
        // The values are shown only when the line stayed clean.
        SerialUSBCommandHandler::Batch batch(link.handler());
        QStringList lines;
        int result = ExitOk;
        for (int i = 0; i < numbers.size(); ++i) {
            if (g_stopRequested) {
                printError(QStringLiteral("get: interrupted"));
                result = ExitRefused;
                break;
            }
            const auto reply = link.exchange(vokt::GetAxisParameter, numbers.at(i), 0, 0);
            if (!reply) {
                printError(noReply(QStringLiteral("get %1").arg(InputText::shown(args.at(i)))));
                result = ExitRefused;
                break;
            }
            if (reply->status() != vokt::StatusOk) {
                printError(QStringLiteral("get %1: refused by the module (%2)")
                               .arg(InputText::shown(args.at(i)), statusText(*reply)));
                result = ExitRefused;
                continue;
            }
            lines << QStringLiteral("%1\t%2").arg(args.at(i)).arg(reply->value());
        }
        if (!lineWasClean(batch, QStringLiteral("get"), link.handler().moduleAddress()))
            return int(ExitRefused);
        for (const QString& line : std::as_const(lines))
            printOut(line);
        return result;
    };
}

Action prepareSet(const QStringList& args, QString* error)
{
    if (args.size() != 2) {
        *error = QStringLiteral("set wants a parameter and a value (set PARAMETER VALUE)");
        return {};
    }
    const auto number = parseParameter(args.at(0), error);
    if (!number)
        return {};
    const auto value = parseValue(args.at(1), error);
    if (!value)
        return {};
    return [args, number, value](Link& link) {
        SerialUSBCommandHandler::Batch batch(link.handler());
        const auto reply = link.exchange(vokt::SetAxisParameter, *number, 0, *value);
        const QString what = QStringLiteral("set %1 %2")
                                 .arg(InputText::shown(args.at(0)), InputText::shown(args.at(1)));
        const bool clean = lineWasClean(batch, what, link.handler().moduleAddress());
        if (!reply) {
            printError(noReply(what));
            return int(ExitRefused);
        }
        if (!clean)
            return int(ExitRefused);
        if (reply->status() != vokt::StatusOk) {
            printError(QStringLiteral("%1: refused by the module (%2); it answered %3")
                           .arg(what, statusText(*reply))
                           .arg(reply->value()));
            return int(ExitRefused);
        }
        printOut(QStringLiteral("%1\t%2").arg(args.at(0)).arg(reply->value()));
        return int(ExitOk);
    };
}

// Target velocity 0, the write of the window's "Stop motor".
Action prepareStop(const QStringList& args, QString* error)
{
    if (!args.isEmpty()) {
        *error = QStringLiteral("stop takes no argument");
        return {};
    }
    return prepareSet({QStringLiteral("TargetVelocity"), QStringLiteral("0")}, error);
}

Action prepareRaw(const QStringList& args, QString* error)
{
    if (args.size() != 4) {
        *error = QStringLiteral("raw wants four numbers (raw COMMAND TYPE BANK VALUE)");
        return {};
    }
    const auto command = parseByte(args.at(0), QStringLiteral("command"), error);
    if (!command)
        return {};
    const auto type = parseByte(args.at(1), QStringLiteral("type"), error);
    if (!type)
        return {};
    const auto bank = parseByte(args.at(2), QStringLiteral("motor/bank"), error);
    if (!bank)
        return {};
    const auto value = parseValue(args.at(3), error);
    if (!value)
        return {};
    return [=](Link& link) {
        SerialUSBCommandHandler::Batch batch(link.handler());
        const auto reply = link.exchange(*command, *type, *bank, *value);
        const bool clean =
            lineWasClean(batch, QStringLiteral("raw"), link.handler().moduleAddress());
        if (!reply) {
            printError(noReply(QStringLiteral("raw")));
            return int(ExitRefused);
        }
        if (!clean)
            return int(ExitRefused);
        printOut(QStringLiteral("reply-address=%1 module-address=%2 status=%3 command=%4 "
                                "value=%5")
                     .arg(reply->replyAddress())
                     .arg(reply->moduleAddress())
                     .arg(reply->status())
                     .arg(reply->command())
                     .arg(reply->value()));
        if (reply->status() != vokt::StatusOk) {
            printError(QStringLiteral("raw: refused by the module (%1)").arg(statusText(*reply)));
            return int(ExitRefused);
        }
        return int(ExitOk);
    };
}

Action prepareRunScript(const QStringList& args, bool keepGoing, QString* error)
{
    if (args.size() != 1) {
        *error = QStringLiteral("run-script wants one file (run-script [--keep-going] FILE)");
        return {};
    }
    auto script = std::make_shared<ScriptRunner>();
    if (!script->load(args.at(0), error))
        return {};
    const QString fileName = args.at(0);
    return [script, keepGoing, fileName](Link& link) {
        const int total = static_cast<int>(script->commands().size());
        Progress progress(QStringLiteral("run-script"), total);
        const auto report = [&fileName](const ScriptRunner::Failure& failure) {
            const QString where = QStringLiteral("%1:%2: %3")
                                      .arg(fileName)
                                      .arg(failure.command.line)
                                      .arg(InputText::shown(failure.command.text));
            if (failure.answered)
                printError(QStringLiteral("%1: refused by the module (status %2); it answered %3")
                               .arg(where)
                               .arg(failure.status)
                               .arg(failure.value));
            else
                printError(noReply(where));
        };
        SerialUSBCommandHandler::Batch batch(link.handler());
        const ScriptRunner::Result result =
            script->run(link.handler(), keepGoing, report, [&progress](int done, int) {
                progress.setDone(done);
                return !g_stopRequested;
            });
        progress.finish();
        const bool clean =
            lineWasClean(batch, QStringLiteral("run-script"), link.handler().moduleAddress());
        QString summary = QStringLiteral("%1 of %2 commands sent, %3 failed")
                              .arg(result.sent)
                              .arg(total)
                              .arg(result.failed);
        if (result.stopped)
            summary += g_stopRequested ? QStringLiteral("; interrupted")
                                       : QStringLiteral("; stopped at the first failure");
        printOut(summary);
        return result.failed > 0 || result.stopped || !clean ? int(ExitRefused) : int(ExitOk);
    };
}

// A file the command is to write: a regular file or a new one in a folder that takes it.
bool checkWritable(const QString& fileName, QString* error)
{
    const QString why = FileTarget::problem(fileName);
    if (why.isEmpty())
        return true;
    *error = QStringLiteral("%1: %2").arg(fileName, why);
    return false;
}

// Runs one of the window's whole-module operations with a percentage for every frame
// sent, out of about total.
bool runWithProgress(Link& link, const QString& label, int total,
                     const std::function<bool(SerialUSBCommandHandler&)>& operation)
{
    Progress progress(label, total);
    link.setOnFrame([&progress](int frames) { progress.setDone(frames); });
    const bool done = operation(link.handler());
    link.setOnFrame({});
    progress.setDone(total);
    progress.finish();
    return done;
}

// export-ini and export-script: the module's configuration to a file, written only when
// every parameter was read.
Action prepareExport(const QString& command, const QStringList& args, QString* error)
{
    if (args.size() != 1) {
        *error = QStringLiteral("%1 wants one file (%1 FILE)").arg(command);
        return {};
    }
    const QString fileName = args.at(0);
    const bool script = command == QLatin1String("export-script");
    if (!checkWritable(fileName, error))
        return {};
    // A settings export merges into an existing file: only into a settings file.
    const QString problem = script ? QString() : SettingsFile::targetProblem(fileName);
    if (!problem.isEmpty()) {
        *error = QStringLiteral("%1: %2; an export of settings does not merge into it")
                     .arg(fileName, problem);
        return {};
    }
    return [command, fileName, script](Link& link) {
        const int total = static_cast<int>(ParameterCatalogue::configuration().size());
        SerialUSBCommandHandler::Batch batch(link.handler());
        const ModuleExchange::Progress stop = [&batch](int, int) {
            return !interruptedOnDirtyLine(batch);
        };
        QString why;
        const bool written = runWithProgress(link, command, total, [&](SerialUSBCommandHandler& h) {
            return script ? CommandScript::exportTo(fileName, h, stop, &why)
                          : SettingsFile::exportTo(fileName, h, stop, &why);
        });
        if (!lineWasClean(batch, command, link.handler().moduleAddress())) {
            printError(QStringLiteral("%1: nothing written").arg(fileName));
            return int(ExitRefused);
        }
        if (!written) {
            printError(QStringLiteral("%1: %2; nothing written").arg(fileName, why));
            return int(ExitRefused);
        }
        printOut(QStringLiteral("%1: %2 parameters written").arg(fileName).arg(total));
        return int(ExitOk);
    };
}

Action prepareImport(const QStringList& args, QString* error)
{
    if (args.size() != 1) {
        *error = QStringLiteral("import-ini wants one file (import-ini FILE)");
        return {};
    }
    const QString fileName = args.at(0);
    QFile file(fileName);
    if (QFileInfo(fileName).isDir() || !file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: cannot be read: %2")
                     .arg(fileName, QFileInfo(fileName).isDir() ? QStringLiteral("is a folder")
                                                                : file.errorString());
        return {};
    }
    file.close();
    QSettings settings(fileName, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        *error = QStringLiteral("%1: not a settings file").arg(fileName);
        return {};
    }
    // What the import will write: every key that holds an integer. The others are named
    // now, as the import skips them and the module keeps its value.
    auto expected = std::make_shared<QMap<int, qint32>>();
    QStringList skipped;
    for (const ParameterCatalogue::ConfigurationParameter& p :
         ParameterCatalogue::configuration()) {
        const QString key = QLatin1String(ParameterCatalogue::sections().at(p.section).group) +
                            QLatin1Char('/') + QLatin1String(p.key);
        const std::optional<qint32> value = SettingsFile::valueOf(settings, key);
        if (value)
            expected->insert(p.number, *value);
        else
            skipped << QStringLiteral("%1 (%2)").arg(key).arg(p.number);
    }
    if (expected->isEmpty()) {
        *error = QStringLiteral("%1: holds none of the %2 settings keys")
                     .arg(fileName)
                     .arg(ParameterCatalogue::configuration().size());
        return {};
    }
    for (const QString& key : std::as_const(skipped))
        printError(QStringLiteral("%1: no integer for %2; not written, the module keeps its value")
                       .arg(fileName, key));

    return [fileName, expected](Link& link) {
        // Each written parameter is read back; what the module answers must be what the
        // file holds.
        QMap<int, qint32> readBack;
        const QMetaObject::Connection answers =
            QObject::connect(&link.handler(), &SerialUSBCommandHandler::requestedValue,
                             [&readBack](char, char type, int value) {
                                 readBack.insert(static_cast<quint8>(type), value);
                             });
        SerialUSBCommandHandler::Batch batch(link.handler());
        runWithProgress(link, QStringLiteral("import-ini"), 2 * static_cast<int>(expected->size()),
                        [&](SerialUSBCommandHandler& h) {
                            return SettingsFile::importFrom(fileName, h, [&batch](int, int) {
                                return !interruptedOnDirtyLine(batch);
                            });
                        });
        QObject::disconnect(answers);
        // A value read back may be another parameter's: nothing can be judged.
        if (!lineWasClean(batch, QStringLiteral("import-ini"), link.handler().moduleAddress()))
            return int(ExitRefused);
        if (!link.handler().isOpen()) {
            printError(QStringLiteral("%1: the module stopped answering; the import is "
                                      "incomplete")
                           .arg(fileName));
            return int(ExitRefused);
        }
        int refused = 0;
        for (auto it = expected->cbegin(); it != expected->cend(); ++it) {
            if (readBack.contains(it.key()) && readBack.value(it.key()) == it.value())
                continue;
            printError(QStringLiteral("%1: %2 = %3 was not taken; the module answers %4")
                           .arg(fileName, ParameterCatalogue::nameOf(it.key()))
                           .arg(it.value())
                           .arg(readBack.contains(it.key())
                                    ? QString::number(readBack.value(it.key()))
                                    : QStringLiteral("nothing")));
            ++refused;
        }
        printOut(QStringLiteral("%1: %2 parameters written, %3 not taken")
                     .arg(fileName)
                     .arg(expected->size())
                     .arg(refused));
        return refused > 0 ? int(ExitRefused) : int(ExitOk);
    };
}

// store and restore: every axis parameter number, 0 to 255, as the window walks them.
Action prepareStoreOrRestore(const QString& command, const QStringList& args, QString* error)
{
    if (!args.isEmpty()) {
        *error = QStringLiteral("%1 takes no argument").arg(command);
        return {};
    }
    const bool store = command == QLatin1String("store");
    return [command, store](Link& link) {
        SerialUSBCommandHandler::Batch batch(link.handler());
        ParameterStore::Tally tally;
        // Ctrl-C stops the walk after the parameter in progress.
        const ModuleExchange::Progress stop = [](int, int) { return !g_stopRequested; };
        // A restore reads each parameter back.
        runWithProgress(link, command, store ? 256 : 512, [&](SerialUSBCommandHandler& h) {
            return store ? ParameterStore::storeAll(h, stop, &tally)
                         : ParameterStore::restoreAll(h, stop, &tally);
        });
        const QString counts =
            QStringLiteral("%1 %2, refused %3")
                .arg(store ? QStringLiteral("stored") : QStringLiteral("restored"))
                .arg(tally.accepted)
                .arg(tally.refused);
        if (tally.walked < 256) {
            printError(QStringLiteral("%1: interrupted after %2 of 256 parameters; %3")
                           .arg(command)
                           .arg(tally.walked)
                           .arg(counts));
            return int(ExitRefused);
        }
        if (!lineWasClean(batch, command, link.handler().moduleAddress()))
            return int(ExitRefused);
        if (!link.handler().isOpen()) {
            printError(QStringLiteral("%1: the module stopped answering before parameter 255; %2")
                           .arg(command, counts));
            return int(ExitRefused);
        }
        // The module may refuse numbers it does not know or keeps no copy of; a refused
        // setting is not kept.
        for (const ParameterStore::Tally::Refusal& refusal : std::as_const(tally.refusedSettings))
            printError(QStringLiteral("%1: the module refused %2 (status %3)")
                           .arg(command, ParameterCatalogue::nameOf(refusal.number))
                           .arg(refusal.status));
        printOut(QStringLiteral("%1: %2").arg(command, counts));
        return tally.refusedSettings.isEmpty() ? int(ExitOk) : int(ExitRefused);
    };
}

Action prepareWatch(const Invocation& invocation, QString* error)
{
    if (!invocation.arguments.isEmpty()) {
        *error = QStringLiteral("watch takes no argument \"%1\" (options: --interval MS, "
                                "--count N, --csv FILE)")
                     .arg(InputText::shown(invocation.arguments.constFirst()));
        return {};
    }
    int interval = DefaultIntervalMs;
    if (invocation.interval) {
        const auto number =
            parseNumber(*invocation.interval, 0, 3600000, QStringLiteral("--interval"), error);
        if (!number)
            return {};
        interval = static_cast<int>(*number);
    }
    int count = 0;
    if (invocation.count) {
        const auto number = parseNumber(*invocation.count, 1, std::numeric_limits<int>::max(),
                                        QStringLiteral("--count"), error);
        if (!number)
            return {};
        count = static_cast<int>(*number);
    }
    const QString csv = invocation.csv.value_or(QString());
    if (invocation.csv && csv.isEmpty()) {
        *error = QStringLiteral("--csv needs a file name");
        return {};
    }
    // Not into a folder, a device (the module's own port among them) or a pipe.
    if (!csv.isEmpty() && !checkWritable(csv, error)) {
        *error = QStringLiteral("--csv ") + *error;
        return {};
    }

    return [interval, count, csv](Link& link) {
        const QList<int>& numbers = ParameterCatalogue::liveValues();
        CsvRecorder recorder(numbers);
        if (!csv.isEmpty() && !recorder.open(csv)) {
            printError(QStringLiteral("--csv %1: %2").arg(csv, recorder.errorString()));
            return int(ExitUsage);
        }
        if (csv.isEmpty() && !printOut(recorder.header().join(QLatin1Char('\t'))))
            return int(ExitRefused);

        // A recording ends quietly, with its last row complete.
        catchStopSignals(false);
        QList<bool> refused(numbers.size(), false);
        int result = ExitOk;
        // Told once, as soon as it is seen: the values from then on may be other
        // parameters'.
        SerialUSBCommandHandler::Batch batch(link.handler());
        bool toldNotClean = false;
        const auto tellNotClean = [&](int cycle) {
            toldNotClean = true;
            result = ExitRefused;
            printError(QStringLiteral("watch: the line is not clean from cycle %1 on: %2 bytes "
                                      "arrived that answered no request (a late answer, a line "
                                      "echo or a second module at address %3); a value may "
                                      "belong to another parameter")
                           .arg(cycle)
                           .arg(batch.unansweredBytes())
                           .arg(link.handler().moduleAddress()));
        };
        QElapsedTimer clock;
        clock.start();
        int cycles = 0;
        for (int cycle = 0; (count == 0 || cycle < count) && !g_stopRequested; ++cycle) {
            const qint64 cycleStart = clock.elapsed();
            recorder.beginCycle();
            QStringList fields{QString::number(cycleStart)};
            for (int i = 0; i < numbers.size(); ++i) {
                const auto reply =
                    link.exchange(vokt::GetAxisParameter, static_cast<quint8>(numbers.at(i)), 0, 0);
                if (reply && reply->status() == vokt::StatusOk) {
                    recorder.setValue(numbers.at(i), reply->value());
                    fields << QString::number(reply->value());
                    continue;
                }
                fields << QString();
                if (reply && !refused.at(i)) {
                    refused[i] = true;
                    printError(
                        QStringLiteral("the module refuses %1 (%2); its column stays "
                                       "empty")
                            .arg(ParameterCatalogue::nameOf(numbers.at(i)), statusText(*reply)));
                    result = ExitRefused;
                }
            }
            // Bytes found before this cycle's first request came after the last cycle's.
            if (!toldNotClean && batch.unansweredBytes() > 0)
                tellNotClean(qMax(1, cycle));
            // A cycle in which the link was lost is not complete: its row goes to the file
            // only when the file is there already, and it is not counted.
            const bool complete = link.handler().isOpen();
            if (csv.isEmpty()) {
                if (!printOut(fields.join(QLatin1Char('\t'))))
                    return int(ExitRefused);
            } else if (!recorder.endCycle(complete)) {
                printError(QStringLiteral("--csv %1: could not be written: %2; %3")
                               .arg(csv, recorder.errorString(),
                                    recorder.fileWritten()
                                        ? QStringLiteral("the file ends on its last complete row")
                                        : QStringLiteral("nothing written")));
                return int(ExitRefused);
            }
            if (!complete) {
                QString message =
                    QStringLiteral("the module stopped answering; %1 complete cycles recorded")
                        .arg(cycle);
                if (!csv.isEmpty() && !recorder.fileWritten())
                    message += QStringLiteral("; %1 not written").arg(csv);
                printError(message);
                return int(ExitRefused);
            }
            // The next cycle starts interval ms after this one started; Ctrl-C is looked
            // at every few milliseconds meanwhile.
            const qint64 next = cycleStart + interval;
            while (!g_stopRequested && (count == 0 || cycle + 1 < count)) {
                const qint64 left = next - clock.elapsed();
                if (left <= 0)
                    break;
                QThread::msleep(static_cast<unsigned long>(qMin<qint64>(left, 20)));
            }
            cycles = cycle + 1;
        }
        // The last cycle's answers, too, must be followed by a quiet line.
        if (!toldNotClean && !batch.isClean())
            tellNotClean(qMax(1, cycles));
        return result;
    };
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ziro-bldc-cli"));
    qInstallMessageHandler(messageHandler);

    Invocation invocation;
    QString error;
    const auto usageError = [](const QString& text) {
        printError(text);
        std::fputs("Try ziro-bldc-cli --help.\n", stderr);
        return int(ExitUsage);
    };
    if (!parseCommandLine(QCoreApplication::arguments().mid(1), &invocation, &error))
        return usageError(error);
    g_quiet = invocation.quiet;

    const CommandHelp* command = findCommand(invocation.command);
    if (invocation.command == QLatin1String("help")) {
        invocation.help = true;
        command = invocation.arguments.isEmpty() ? nullptr
                                                 : findCommand(invocation.arguments.constFirst());
    }
    if (invocation.help) {
        std::fputs((command ? helpFor(*command) : generalHelp()).toLocal8Bit().constData(), stdout);
        return checkedOutput(ExitOk);
    }
    if (invocation.command.isEmpty())
        return usageError(QStringLiteral("no command given"));
    if (!command)
        return usageError(
            QStringLiteral("unknown command \"%1\"").arg(InputText::shown(invocation.command)));

    const QString name = invocation.command;
    if (name == QLatin1String("ports")) {
        if (!invocation.arguments.isEmpty())
            return usageError(QStringLiteral("ports takes no argument"));
        return checkedOutput(listPorts());
    }

    Action action;
    if (name == QLatin1String("get"))
        action = prepareGet(invocation.arguments, &error);
    else if (name == QLatin1String("set"))
        action = prepareSet(invocation.arguments, &error);
    else if (name == QLatin1String("stop"))
        action = prepareStop(invocation.arguments, &error);
    else if (name == QLatin1String("raw"))
        action = prepareRaw(invocation.arguments, &error);
    else if (name == QLatin1String("run-script"))
        action = prepareRunScript(invocation.arguments, invocation.keepGoing, &error);
    else if (name == QLatin1String("watch"))
        action = prepareWatch(invocation, &error);
    else if (name == QLatin1String("export-ini") || name == QLatin1String("export-script"))
        action = prepareExport(name, invocation.arguments, &error);
    else if (name == QLatin1String("import-ini"))
        action = prepareImport(invocation.arguments, &error);
    else
        action = prepareStoreOrRestore(name, invocation.arguments, &error);
    if (!action) {
        printError(error);
        return ExitUsage;
    }

    if (invocation.sim == !invocation.port.isEmpty())
        return usageError(invocation.sim ? QStringLiteral("--port and --sim exclude each other")
                                         : QStringLiteral("which module? (--port PATH or --sim)"));

    catchStopSignals(true);
    Link link;
    if (!link.open(invocation, &error)) {
        printError(error);
        return ExitPort;
    }
    return checkedOutput(action(link));
}
