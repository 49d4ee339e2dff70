// The command table, the manual pages and the bash completion name the same commands and
// options: the pages as velduo prints them, the completion as the build made it from velduo and
// bash runs it.
#include "codec/blocks.h"

#include <QtTest>

namespace {

QString velduo(const QStringList& args)
{
    QProcess process;
    process.start(QStringLiteral(VEL_VELDUO), args);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return QString();
    return QString::fromUtf8(process.readAllStandardOutput());
}

// What the completion offers for the words typed so far, the last one being completed. It runs
// in a folder of its own that holds only the files named, so that a file name offered for a
// value shows as nothing unless it is one of them.
QStringList completion(const QStringList& words, const QStringList& files = {})
{
    QTemporaryDir empty;
    for (const QString& name : files)
        QFile(empty.filePath(name)).open(QIODevice::WriteOnly);
    QProcess bash;
    bash.setWorkingDirectory(empty.path());
    // The ports offered for --port are the ones velduo lists, this one among them.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PATH"), QFileInfo(QStringLiteral(VEL_VELDUO)).path() +
                                           QLatin1Char(':') + env.value(QStringLiteral("PATH")));
    env.insert(QStringLiteral("VEL_DUO300_EXTRA_PORTS"), QStringLiteral("/dev/vel-completion"));
    bash.setProcessEnvironment(env);
    const QString script = QStringLiteral(
        "source \"$1\"; shift; COMP_WORDS=(\"$@\"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); "
        "_velduo; printf '%s\\n' \"${COMPREPLY[@]}\"");
    bash.start(QStringLiteral("bash"),
               QStringList{QStringLiteral("--norc"), QStringLiteral("--noprofile"),
                           QStringLiteral("-c"), script, QStringLiteral("bash"),
                           QStringLiteral(VEL_COMPLETION)} +
                   words);
    if (!bash.waitForFinished(30000) || bash.exitCode() != 0)
        return {QStringLiteral("(bash failed)")};
    QStringList offered = QString::fromUtf8(bash.readAllStandardOutput())
                              .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    offered.sort();
    offered.removeDuplicates();
    return offered;
}

// A section of a manual page: the lines below its heading.
QStringList section(const QString& page, const QString& heading)
{
    QStringList lines;
    bool inside = false;
    for (const QString& line : page.split(QLatin1Char('\n'))) {
        if (!line.isEmpty() && !line.startsWith(QLatin1Char(' ')))
            inside = line == heading;
        else if (inside && !line.isEmpty())
            lines << line;
    }
    return lines;
}

// An option as a page tells it.
struct Option
{
    QStringList names; // the short alias, when there is one, first
    bool takesValue = false;
};

// The options a section lists, one an entry ("    --name VALUE"), or several an entry sharing
// a description ("    --cert FILE, --key FILE"); a one-dash name is the alias of the next.
QList<Option> listedOptions(const QStringList& lines)
{
    QList<Option> options;
    for (const QString& line : lines) {
        if (!line.startsWith(QLatin1String("    -")))
            continue;
        QStringList alias;
        for (const QString& part : line.trimmed().split(QStringLiteral(", "))) {
            const QStringList words = part.split(QLatin1Char(' '));
            alias << words.first();
            if (!words.first().startsWith(QLatin1String("--")))
                continue;
            options.append({alias, words.size() > 1});
            alias.clear();
        }
        if (!alias.isEmpty())
            options.append({alias, false});
    }
    return options;
}

QStringList longNames(const QList<Option>& options)
{
    QStringList names;
    for (const Option& option : options)
        names << option.names.last();
    names.sort();
    return names;
}

// The commands the program's page lists: the table's.
QStringList tableCommands()
{
    QStringList commands;
    for (const QString& line : section(velduo({QStringLiteral("help")}), QStringLiteral("КОМАНДЫ")))
        commands << line.trimmed().section(QLatin1Char(' '), 0, 0);
    return commands;
}

QSet<QString> toSet(const QStringList& list)
{
    return QSet<QString>(list.begin(), list.end());
}

} // namespace

class TestCompletion : public QObject
{
    Q_OBJECT

private slots:
    void theCommandsAreTheTables()
    {
        QStringList commands = tableCommands();
        QVERIFY2(commands.size() > 5, qPrintable(commands.join(' ')));
        commands << QStringLiteral("help");
        commands.sort();
        QStringList first = commands;
        first << QStringLiteral("--help");
        first.sort();
        QCOMPARE(completion({QStringLiteral("velduo"), QString()}), first);
        QCOMPARE(completion({QStringLiteral("velduo"), QStringLiteral("help"), QString()}),
                 commands);
    }

    void eachCommandsOptions_data()
    {
        QTest::addColumn<QString>("command");
        for (const QString& command : tableCommands())
            QTest::newRow(qPrintable(command)) << command;
    }

    // The options its page tells are the ones its parser takes (the page is made from the
    // parser's list), named in its synopsis and completed by bash; those that take a value are
    // followed by a value, not by another option.
    void eachCommandsOptions()
    {
        QFETCH(QString, command);
        const QString page = velduo({QStringLiteral("help"), command});
        QVERIFY2(page.startsWith(QStringLiteral("ИМЯ\n    velduo-%1 - ").arg(command)),
                 qPrintable(page));
        QCOMPARE(velduo({command, QStringLiteral("--help")}), page);

        const QList<Option> options = listedOptions(section(page, QStringLiteral("ПАРАМЕТРЫ")));
        const QList<Option> common = listedOptions(
            section(velduo({QStringLiteral("help")}), QStringLiteral("ОБЩИЕ ПАРАМЕТРЫ")));
        QVERIFY(!common.isEmpty());
        QSet<QString> own = toSet(longNames(options)) - toSet(longNames(common));

        static const QRegularExpression named(QStringLiteral("(?<![\\w-])--?[a-z][a-z-]*"));
        QSet<QString> synopsis;
        for (const QString& line : section(page, QStringLiteral("ОБЗОР"))) {
            for (auto match = named.globalMatch(line); match.hasNext();)
                synopsis.insert(match.next().captured());
        }
        QVERIFY2((own - synopsis).isEmpty(),
                 qPrintable(QStringList((own - synopsis).values()).join(' ')));
        const QSet<QString> stray = synopsis - toSet(longNames(options));
        QVERIFY2(stray.isEmpty(), qPrintable(QStringList(stray.values()).join(' ')));

        // After a positional argument, so that calibrate's point is not the word completed.
        const QStringList typed{QStringLiteral("velduo"), command, QStringLiteral("1")};
        QCOMPARE(completion(typed + QStringList{QStringLiteral("-")}), longNames(options));
        for (const Option& option : options) {
            const QStringList offered =
                completion(typed + QStringList{option.names.last(), QStringLiteral("-")});
            if (option.takesValue)
                QVERIFY2(offered.isEmpty(),
                         qPrintable(option.names.last() + QStringLiteral(" is followed by ") +
                                    offered.join(' ')));
            else
                QCOMPARE(offered, longNames(options));
        }
    }

    // What is offered for a value or an argument: files where a file is named, the ports velduo
    // lists, the speeds codec lists, the words a command takes.
    void valuesAndArguments_data()
    {
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<QStringList>("offered");
        const QStringList file{QStringLiteral("a.bin")};
        QStringList speeds;
        for (int speed : listedSpeeds)
            speeds << QString::number(speed);
        speeds.sort();

        QTest::newRow("--log") << QStringList{"velduo", "info", "1", "--log", ""} << file;
        for (const char* option :
             {"--mqtt-password-file", "--mqtt-cafile", "--mqtt-cert", "--mqtt-key"})
            QTest::newRow(option) << QStringList{"velduo", "watch", "1", option, ""} << file;
        for (const char* option : {"--out", "--image", "--report"})
            QTest::newRow(qPrintable(QStringLiteral("commission %1").arg(option)))
                << QStringList{"velduo", "commission", "plan.json", option, ""} << file;
        QTest::newRow("report --out")
            << QStringList{"velduo", "report", "line.json", "--out", ""} << file;
        QTest::newRow("flash image") << QStringList{"velduo", "flash", "1@9600", ""} << file;
        QTest::newRow("commission plan") << QStringList{"velduo", "commission", ""} << file;
        QTest::newRow("report line file") << QStringList{"velduo", "report", ""} << file;
        QTest::newRow("--port") << QStringList{"velduo", "scan", "--port", "/dev/vel-c"}
                                << QStringList{"/dev/vel-completion"};
        QTest::newRow("write --speed")
            << QStringList{"velduo", "write", "1", "--speed", ""} << speeds;
        QTest::newRow("scan --speeds") << QStringList{"velduo", "scan", "--speeds", ""} << speeds;
        QTest::newRow("--csv-style") << QStringList{"velduo", "watch", "1", "--csv-style", ""}
                                     << QStringList{"comma", "semicolon"};
        QTest::newRow("calibrate point")
            << QStringList{"velduo", "calibrate", ""} << QStringList{"nominal", "zero"};
        QTest::newRow("a sensor is typed") << QStringList{"velduo", "read", ""} << QStringList();
    }

    void valuesAndArguments()
    {
        QFETCH(QStringList, typed);
        QFETCH(QStringList, offered);
        QCOMPARE(completion(typed, {QStringLiteral("a.bin")}), offered);
    }

    // watch takes line files besides sensors: the JSON files and the folders are offered.
    void watchOffersLineFiles()
    {
        const QStringList files{QStringLiteral("line2.json"), QStringLiteral("notes.txt")};
        QCOMPARE(completion({QStringLiteral("velduo"), QStringLiteral("watch"), QString()}, files),
                 QStringList{QStringLiteral("line2.json")});
        QCOMPARE(completion({QStringLiteral("velduo"), QStringLiteral("watch"),
                             QStringLiteral("1@9600"), QStringLiteral("l")},
                            files),
                 QStringList{QStringLiteral("line2.json")});
    }
};

QTEST_GUILESS_MAIN(TestCompletion)
#include "tst_completion.moc"
