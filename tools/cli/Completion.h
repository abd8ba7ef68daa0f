#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Shell completion for ziro-bldc-cli, made from its help: the commands and their synopses
// from the command table, the tool's options from the general help, the parameter names
// from the catalogue.
namespace cli {

// What a synopsis says a command takes.
struct CommandSyntax
{
    struct Option
    {
        QString name;  // "--csv"
        QString value; // its placeholder ("FILE"), empty for a switch
    };

    QString name;
    QList<Option> options;
    // The placeholders of its arguments in order; the last may end in "..." (repeated).
    QStringList arguments;

    // "watch [--interval MS] [--count N] [--csv FILE]", "get PARAMETER [PARAMETER...]".
    static CommandSyntax parse(const QString& synopsis);
};

// The options of the tool itself, from the general help's "Options" section.
QList<CommandSyntax::Option> toolOptions();

// A bash script that completes ziro-bldc-cli's commands, options, parameter names and
// files (bash-completion loads it by the tool's name).
QString bashCompletion();

} // namespace cli
