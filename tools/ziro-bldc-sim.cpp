// ziro-bldc-sim: serves one simulated ZIRO-BLDC module, or a bus of several, on a
// pseudo-terminal until Ctrl-C. The port path goes to standard output (one line, for
// scripts); everything else to standard error.

#include "cli/StopSignals.h"
#include "config/InputText.h"
#include "config/Version.h"
#include "sim/ServedModule.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void printError(const QString& text)
{
    std::fprintf(stderr, "ziro-bldc-sim: %s\n", text.toLocal8Bit().constData());
}

bool parseNumber(const QString& text, int minimum, int maximum, int* number)
{
    const std::optional<qint64> value = InputText::wholeNumber(text, minimum, maximum);
    if (!value)
        return false;
    *number = static_cast<int>(*value);
    return true;
}

// "3,7,12": one module at each address, in this order; an address may repeat.
bool parseAddresses(const QString& text, QList<int>* addresses)
{
    for (const QString& part : text.split(QLatin1Char(','))) {
        int address = 0;
        if (!parseNumber(part.trimmed(), 1, 255, &address))
            return false;
        addresses->append(address);
    }
    return !addresses->isEmpty();
}

// A decimal number (1.5, 2e-1) within [minimum, maximum].
bool parseDecimal(const QString& text, double minimum, double maximum, double* number)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !(value >= minimum && value <= maximum))
        return false;
    *number = value;
    return true;
}

// "accel=20,friction=80,viscous=0.1": any of the three, each once; the rest keep their
// defaults. Otherwise *error says what is wrong.
bool parseMotor(const QString& text, MotorSettings* motor, QString* error)
{
    struct Field
    {
        const char* name;
        double* value;
        double minimum;
        double maximum;
        const char* unit;
        bool seen;
    };
    Field fields[] = {
        {"accel", &motor->acceleration, MotorSettings::MinAcceleration,
         MotorSettings::MaxAcceleration, " rpm/s per mA", false},
        {"friction", &motor->friction, MotorSettings::MinFriction, MotorSettings::MaxFriction,
         " mA", false},
        {"viscous", &motor->viscous, MotorSettings::MinViscous, MotorSettings::MaxViscous,
         " mA per rpm", false},
    };
    for (const QString& part : text.split(QLatin1Char(','))) {
        const QString name = part.section(QLatin1Char('='), 0, 0).trimmed();
        Field* field = nullptr;
        for (Field& candidate : fields)
            if (name == QLatin1String(candidate.name))
                field = &candidate;
        if (!field || !part.contains(QLatin1Char('='))) {
            *error = QStringLiteral("--motor wants accel=A,friction=F,viscous=V (any of them), "
                                    "not \"%1\"")
                         .arg(InputText::shown(part));
            return false;
        }
        if (field->seen) {
            *error = QStringLiteral("--motor: %1 given twice").arg(name);
            return false;
        }
        field->seen = true;
        if (!parseDecimal(part.section(QLatin1Char('='), 1), field->minimum, field->maximum,
                          field->value)) {
            *error = QStringLiteral("--motor: %1 wants a number from %2 to %3%4")
                         .arg(name)
                         .arg(field->minimum)
                         .arg(field->maximum)
                         .arg(QLatin1String(field->unit));
            return false;
        }
    }
    return true;
}

// "3, 7, 7 and 12"
QString addressList(const QList<int>& addresses)
{
    QStringList parts;
    for (int address : addresses)
        parts << QString::number(address);
    const QString last = parts.takeLast();
    return parts.isEmpty() ? last
                           : parts.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

// The --log file: one line of hex bytes per request, appended whole or not at all. The
// first line that cannot be written is reported on standard error; from then on nothing
// more is logged, so that the log never holds a gap nobody was told of.
class RequestLog
{
public:
    ~RequestLog()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    bool open(const QString& fileName, QString* error)
    {
        m_fileName = fileName;
        m_fd = ::open(QFile::encodeName(fileName).constData(),
                      O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
        if (m_fd < 0) {
            *error = QStringLiteral("cannot write %1: %2")
                         .arg(fileName, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        return true;
    }

    // Called on the module's thread only.
    void write(const QByteArray& request)
    {
        if (m_failed)
            return;
        const QByteArray line = request.toHex(' ') + '\n';
        struct stat before = {};
        const bool sized = ::fstat(m_fd, &before) == 0;
        qsizetype written = 0;
        errno = 0;
        while (written < line.size()) {
            // After a short write the next one says why (a full disk, a file too large).
            const ssize_t result = ::write(m_fd, line.constData() + written,
                                           static_cast<size_t>(line.size() - written));
            if (result < 0 && errno == EINTR)
                continue;
            if (result <= 0)
                break;
            written += result;
        }
        if (written == line.size())
            return;
        const int reason = errno != 0 ? errno : ENOSPC;
        // A line cut short is taken back, so the log ends on a whole line.
        if (written > 0 && sized)
            (void)!::ftruncate(m_fd, before.st_size);
        m_failed = true;
        printError(QStringLiteral("cannot write the log %1: %2; no further requests are logged")
                       .arg(m_fileName, QString::fromLocal8Bit(std::strerror(reason))));
    }

private:
    QString m_fileName;
    int m_fd = -1;
    bool m_failed = false;
};

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
    // Ctrl-C, kill and a closed terminal are waited for below instead of ending the process
    // at once, so the link is removed and the pty closed. Held before any thread starts, so
    // that the peer's worker thread does not take them.
    StopSignals::holdForWait();

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ziro-bldc-sim"));
    QCoreApplication::setApplicationVersion(Version::full());

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Serves a simulated ZIRO-BLDC module on a pseudo-terminal until Ctrl-C.\n"
        "The port path is printed on standard output; open it in ziro-bldc or any serial "
        "tool."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption linkOption(QStringLiteral("link"),
                                        QStringLiteral("Make a symbolic link <path> to the port "
                                                       "(removed at exit)."),
                                        QStringLiteral("path"));
    const QCommandLineOption addressOption(
        QStringLiteral("address"),
        QStringLiteral("Module address <n>, 1 to 255; frames for other addresses get no "
                       "reply (default 1). A list (3,7,12) serves one module at each "
                       "address on the one line, as on an RS-485 bus; an address given "
                       "twice (7,7) is two modules that both answer, the second 1 to 3 ms "
                       "later."),
        QStringLiteral("n[,n...]"), QStringLiteral("1"));
    const QCommandLineOption baudOption(
        QStringLiteral("baud"),
        QStringLiteral("The modules run at <n> baud: they answer no faster than such a line "
                       "carries request and reply (10 bits a byte), and only while the "
                       "tool has set the line to <n>. 0 answers at once, at any rate "
                       "(default 0)."),
        QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption logOption(
        QStringLiteral("log"),
        QStringLiteral("Append every request frame that reaches the module to <file>, one "
                       "line of hex bytes each, written as it arrives."),
        QStringLiteral("file"));
    const QCommandLineOption motorOption(
        QStringLiteral("motor"),
        QStringLiteral("The motor every module drives: accel, its acceleration per mA of "
                       "current (rpm/s per mA, 4 to 40, default 15); friction, its Coulomb "
                       "friction (mA, 20 to 150, default 50); viscous, its viscous load (mA "
                       "per rpm, 0.05 to 0.8, default 0.25). Any of them; the rest default."),
        QStringLiteral("accel=A,friction=F,viscous=V"));
    const QCommandLineOption gainScaleOption(
        QStringLiteral("gain-scale"),
        QStringLiteral("Multiplies the gains of every module's velocity and position loops by "
                       "<s>, 0.25 to 4 (default 1): firmware that scales its gains otherwise."),
        QStringLiteral("s"), QStringLiteral("1"));
    parser.addOption(linkOption);
    parser.addOption(addressOption);
    parser.addOption(baudOption);
    parser.addOption(logOption);
    parser.addOption(motorOption);
    parser.addOption(gainScaleOption);
    parser.process(app);

    if (!parser.positionalArguments().isEmpty()) {
        printError(QStringLiteral("unexpected argument %1 (see --help)")
                       .arg(parser.positionalArguments().constFirst()));
        return 2;
    }
    QList<int> addresses;
    if (!parseAddresses(parser.value(addressOption), &addresses)) {
        printError(QStringLiteral("--address wants numbers from 1 to 255, separated by commas"));
        return 2;
    }
    int baud = 0;
    if (!parseNumber(parser.value(baudOption), 0, 10000000, &baud)) {
        printError(QStringLiteral("--baud wants a number from 0 to 10000000"));
        return 2;
    }

    MotorSettings motor;
    if (parser.isSet(motorOption)) {
        QString error;
        if (!parseMotor(parser.value(motorOption), &motor, &error)) {
            printError(error);
            return 2;
        }
    }
    if (!parseDecimal(parser.value(gainScaleOption), MotorSettings::MinGainScale,
                      MotorSettings::MaxGainScale, &motor.gainScale)) {
        printError(QStringLiteral("--gain-scale wants a number from 0.25 to 4"));
        return 2;
    }

    RequestLog log;
    ServedModule served(addresses, motor);
    served.setBaudRate(baud);
    if (parser.isSet(logOption)) {
        QString error;
        if (!log.open(parser.value(logOption), &error)) {
            printError(error);
            return 1;
        }
        // The line is written before the modules answer, so a tool that has its reply
        // finds its request in the log.
        served.setRequestObserver([&log](const QByteArray& request) { log.write(request); });
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
    QString servedAs =
        addresses.size() == 1
            ? QStringLiteral("module address %1 on %2").arg(addresses.constFirst()).arg(port)
            : QStringLiteral("%1 modules, addresses %2, on %3")
                  .arg(addresses.size())
                  .arg(addressList(addresses), port);
    if (!linkPath.isEmpty())
        servedAs += QStringLiteral(" (link %1)").arg(linkPath);
    if (baud > 0)
        servedAs += QStringLiteral(", %1 baud").arg(baud);
    if (parser.isSet(motorOption) || parser.isSet(gainScaleOption))
        servedAs += QStringLiteral(", motor accel=%1,friction=%2,viscous=%3, gain scale %4")
                        .arg(motor.acceleration)
                        .arg(motor.friction)
                        .arg(motor.viscous)
                        .arg(motor.gainScale);
    std::fprintf(stderr, "ziro-bldc-sim: serving %s. Ctrl-C stops.\n",
                 servedAs.toLocal8Bit().constData());

    StopSignals::waitFor();

    served.stop();
    if (!linkPath.isEmpty())
        removeLink(port, linkPath);
    std::fprintf(stderr, "ziro-bldc-sim: stopped.\n");
    return 0;
}
