// velduo: the sensors' jobs from the command line, over the same library as the window.
#include "cli/command.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QProcessEnvironment>
#include <QTranslator>
#include <csignal>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace {

// Every command, in the order the program's help lists them. A command that needs the port
// gets it opened by the dispatcher once its arguments were found sound.
const QList<Command>& commands()
{
    static const QList<Command> table = {
        {"ports", preparePorts, NoPort, portsHelp},
        {"scan", prepareScan, NeedsPort, scanHelp},
        {"info", prepareInfo, NeedsPort, infoHelp},
        {"read", prepareRead, NeedsPort, readHelp},
        {"write", prepareWrite, NeedsPort, writeHelp},
        {"set-address", prepareSetAddress, NeedsPort, setAddressHelp},
        {"reset", prepareReset, NeedsPort, resetHelp},
        {"calibrate", prepareCalibrate, NeedsPort, calibrateHelp},
        {"flash", prepareFlash, NeedsPort, flashHelp},
        {"watch", prepareWatch, NeedsPort, watchHelp},
        {"commission", prepareCommission, NeedsPort, commissionHelp},
        {"report", prepareReport, NeedsPort, reportHelp},
    };
    return table;
}

const Command* findCommand(const QString& name)
{
    for (const Command& command : commands()) {
        if (name == QLatin1String(command.name))
            return &command;
    }
    return nullptr;
}

// Before a command has parsed its options, --json is looked for among the words as they are.
bool jsonAsked()
{
    return QCoreApplication::arguments().contains(QStringLiteral("--json"));
}

int usageError(const QString& text)
{
    printErr(QStringLiteral("velduo: %1\nСправка: velduo --help\n").arg(text));
    if (jsonAsked())
        printOut(QString::fromUtf8(
                     QJsonDocument(QJsonObject{{QStringLiteral("status"), QStringLiteral("usage")},
                                               {QStringLiteral("text"), text}})
                         .toJson(QJsonDocument::Compact)) +
                 QLatin1Char('\n'));
    return exitcode::usage;
}

// Until a session catches them, SIGINT and SIGTERM end velduo here as an interrupted run ends:
// no port is open yet (or any more), so there is nothing to close. Only what is safe in a
// handler: a fixed text, written, and _exit.
bool jsonEnd = false;

extern "C" void endBeforeSession(int)
{
    static const char text[] = "velduo: Прервано\n";
    static const char json[] = "{\"status\":\"ended\",\"text\":\"Прервано\"}\n";
    if (jsonEnd)
        (void)!::write(STDOUT_FILENO, json, sizeof json - 1);
    else
        (void)!::write(STDERR_FILENO, text, sizeof text - 1);
    ::_exit(exitcode::ended);
}

void catchEndSignalsEarly(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i)
        jsonEnd = jsonEnd || std::strcmp(argv[i], "--json") == 0;
    struct sigaction action = {};
    action.sa_handler = endBeforeSession;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

} // namespace

QList<QCommandLineOption> commonOptions()
{
    return {
        QCommandLineOption(QStringLiteral("port"),
                           QStringLiteral("Последовательный порт; иначе переменная VELDUO_PORT, "
                                          "иначе первый порт списка\nvelduo ports."),
                           QStringLiteral("PATH")),
        QCommandLineOption(QStringLiteral("yes"),
                           QStringLiteral("Отвечать «да» на каждое подтверждение. Без него "
                                          "подтверждение спрашивается\nна терминале и считается "
                                          "отказом, если стандартный ввод не терминал.")),
        QCommandLineOption(
            QStringLiteral("log"),
            QStringLiteral("Дописывать в FILE строки монитора порта, как окно пишет в log.txt."),
            QStringLiteral("FILE")),
        QCommandLineOption(QStringLiteral("v"),
                           QStringLiteral("Те же строки на stderr по мере обмена.")),
        QCommandLineOption(QStringLiteral("json"),
                           QStringLiteral("Машинный вывод: один документ JSON или, для потоков, "
                                          "объект JSON на строке;\nдатчик описан ключами файла "
                                          "линии.")),
        QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                           QStringLiteral("Эта справка.")),
    };
}

int main(int argc, char* argv[])
{
    // First of all, so that Ctrl-C at any moment ends with 130.
    catchEndSignalsEarly(argc, argv);
    // A GUI application only for the commands that draw pages: the others start without QtGui.
    const std::unique_ptr<QCoreApplication> app(makeApplication(argc, argv));
    QCoreApplication::setApplicationName(QStringLiteral("velduo"));
    // Qt's own messages (the option parser's among them) in Russian, as velduo's are.
    QTranslator qtTexts;
    // By its file name: the locale-based lookup tries a dozen names first, at every start.
    if (qtTexts.load(QStringLiteral("qtbase_ru.qm"),
                     QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtTexts);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 2)
        return usageError(QStringLiteral("не указана команда"));
    const QString name = arguments.at(1);
    if (name == QLatin1String("--version")) {
        printOut(QStringLiteral("velduo %1 (Qt %2)\n")
                     .arg(QStringLiteral(VEL_VERSION), QString::fromLatin1(qVersion())));
        return exitcode::done;
    }
    // Not in the help: the build asks for it to write the completion it installs.
    if (name == QLatin1String("--completion")) {
        if (arguments.size() != 3 || arguments.at(2) != QLatin1String("bash"))
            return usageError(QStringLiteral("--completion: ожидается bash"));
        printOut(bashCompletion(commands()));
        return exitcode::done;
    }
    if (name == QLatin1String("--help") || name == QLatin1String("-h") ||
        name == QLatin1String("help")) {
        const Command* command = arguments.size() > 2 ? findCommand(arguments.at(2)) : nullptr;
        // A page asked for by a name no command has is a wrong command line, as the command is.
        if (!command && arguments.size() > 2)
            return usageError(QStringLiteral("неизвестная команда «%1»").arg(arguments.at(2)));
        printOut(command ? commandHelp(*command) : programHelp(commands()));
        return exitcode::done;
    }
    const Command* command = findCommand(name);
    if (!command)
        return usageError(QStringLiteral("неизвестная команда «%1»").arg(name));

    QCommandLineParser parser;
    parser.addOptions(commonOptions());
    parser.addOptions(command->help().options);
    if (!parser.parse(QStringList{arguments.at(0)} + arguments.mid(2)))
        return usageError(QStringLiteral("%1: %2").arg(name, parser.errorText()));
    if (parser.isSet(QStringLiteral("help"))) {
        printOut(commandHelp(*command));
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

    int code = exitcode::done;
    const Job job = command->prepare(context, &code);
    if (!job)
        return code;
    if (command->port == NeedsPort && !context.open(&code))
        return code;
    return job(context);
}
