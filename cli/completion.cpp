// velduo --completion bash: the bash completion, made from the command table and the options
// each command's parser takes, so that it never offers other than velduo accepts. The build
// writes it beside the program and installs it.
#include "cli/command.h"

namespace {

// The words bash offers after "compgen -W": they go into a double-quoted string as they are.
QString words(const QStringList& list)
{
    return list.join(QLatin1Char(' '));
}

QString optionWord(const QString& name)
{
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

// An option as it is typed: its long name, or its only one.
QString optionWord(const QCommandLineOption& option)
{
    return optionWord(option.names().last());
}

QStringList optionWords(const QList<QCommandLineOption>& options)
{
    QStringList list;
    for (const QCommandLineOption& option : options)
        list << optionWord(option);
    return list;
}

bool takesFile(const QCommandLineOption& option)
{
    static const QStringList fileValues{QStringLiteral("FILE"), QStringLiteral("LINEFILE"),
                                        QStringLiteral("IMAGE")};
    return fileValues.contains(option.valueName());
}

const QString offerFiles = QStringLiteral("COMPREPLY=($(compgen -f -- \"$cur\"))");

QString offerWords(const QStringList& list)
{
    return QStringLiteral("COMPREPLY=($(compgen -W \"%1\" -- \"$cur\"))").arg(words(list));
}

// The "case $prev" branches of the options that take a value: what is offered for it, and no
// option names in its place. Options offered the same share a branch.
QString valueBranches(const QList<QCommandLineOption>& options, const Completion& completion,
                      const QString& indent)
{
    QStringList offers;    // in the order of their first option
    QList<QStringList> by; // the options of each
    for (const QCommandLineOption& option : options) {
        if (option.valueName().isEmpty())
            continue;
        const QString name = option.names().last();
        QString offer;
        if (name == QLatin1String("port"))
            offer = QStringLiteral("COMPREPLY=($(compgen -W \"$(velduo ports 2>/dev/null | cut "
                                   "-f1)\" -- \"$cur\"))");
        else if (takesFile(option))
            offer = offerFiles;
        for (const auto& value : completion.values) {
            if (value.first == name)
                offer = offerWords(value.second);
        }
        if (!offers.contains(offer)) {
            offers << offer;
            by.append(QStringList());
        }
        by[offers.indexOf(offer)] << optionWord(name);
    }
    QString text;
    for (int i = 0; i < offers.size(); ++i) {
        text += indent + by.at(i).join(QLatin1Char('|')) + QStringLiteral(")\n");
        if (!offers.at(i).isEmpty())
            text += indent + QStringLiteral("    ") + offers.at(i) + QLatin1Char('\n');
        text += indent + QStringLiteral("    return ;;\n");
    }
    return text;
}

// The branch of one command in "case ${words[1]}"; empty when it has nothing of its own.
QString commandBranch(const Command& command)
{
    const HelpPage page = command.help();
    const Completion& completion = page.completion;
    const QString in = QStringLiteral("            ");
    QString text;
    const QString values = valueBranches(page.options, completion, in + QStringLiteral("    "));
    if (!values.isEmpty())
        text += in + QStringLiteral("case $prev in\n") + values + in + QStringLiteral("esac\n");
    if (!page.options.isEmpty())
        text += in + QStringLiteral("own=\"%1\"\n").arg(words(optionWords(page.options)));
    if (!completion.firstArgument.isEmpty())
        text += in + QStringLiteral("if [[ $cword -eq 2 ]]; then\n") + in + QStringLiteral("    ") +
                offerWords(completion.firstArgument) + QLatin1Char('\n') + in +
                QStringLiteral("    return\n") + in + QStringLiteral("fi\n");
    if (completion.files != Completion::NoFiles)
        text += in + QStringLiteral("if [[ $cur != -* ]]; then\n") + in + QStringLiteral("    ") +
                (completion.files == Completion::LineFiles
                     ? QStringLiteral("COMPREPLY=($(compgen -f -X '!*.json' -- \"$cur\") "
                                      "$(compgen -d -- \"$cur\"))")
                     : offerFiles) +
                QLatin1Char('\n') + in + QStringLiteral("    return\n") + in +
                QStringLiteral("fi\n");
    if (text.isEmpty())
        return QString();
    text.chop(1);
    return QStringLiteral("        %1)\n").arg(QString::fromUtf8(command.name)) + text +
           QStringLiteral(" ;;\n");
}

} // namespace

QString bashCompletion(const QList<Command>& commands)
{
    QStringList names;
    QString branches;
    for (const Command& command : commands) {
        names << QString::fromUtf8(command.name);
        branches += commandBranch(command);
    }
    // help is the dispatcher's, not the table's: it takes a command's name.
    names << QStringLiteral("help");
    return QStringLiteral("# bash completion for velduo, made by velduo --completion bash from its "
                          "command table\n"
                          "\n"
                          "_velduo()\n"
                          "{\n"
                          "    local cur prev words cword\n"
                          "    _init_completion 2>/dev/null || {\n"
                          "        cur=${COMP_WORDS[COMP_CWORD]}\n"
                          "        prev=${COMP_WORDS[COMP_CWORD-1]}\n"
                          "        words=(\"${COMP_WORDS[@]}\")\n"
                          "        cword=$COMP_CWORD\n"
                          "    }\n"
                          "    local commands=\"%1\"\n"
                          "    local common=\"%2\"\n"
                          "\n"
                          "    if [[ $cword -eq 1 ]]; then\n"
                          "        COMPREPLY=($(compgen -W \"$commands --help\" -- \"$cur\"))\n"
                          "        return\n"
                          "    fi\n"
                          "    case $prev in\n"
                          "%3"
                          "    esac\n"
                          "    local own=\"\"\n"
                          "    case ${words[1]} in\n"
                          "        help)\n"
                          "            COMPREPLY=($(compgen -W \"$commands\" -- \"$cur\"))\n"
                          "            return ;;\n"
                          "%4"
                          "    esac\n"
                          "    if [[ $cur == -* ]]; then\n"
                          "        COMPREPLY=($(compgen -W \"$own $common\" -- \"$cur\"))\n"
                          "    fi\n"
                          "}\n"
                          "complete -F _velduo velduo\n")
        .arg(words(names), words(optionWords(commonOptions())),
             valueBranches(commonOptions(), Completion(), QStringLiteral("        ")), branches);
}
