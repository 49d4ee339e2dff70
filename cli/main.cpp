// velduo: the sensors' jobs from the command line, over the same library as the window.
#include "cli/commands.h"

#include <QCoreApplication>
#include <QProcessEnvironment>

namespace {

QList<QCommandLineOption> commonOptions()
{
    return {
        QCommandLineOption(QStringLiteral("port"), QString(), QStringLiteral("PATH")),
        QCommandLineOption(QStringLiteral("yes")),
        QCommandLineOption(QStringLiteral("log"), QString(), QStringLiteral("FILE")),
        QCommandLineOption(QStringLiteral("v")),
        QCommandLineOption(QStringLiteral("json")),
        QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}),
    };
}

int usageError(const QString& text)
{
    printErr(QStringLiteral("velduo: %1\nСправка: velduo --help\n").arg(text));
    return exitcode::usage;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velduo"));
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 2)
        return usageError(QStringLiteral("не указана команда"));
    const QString name = arguments.at(1);
    if (name == QLatin1String("--help") || name == QLatin1String("-h") ||
        name == QLatin1String("help")) {
        if (arguments.size() > 2)
            printOut(commandHelp(arguments.at(2)));
        else
            printOut(programHelp());
        return exitcode::done;
    }
    const Command* command = nullptr;
    for (const Command& known : commands()) {
        if (known.name == name)
            command = &known;
    }
    if (!command)
        return usageError(QStringLiteral("неизвестная команда «%1»").arg(name));

    QCommandLineParser parser;
    parser.addOptions(commonOptions());
    parser.addOptions(command->options);
    if (!parser.parse(QStringList{arguments.at(0)} + arguments.mid(2)))
        return usageError(QStringLiteral("%1: %2").arg(name, parser.errorText()));
    if (parser.isSet(QStringLiteral("help"))) {
        printOut(commandHelp(name));
        return exitcode::done;
    }

    Context context;
    context.command = name;
    context.args = parser.positionalArguments();
    context.parser = &parser;
    context.json = parser.isSet(QStringLiteral("json"));
    context.yes = parser.isSet(QStringLiteral("yes"));
    context.verbose = parser.isSet(QStringLiteral("v"));
    context.logPath = parser.value(QStringLiteral("log"));
    context.port =
        parser.isSet(QStringLiteral("port"))
            ? parser.value(QStringLiteral("port"))
            : QProcessEnvironment::systemEnvironment().value(QStringLiteral("VELDUO_PORT"));
    return command->run(context);
}
