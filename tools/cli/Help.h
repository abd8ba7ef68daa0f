#pragma once

#include <QList>
#include <QString>

// The command line's help: one text for the whole tool and one for each command.
namespace cli {

// One command: its name, its synopsis, what it does, and one example.
struct CommandHelp
{
    const char* name;
    const char* synopsis;
    const char* text;
    const char* example;
};

// The command of that name; nullptr for none.
const CommandHelp* findCommand(const QString& name);
// Every command, in the order the help lists them.
QList<const CommandHelp*> commands();
// Usage, the options, every command with its example, and the exit statuses.
QString generalHelp();
// The usage, text and example of one command.
QString helpFor(const CommandHelp& help);

} // namespace cli
