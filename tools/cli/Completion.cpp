#include "cli/Completion.h"

#include "cli/Help.h"
#include "cli/ManPage.h"
#include "config/ParameterCatalogue.h"

#include <QRegularExpression>

namespace cli {

namespace {

bool isPlaceholder(const QString& word)
{
    static const QRegularExpression placeholder(
        QStringLiteral("^(<[^>]+>|[A-Z][A-Z0-9_]*)(\\.\\.\\.)?$"));
    return placeholder.match(word).hasMatch();
}

QString bare(const QString& token)
{
    QString word = token;
    while (word.startsWith(QLatin1Char('[')) || word.startsWith(QLatin1Char('(')))
        word.remove(0, 1);
    while (word.endsWith(QLatin1Char(']')) || word.endsWith(QLatin1Char(')')) ||
           word.endsWith(QLatin1Char(',')))
        word.chop(1);
    return word;
}

// A word of the script in single quotes.
QString quoted(const QString& text)
{
    QString inner = text;
    inner.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + inner + QLatin1Char('\'');
}

QString optionNames(const QList<CommandSyntax::Option>& options)
{
    QStringList names;
    for (const CommandSyntax::Option& option : options)
        names << option.name;
    return names.join(QLatin1Char(' '));
}

bool isFile(const QString& placeholder)
{
    static const QRegularExpression file(QStringLiteral("(FILE|PATH|DIR)(\\.\\.\\.)?$"));
    return file.match(placeholder).hasMatch();
}

} // namespace

CommandSyntax CommandSyntax::parse(const QString& synopsis)
{
    CommandSyntax syntax;
    const QStringList tokens = synopsis.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (tokens.isEmpty())
        return syntax;
    syntax.name = tokens.constFirst();
    for (int i = 1; i < tokens.size(); ++i) {
        const QString& token = tokens.at(i);
        const QString word = bare(token);
        if (word.startsWith(QLatin1String("--"))) {
            Option option{word.section(QLatin1Char('='), 0, 0), QString()};
            // "[--csv FILE]": the placeholder within the option's brackets is its value.
            if (!token.endsWith(QLatin1Char(']')) && i + 1 < tokens.size() &&
                !tokens.at(i + 1).startsWith(QLatin1Char('[')) &&
                isPlaceholder(bare(tokens.at(i + 1))))
                option.value = bare(tokens.at(++i));
            syntax.options << option;
        } else if (isPlaceholder(word)) {
            syntax.arguments << word;
        }
    }
    return syntax;
}

QList<CommandSyntax::Option> toolOptions()
{
    QList<CommandSyntax::Option> options;
    const HelpText help = HelpText::parse(generalHelp());
    const HelpText::Section* section = help.section(QStringLiteral("Options"));
    if (!section)
        return options;
    for (const HelpText::Item& item : section->items) {
        const CommandSyntax syntax = CommandSyntax::parse(QStringLiteral("tool ") + item.term);
        options << syntax.options;
    }
    return options;
}

QString bashCompletion()
{
    const QList<CommandSyntax::Option> tool = toolOptions();
    QList<CommandSyntax> syntaxes;
    QStringList names;
    const QList<const CommandHelp*> all = commands();
    for (const CommandHelp* command : all) {
        syntaxes << CommandSyntax::parse(QString::fromUtf8(command->synopsis));
        names << syntaxes.last().name;
    }
    QStringList parameters;
    for (const ParameterCatalogue::Name& name : ParameterCatalogue::names())
        parameters << name.name;

    // Options that take a value, by the kind of value.
    QStringList fileValued;
    QStringList otherValued;
    QList<CommandSyntax::Option> every = tool;
    for (const CommandSyntax& syntax : std::as_const(syntaxes))
        every << syntax.options;
    for (const CommandSyntax::Option& option : std::as_const(every)) {
        if (option.value.isEmpty())
            continue;
        QStringList& list = isFile(option.value) ? fileValued : otherValued;
        if (!list.contains(option.name))
            list << option.name;
    }
    QStringList valued = fileValued + otherValued;

    QString commandCases;
    for (const CommandSyntax& syntax : std::as_const(syntaxes)) {
        QStringList kinds;
        for (const QString& argument : syntax.arguments)
            kinds << argument;
        commandCases += QStringLiteral("    %1) own=%2 kinds=%3 ;;\n")
                            .arg(syntax.name, quoted(optionNames(syntax.options)),
                                 quoted(kinds.join(QLatin1Char(' '))));
    }

    QString script = QStringLiteral(
        "# bash completion for ziro-bldc-cli, made from its help when the tool was built.\n"
        "\n"
        "_ziro_bldc_cli()\n"
        "{\n"
        "    local cur=${COMP_WORDS[COMP_CWORD]} prev=\n"
        "    (( COMP_CWORD > 0 )) && prev=${COMP_WORDS[COMP_CWORD-1]}\n"
        "    local commands=@COMMANDS@\n"
        "    local options=@OPTIONS@\n"
        "    local parameters=@PARAMETERS@\n"
        "    COMPREPLY=()\n"
        "\n"
        "    # The value of an option.\n"
        "    case $prev in\n"
        "    @FILEVALUED@)\n"
        "        compopt -o filenames 2>/dev/null\n"
        "        COMPREPLY=($(compgen -f -- \"$cur\"))\n"
        "        return ;;\n"
        "    @OTHERVALUED@)\n"
        "        return ;;\n"
        "    esac\n"
        "\n"
        "    # The command, and how many of its arguments come before the word.\n"
        "    local i word command= skip= arguments=0\n"
        "    for (( i = 1; i < COMP_CWORD; i++ )); do\n"
        "        word=${COMP_WORDS[i]}\n"
        "        if [[ -n $skip ]]; then skip=; continue; fi\n"
        "        case $word in\n"
        "        @VALUED@) skip=1 ;;\n"
        "        -*) ;;\n"
        "        *) if [[ -z $command ]]; then command=$word; else (( arguments++ )); fi ;;\n"
        "        esac\n"
        "    done\n"
        "\n"
        "    local own= kinds=\n"
        "    case $command in\n"
        "    '')\n"
        "        if [[ $cur == -* ]]; then\n"
        "            COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
        "        else\n"
        "            COMPREPLY=($(compgen -W \"$commands help\" -- \"$cur\"))\n"
        "        fi\n"
        "        return ;;\n"
        "    help) kinds=_command ;;\n"
        "@COMMANDCASES@"
        "    *) return ;;\n"
        "    esac\n"
        "    if [[ $cur == -* ]]; then\n"
        "        COMPREPLY=($(compgen -W \"$options $own\" -- \"$cur\"))\n"
        "        return\n"
        "    fi\n"
        "\n"
        "    # The argument's kind: by its place, the last one repeated if it ends in \"...\".\n"
        "    local -a list=($kinds)\n"
        "    local kind= count=${#list[@]}\n"
        "    if (( arguments < count )); then\n"
        "        kind=${list[arguments]}\n"
        "    elif (( count > 0 )) && [[ ${list[count-1]} == *... ]]; then\n"
        "        kind=${list[count-1]}\n"
        "    fi\n"
        "    case ${kind%...} in\n"
        "    PARAMETER) COMPREPLY=($(compgen -W \"$parameters\" -- \"$cur\")) ;;\n"
        "    *FILE|*PATH|*DIR)\n"
        "        compopt -o filenames 2>/dev/null\n"
        "        COMPREPLY=($(compgen -f -- \"$cur\")) ;;\n"
        "    _command) COMPREPLY=($(compgen -W \"$commands\" -- \"$cur\")) ;;\n"
        "    esac\n"
        "}\n"
        "complete -F _ziro_bldc_cli ziro-bldc-cli\n");
    // A case pattern that matches nothing stands in for an empty list.
    const auto pattern = [](const QStringList& words) {
        return words.isEmpty() ? QStringLiteral("--@none@") : words.join(QLatin1Char('|'));
    };
    script.replace(QLatin1String("@COMMANDS@"), quoted(names.join(QLatin1Char(' '))));
    script.replace(QLatin1String("@OPTIONS@"), quoted(optionNames(tool)));
    script.replace(QLatin1String("@PARAMETERS@"), quoted(parameters.join(QLatin1Char(' '))));
    script.replace(QLatin1String("@FILEVALUED@"), pattern(fileValued));
    script.replace(QLatin1String("@OTHERVALUED@"), pattern(otherValued));
    script.replace(QLatin1String("@VALUED@"), pattern(valued));
    script.replace(QLatin1String("@COMMANDCASES@"), commandCases);
    return script;
}

} // namespace cli
