#include "config/CommissioningRecord.h"

#include "comm/DebugLine.h"
#include "comm/Protocol.h"
#include "comm/SerialUSBCommandHandler.h"
#include "config/FileKind.h"
#include "config/FileTarget.h"
#include "config/ParameterCatalogue.h"
#include "config/Version.h"

#include <QFileInfo>

namespace CommissioningRecord {

namespace {

QString escaped(const QString& text)
{
    return text.toHtmlEscaped();
}

// "2024-01-31 14:05:09 UTC+01:00"
QString timeText(const QDateTime& time)
{
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
           QStringLiteral(" UTC%1%2:%3")
               .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

// A4 portrait, black on white; the marks of a difference print without background colours
// too (bold, and the result column's word).
const char* const Style = R"(
@page { size: A4 portrait; margin: 14mm 12mm; }
* { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
body { font-family: "DejaVu Sans", Arial, Helvetica, sans-serif; font-size: 9.5pt; color: #000;
       background: #fff; margin: 0 auto; padding: 6mm; max-width: 186mm; }
@media print { body { padding: 0; } }
h1 { font-size: 16pt; margin: 0 0 3mm; }
h2 { font-size: 12pt; margin: 5mm 0 2mm; break-after: avoid; page-break-after: avoid; }
p.verdict { font-size: 15pt; font-weight: bold; margin: 0 0 4mm; padding: 2mm 3mm;
            border: 0.6mm solid; }
p.verdict.matches { color: #1b5e20; border-color: #2e7d32; background: #e8f5e9; }
p.verdict.differs { color: #b71c1c; border-color: #c62828; background: #ffebee; }
table { border-collapse: collapse; width: 100%; }
th, td { border: 0.2mm solid #888; padding: 0.7mm 2mm; text-align: left; vertical-align: top; }
thead th { background: #e0e0e0; }
thead { display: table-header-group; }
tr { break-inside: avoid; page-break-inside: avoid; }
td.number { text-align: right; font-variant-numeric: tabular-nums; white-space: nowrap; }
table.facts { width: auto; }
table.facts th { background: #f0f0f0; font-weight: normal; }
tr.section th { background: #f0f0f0; font-weight: bold; }
tr.differs td { background: #ffebee; font-weight: bold; }
td.result { white-space: nowrap; }
tr.same td.result { color: #555; }
p.signature { margin-top: 10mm; }
)";

// The address the module reports, and the one it was reached at where they differ.
QString addressText(const Snapshot& snapshot)
{
    if (!snapshot.reportedAddress)
        return QStringLiteral("%1 (not reported by the module)").arg(snapshot.address);
    if (*snapshot.reportedAddress != snapshot.address)
        return QStringLiteral("%1 (reached at address %2)")
            .arg(*snapshot.reportedAddress)
            .arg(snapshot.address);
    return QString::number(snapshot.address);
}

void addFact(QString& page, const QString& name, const QString& value)
{
    page += QStringLiteral("<tr><th>%1</th><td>%2</td></tr>\n").arg(name, escaped(value));
}

void addConfiguration(QString& page, const Snapshot& snapshot)
{
    const bool golden = snapshot.golden.has_value();
    const SettingsComparison::Rows rows = snapshot.rows();
    page += QStringLiteral("<h2>Configuration: %1 parameters of motor/bank 0</h2>\n"
                           "<table class=\"parameters\">\n<thead><tr><th>Key</th><th>Number</th>"
                           "<th>Module</th>")
                .arg(snapshot.configuration.size());
    if (golden)
        page += QStringLiteral("<th>%1</th><th>Result</th>")
                    .arg(escaped(QFileInfo(snapshot.golden->fileName).fileName()));
    page += QStringLiteral("</tr></thead>\n");
    const QList<ParameterCatalogue::ConfigurationParameter>& table =
        ParameterCatalogue::configuration();
    int section = -1;
    for (int i = 0; i < table.size() && i < snapshot.configuration.size(); ++i) {
        const ParameterCatalogue::ConfigurationParameter& p = table.at(i);
        if (p.section != section) {
            if (section >= 0)
                page += QStringLiteral("</tbody>\n");
            section = p.section;
            page += QStringLiteral("<tbody><tr class=\"section\"><th colspan=\"%1\">%2</th></tr>\n")
                        .arg(golden ? 5 : 3)
                        .arg(QLatin1String(ParameterCatalogue::sections().at(section).group));
        }
        QString kind;
        if (golden)
            kind = rows.at(i).differs() ? QStringLiteral(" differs") : QStringLiteral(" same");
        page += QStringLiteral("<tr class=\"parameter%1\"><td>%2</td><td class=\"number\">%3</td>"
                               "<td class=\"number\">%4</td>")
                    .arg(kind, QLatin1String(p.key))
                    .arg(p.number)
                    .arg(snapshot.configuration.at(i));
        if (golden)
            page += QStringLiteral("<td class=\"number\">%1</td><td class=\"result\">%2</td>")
                        .arg(escaped(rows.at(i).second.shown()),
                             SettingsComparison::kindText(rows.at(i).kind()));
        page += QStringLiteral("</tr>\n");
    }
    if (section >= 0)
        page += QStringLiteral("</tbody>\n");
    page += QStringLiteral("</table>\n");
}

void addLiveValues(QString& page, const Snapshot& snapshot)
{
    page += QStringLiteral("<h2>Live values at that moment</h2>\n<table class=\"live\">\n"
                           "<thead><tr><th>Value</th><th>Number</th><th>Reading</th>"
                           "</tr></thead>\n<tbody>\n");
    const auto& numbers = ParameterCatalogue::liveValues();
    for (int i = 0; i < numbers.size(); ++i) {
        const std::optional<qint32> value = snapshot.liveValues.value(i);
        QString reading = value ? QString::number(*value) : QStringLiteral("not reported");
        if (value && numbers.at(i) == ParameterCatalogue::StatusFlags) {
            const auto word = static_cast<quint32>(*value);
            const QStringList words = ParameterCatalogue::statusWords(word);
            reading = QStringLiteral("0x%1: %2")
                          .arg(word, 8, 16, QLatin1Char('0'))
                          .arg(words.isEmpty() ? QStringLiteral("no flag set")
                                               : words.join(QStringLiteral(", ")));
        }
        page += QStringLiteral("<tr class=\"live\"><td>%1</td><td class=\"number\">%2</td>"
                               "<td>%3</td></tr>\n")
                    .arg(ParameterCatalogue::nameOf(numbers.at(i)))
                    .arg(numbers.at(i))
                    .arg(escaped(reading));
    }
    page += QStringLiteral("</tbody>\n</table>\n");
}

} // namespace

SettingsComparison::Rows Snapshot::rows() const
{
    if (!golden)
        return {};
    QList<SettingsComparison::Value> module;
    for (qint32 value : configuration)
        module.append(SettingsComparison::Value::of(value));
    return SettingsComparison::compare(module, golden->values);
}

bool Snapshot::matches() const
{
    return SettingsComparison::differences(rows()) == 0;
}

namespace {

// The global parameters that name the module, read after the live values.
constexpr vokt::ParameterNumber GlobalModuleAddress = 0;
constexpr vokt::ParameterNumber GlobalFirmwareVersion = 2;
constexpr int GlobalReads = 2;

} // namespace

int exchanges()
{
    return static_cast<int>(ParameterCatalogue::configuration().size() +
                            ParameterCatalogue::liveValues().size()) +
           GlobalReads;
}

std::optional<Snapshot> take(SerialUSBCommandHandler& handler,
                             const ModuleExchange::Progress& progress, QString* why)
{
    Snapshot snapshot;
    snapshot.taken = QDateTime::currentDateTime();
    snapshot.port = handler.portName();
    snapshot.address = handler.moduleAddress();
    snapshot.version = Version::full();
    const int total = exchanges();
    SerialUSBCommandHandler::Batch batch(handler);
    bool cancelled = false;
    const std::optional<QList<qint32>> configuration = SettingsComparison::readModule(
        handler,
        [&](int done, int) {
            cancelled = !ModuleExchange::carryOn(progress, done, total);
            return !cancelled;
        },
        why);
    if (!configuration)
        return std::nullopt;
    snapshot.configuration = *configuration;
    int done = static_cast<int>(configuration->size());
    if (cancelled)
        return std::nullopt;
    for (int number : ParameterCatalogue::liveValues()) {
        const SerialUSBCommandHandler::Outcome outcome = handler.exchange(
            vokt::GetAxisParameter, static_cast<vokt::ParameterNumber>(number), 0, 0);
        if (!outcome.reply) {
            *why =
                QStringLiteral("%1: %2").arg(ParameterCatalogue::nameOf(number),
                                             SerialUSBCommandHandler::failureText(outcome.failure));
            DebugLine() << "reading the live values failed: " << *why;
            return std::nullopt;
        }
        // A value the module refuses to report is shown as such.
        snapshot.liveValues.append(outcome.reply->status() == vokt::StatusOk
                                       ? std::optional<qint32>(outcome.reply->value())
                                       : std::nullopt);
        ++done;
        if (!ModuleExchange::carryOn(progress, done, total) && done < total)
            return std::nullopt;
    }
    for (const auto number : {GlobalFirmwareVersion, GlobalModuleAddress}) {
        const SerialUSBCommandHandler::Outcome outcome =
            handler.exchange(vokt::GetGlobalParameter, number, 0, 0);
        if (!outcome.reply) {
            *why = QStringLiteral("global parameter %1: %2")
                       .arg(number)
                       .arg(SerialUSBCommandHandler::failureText(outcome.failure));
            DebugLine() << "reading the module's identity failed: " << *why;
            return std::nullopt;
        }
        // A module that does not report it is recorded as such.
        const std::optional<qint32> value = outcome.reply->status() == vokt::StatusOk
                                                ? std::optional<qint32>(outcome.reply->value())
                                                : std::nullopt;
        (number == GlobalFirmwareVersion ? snapshot.firmwareVersion : snapshot.reportedAddress) =
            value;
        ++done;
        if (!ModuleExchange::carryOn(progress, done, total) && done < total)
            return std::nullopt;
    }
    if (!batch.isClean()) {
        *why = QStringLiteral("the line is not clean");
        DebugLine() << "reading the live values failed: " << *why;
        return std::nullopt;
    }
    return snapshot;
}

QByteArray html(const Snapshot& snapshot)
{
    QString page = QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n"
                                  "<meta charset=\"utf-8\"/>\n<title>Commissioning record: %1, "
                                  "address %2, %3</title>\n<style>")
                       .arg(escaped(snapshot.port))
                       .arg(snapshot.address)
                       .arg(timeText(snapshot.taken));
    page += QLatin1String(Style);
    page += QStringLiteral("</style>\n</head>\n<body>\n<h1>Commissioning record</h1>\n");
    if (snapshot.golden) {
        const SettingsComparison::Rows rows = snapshot.rows();
        page += QStringLiteral("<p class=\"verdict %1\">%2</p>\n")
                    .arg(snapshot.matches() ? QStringLiteral("matches") : QStringLiteral("differs"),
                         escaped(SettingsComparison::verdict(
                             rows, QFileInfo(snapshot.golden->fileName).fileName())));
    }
    page += QStringLiteral("<table class=\"facts\">\n<tbody>\n");
    addFact(page, QStringLiteral("Date and time"), timeText(snapshot.taken));
    addFact(page, QStringLiteral("Port"),
            snapshot.simulated ? snapshot.port + QStringLiteral(" (simulated module)")
                               : snapshot.port);
    addFact(page, QStringLiteral("Module address"), addressText(snapshot));
    addFact(page, QStringLiteral("Firmware version"),
            snapshot.firmwareVersion ? QString::number(*snapshot.firmwareVersion)
                                     : QStringLiteral("not reported"));
    addFact(page, QStringLiteral("Read by"), QStringLiteral("ziro-bldc ") + snapshot.version);
    if (snapshot.golden)
        addFact(page, QStringLiteral("Golden settings file"), snapshot.golden->fileName);
    page += QStringLiteral("</tbody>\n</table>\n");
    addConfiguration(page, snapshot);
    addLiveValues(page, snapshot);
    page += QStringLiteral("<p class=\"signature\">Checked by: ______________________________"
                           "&#160;&#160;&#160; Date: ______________</p>\n</body>\n</html>\n");
    return page.toUtf8();
}

QString targetProblem(const QString& fileName, bool force)
{
    return FileKind::targetProblem(fileName, FileKind::Kind::Page, force);
}

bool write(const QString& fileName, const Snapshot& snapshot, QString* why)
{
    return FileTarget::replace(fileName, html(snapshot), why);
}

} // namespace CommissioningRecord
