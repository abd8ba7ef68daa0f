#include "cli/ManPage.h"

#include "cli/Help.h"
#include "config/Version.h"

#include <QRegularExpression>

namespace cli {

namespace {

int indentation(const QString& line)
{
    int n = 0;
    while (n < line.size() && line.at(n) == QLatin1Char(' '))
        ++n;
    return n;
}

bool isHeading(const QString& line)
{
    return !line.isEmpty() && !line.at(0).isSpace() && line.endsWith(QLatin1Char(':')) &&
           !line.startsWith(QLatin1String("Usage:"));
}

void appendText(QString* text, const QString& more)
{
    if (more.isEmpty())
        return;
    if (!text->isEmpty())
        *text += QLatin1Char(' ');
    *text += more;
}

// The name line's summary: the description's first sentence or clause, begun in lower case.
QString summaryOf(const QStringList& description)
{
    if (description.isEmpty())
        return QString();
    QString text = description.constFirst();
    static const QRegularExpression end(QStringLiteral("[.:;](\\s|$)"));
    const QRegularExpressionMatch match = end.match(text);
    if (match.hasMatch())
        text.truncate(match.capturedStart());
    if (!text.isEmpty() && text.at(0).isUpper() && (text.size() < 2 || !text.at(1).isUpper()))
        text[0] = text.at(0).toLower();
    return text;
}

} // namespace

HelpText HelpText::parse(const QString& text)
{
    HelpText help;
    const QStringList lines = text.split(QLatin1Char('\n'));
    Section* section = nullptr;
    int itemIndent = -1;
    QString paragraph;
    const auto endParagraph = [&] {
        if (!paragraph.isEmpty())
            help.description << paragraph;
        paragraph.clear();
    };
    for (const QString& line : lines) {
        const QString trimmed = line.trimmed();
        if (line.startsWith(QLatin1String("Usage:"))) {
            help.synopsis << line.mid(6).trimmed();
            continue;
        }
        if (isHeading(line)) {
            endParagraph();
            help.sections.append({line.chopped(1).trimmed(), {}});
            section = &help.sections.last();
            itemIndent = -1;
            continue;
        }
        if (trimmed.isEmpty()) {
            endParagraph();
            continue;
        }
        if (!section) {
            appendText(&paragraph, trimmed);
            continue;
        }
        const int indent = indentation(line);
        if (itemIndent < 0)
            itemIndent = indent;
        if (indent > itemIndent && !section->items.isEmpty()) {
            appendText(&section->items.last().text, trimmed);
            continue;
        }
        // A term, then two blanks or more, then its text.
        static const QRegularExpression gap(QStringLiteral("\\s{2,}"));
        const QRegularExpressionMatch match = gap.match(trimmed);
        if (match.hasMatch())
            section->items.append(
                {trimmed.left(match.capturedStart()), trimmed.mid(match.capturedEnd())});
        else
            section->items.append({trimmed, QString()});
    }
    endParagraph();
    return help;
}

const HelpText::Section* HelpText::section(const QString& heading) const
{
    for (const Section& s : sections)
        if (s.heading.compare(heading, Qt::CaseInsensitive) == 0)
            return &s;
    return nullptr;
}

QString roffText(const QString& text)
{
    QString escaped;
    escaped.reserve(text.size() + text.size() / 8);
    for (const QChar c : text) {
        if (c == QLatin1Char('\\'))
            escaped += QStringLiteral("\\e");
        else if (c == QLatin1Char('-'))
            escaped += QStringLiteral("\\-");
        else
            escaped += c;
    }
    QStringList lines = escaped.split(QLatin1Char('\n'));
    for (QString& line : lines)
        if (line.startsWith(QLatin1Char('.')) || line.startsWith(QLatin1Char('\'')))
            line.prepend(QStringLiteral("\\&"));
    return lines.join(QLatin1Char('\n'));
}

QString roffTerm(const QString& term, bool nameFirst)
{
    static const QRegularExpression placeholder(
        QStringLiteral("^(<[^>]+>|[A-Z][A-Z0-9_]*)(\\.\\.\\.)?$"));
    QStringList words;
    const QStringList tokens = term.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& token : tokens) {
        // Brackets, bars and separators stay roman around the word they enclose.
        int begin = 0;
        int end = int(token.size());
        while (begin < end && QStringLiteral("[|(").contains(token.at(begin)))
            ++begin;
        while (end > begin && QStringLiteral("]|),").contains(token.at(end - 1)))
            --end;
        const QString core = token.mid(begin, end - begin);
        QString styled = roffText(core);
        if (core.startsWith(QLatin1Char('-')) || (nameFirst && words.isEmpty()))
            styled = QStringLiteral("\\fB%1\\fR").arg(styled);
        else if (placeholder.match(core).hasMatch())
            styled = QStringLiteral("\\fI%1\\fR").arg(styled);
        words << roffText(token.left(begin)) + styled + roffText(token.mid(end));
    }
    return words.join(QLatin1Char(' '));
}

QString manPage(const QString& program, const QString& help, const QStringList& seeAlso,
                const QMap<QString, QString>& replacedSections)
{
    const HelpText text = HelpText::parse(help);
    QString page;
    page += QStringLiteral(".\\\" Made from %1 --help when the tool was built; do not edit.\n")
                .arg(roffText(program));
    page += QStringLiteral(".TH %1 1 \"\" \"ziro\\-bldc %2\" \"User Commands\"\n")
                .arg(roffText(program.toUpper()), roffText(Version::number()));
    page += QStringLiteral(".SH NAME\n%1 \\- %2\n")
                .arg(roffText(program), roffText(summaryOf(text.description)));

    page += QStringLiteral(".SH SYNOPSIS\n");
    for (const QString& usage : text.synopsis) {
        // The program as it was started ("/usr/bin/ziro-bldc-sim") is named by its name.
        QString line = usage;
        const QString first = line.section(QLatin1Char(' '), 0, 0);
        if (first == program || first.endsWith(QLatin1Char('/') + program))
            line = line.mid(first.size()).trimmed();
        page += QStringLiteral(".B %1\n%2\n.br\n").arg(roffText(program), roffTerm(line));
    }

    if (!text.description.isEmpty()) {
        page += QStringLiteral(".SH DESCRIPTION\n");
        for (int i = 0; i < text.description.size(); ++i)
            page += (i > 0 ? QStringLiteral(".PP\n") : QString()) +
                    roffText(text.description.at(i)) + QLatin1Char('\n');
    }

    for (const HelpText::Section& section : text.sections) {
        page += QStringLiteral(".SH %1\n").arg(roffText(section.heading.toUpper()));
        if (replacedSections.contains(section.heading)) {
            page += replacedSections.value(section.heading);
            continue;
        }
        for (const HelpText::Item& item : section.items) {
            page += QStringLiteral(".TP\n%1\n").arg(roffTerm(item.term));
            if (!item.text.isEmpty())
                page += roffText(item.text) + QLatin1Char('\n');
        }
    }

    if (!seeAlso.isEmpty()) {
        QStringList references;
        for (const QString& other : seeAlso)
            references << QStringLiteral(".BR %1 (1)").arg(roffText(other));
        page += QStringLiteral(".SH \"SEE ALSO\"\n") + references.join(QStringLiteral(",\n")) +
                QLatin1Char('\n');
    }
    return page;
}

QString cliManPage()
{
    // Every command of the table, with what its own help says of it.
    QString commandsSection;
    const QList<const CommandHelp*> all = commands();
    for (const CommandHelp* command : all) {
        QString text = QString::fromUtf8(command->text);
        text.replace(QLatin1Char('\n'), QLatin1Char(' '));
        commandsSection +=
            QStringLiteral(".TP\n%1\n%2\n.IP\nExample:\n.nf\n%3\n.fi\n")
                .arg(roffTerm(QString::fromUtf8(command->synopsis), true), roffText(text),
                     QStringLiteral("\\fB%1\\fR")
                         .arg(roffText(QString::fromUtf8(command->example))));
    }
    return manPage(QStringLiteral("ziro-bldc-cli"), generalHelp(),
                   {QStringLiteral("ziro-bldc"), QStringLiteral("ziro-bldc-sim")},
                   {{QStringLiteral("Commands"), commandsSection}});
}

} // namespace cli
