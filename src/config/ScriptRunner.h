#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <functional>

class SerialUSBCommandHandler;

// Runs a command script as the tool exports it back on a module:
//
//     //=== motor/module settings ===
//     SAP 253, 0, 8 <tab>// motor poles
//     STAP 253, 0
//
// "SAP n, bank, value" sets axis parameter n of motor/bank `bank` (command 5), "STAP n,
// bank" stores it in the module's non-volatile memory (command 7). Headers and comments
// (from "//" to the end of the line) and empty lines are skipped; the mnemonics may be
// written in either case. The whole script is checked before anything is sent, so a
// malformed line stops it with nothing written.
class ScriptRunner
{
public:
    // A script larger than this is not one the tool wrote.
    static constexpr qint64 MaxFileSize = 16 * 1024 * 1024;

    struct Command
    {
        int line;       // 1 for the first line of the file
        QString text;   // the line without its comment, e.g. "SAP 253, 0, 8"
        quint8 command; // 5 (SAP) or 7 (STAP)
        quint8 type;
        quint8 motorBank;
        qint32 value; // 0 for STAP
    };

    // One command that did not go through: the module refused it (status other than 100),
    // or did not answer (answered false).
    struct Failure
    {
        Command command;
        bool answered;
        quint8 status;
        qint32 value;
    };

    struct Result
    {
        int sent = 0;
        int failed = 0;
        // The run ended before the last command: a failure without keepGoing, the link was
        // lost, or progress() asked to stop.
        bool stopped = false;
    };

    // Reads and checks the whole file. false on the first malformed line, or when the
    // file cannot be read or holds no command; *error then says where and why
    // ("settings.vkt:12: ...").
    bool load(const QString& fileName, QString* error);
    // The same for a script already in memory; name stands for the file in messages.
    bool parse(const QByteArray& script, const QString& name, QString* error);
    const QList<Command>& commands() const { return m_commands; }

    // Sends the commands in order through the handler, one exchange each. Every command
    // that is refused or gets no answer is handed to failed(); the run stops at the first
    // unless keepGoing is set, and always when the link is down. progress() (if given) is
    // told after every exchange how many of how many are done; when it returns false, the
    // run stops there.
    Result run(SerialUSBCommandHandler& handler, bool keepGoing,
               const std::function<void(const Failure&)>& failed,
               const std::function<bool(int done, int total)>& progress = {}) const;

private:
    QList<Command> m_commands;
};
