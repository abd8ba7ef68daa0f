#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// Manual pages made from the tools' own help, so that a page never says other than the
// tool does. A help text is read as the tools write it:
//
//     Usage: ziro-bldc-cli [--port PATH | --sim] ... COMMAND [ARGS]
//
//     What the tool does, one or more paragraphs.
//
//     Options:
//       --port PATH   the module's port: a name (ttyUSB0) or a path (/dev/ttyUSB0, a pty,
//                     a symbolic link)
//
// "Usage:" lines make the synopsis, the text up to the first heading the description, and
// every heading (a line of its own that ends in a colon) a section of items: a line at the
// section's first indentation starts one (its term, two blanks, its text), deeper lines go
// on with its text.
namespace cli {

struct HelpText
{
    struct Item
    {
        QString term;
        QString text;
    };
    struct Section
    {
        QString heading; // without its colon: "Options", "Exit status"
        QList<Item> items;
    };

    QStringList synopsis;
    QStringList description; // paragraphs, each on one line
    QList<Section> sections;

    static HelpText parse(const QString& text);
    // The section of that heading; nullptr for none.
    const Section* section(const QString& heading) const;
};

// Text for roff: backslashes and hyphens escaped, a control character at a line's start
// neutralised.
QString roffText(const QString& text);
// A term or synopsis with its options in bold and its placeholders (FILE, <path>) in
// italics; with nameFirst its first word (a command's name) in bold too.
QString roffTerm(const QString& term, bool nameFirst = false);

// The manual page (section 1) of program, made from its help. replacedSections holds roff
// of its own for a heading ("Commands") in place of the help's items; seeAlso names the
// pages to refer to.
QString manPage(const QString& program, const QString& help, const QStringList& seeAlso,
                const QMap<QString, QString>& replacedSections = {});
// ziro-bldc-cli(1): the general help, with every command of the command table described in
// full (its synopsis, text and example).
QString cliManPage();

} // namespace cli
