// Makes the manual pages from the programs' own --help, so that a page never says other than
// the program: run by the build after the programs are linked.
//
//     helptoman <output folder> <version> <program>...
//
// Each program's --help is laid out as a manual page: a heading at the left margin, its text
// indented by four spaces. A program whose page has a "КОМАНДЫ" section gets one more page for
// each command listed there, from "<program> <command> --help", named <program>-<command>.1.
//
// Within a section, a line "TERM  text" (two spaces or more after the term) or a line followed
// by more deeply indented ones is a term with its description; other lines are prose, filled by
// the formatter; the synopsis and the examples are kept as they are.

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringList>
#include <cstdio>

namespace {

const QString nameHeading = QStringLiteral("ИМЯ");
const QString synopsisHeading = QStringLiteral("ОБЗОР");
const QString examplesHeading = QStringLiteral("ПРИМЕРЫ");
const QString commandsHeading = QStringLiteral("КОМАНДЫ");
const QString seeAlsoHeading = QStringLiteral("СМОТРИТЕ ТАКЖЕ");

struct Section
{
    QString heading;
    QStringList lines; // as printed, the four spaces of the body included
};

struct Page
{
    QString name;    // velduo, velduo-scan
    QString program; // velduo
    QString help;    // the --help text
    QStringList seeAlso;
};

bool fail(const QString& text)
{
    std::fprintf(stderr, "helptoman: %s\n", qPrintable(text));
    return false;
}

bool helpOf(const QString& program, const QStringList& arguments, QString* text)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments + QStringList{QStringLiteral("--help")});
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return fail(QStringLiteral("%1 %2 --help failed").arg(program, arguments.join(' ')));
    *text = QString::fromUtf8(process.readAllStandardOutput());
    if (text->isEmpty())
        return fail(
            QStringLiteral("%1 %2 --help printed nothing").arg(program, arguments.join(' ')));
    return true;
}

QList<Section> sections(const QString& help)
{
    QList<Section> result;
    for (const QString& line : help.split(QLatin1Char('\n'))) {
        if (!line.isEmpty() && !line.at(0).isSpace())
            result.append({line.trimmed(), {}});
        else if (!result.isEmpty())
            result.last().lines.append(line);
    }
    for (Section& section : result)
        while (!section.lines.isEmpty() && section.lines.last().trimmed().isEmpty())
            section.lines.removeLast();
    return result;
}

int indentOf(const QString& line)
{
    int i = 0;
    while (i < line.size() && line.at(i) == QLatin1Char(' '))
        ++i;
    return i;
}

// Text for the formatter: backslashes escaped, minus signs kept as ASCII minus (options are
// copied from the page), and a line that would start with a control character protected.
QString escaped(const QString& text)
{
    QString result = text;
    result.replace(QLatin1Char('\\'), QStringLiteral("\\e"));
    result.replace(QLatin1Char('-'), QStringLiteral("\\-"));
    if (result.startsWith(QLatin1Char('.')) || result.startsWith(QLatin1Char('\'')))
        result.prepend(QStringLiteral("\\&"));
    return result;
}

// A term in bold; in an option's term, its value names in italics.
QString term(const QString& text)
{
    if (!text.startsWith(QLatin1Char('-')))
        return QStringLiteral("\\fB%1\\fR").arg(escaped(text));
    QStringList words;
    for (const QString& word : text.split(QLatin1Char(' '))) {
        const QString bare = word.endsWith(QLatin1Char(',')) ? word.chopped(1) : word;
        const QString comma = bare.size() < word.size() ? QStringLiteral(",") : QString();
        const char* font = bare.startsWith(QLatin1Char('-')) ? "\\fB%1\\fR%2" : "\\fI%1\\fR%2";
        words << QString::fromLatin1(font).arg(escaped(bare), comma);
    }
    return words.join(QLatin1Char(' '));
}

QString verbatim(const QStringList& lines)
{
    QString out = QStringLiteral(".nf\n");
    for (const QString& line : lines)
        out += line.trimmed().isEmpty()
                   ? QStringLiteral("\n")
                   : escaped(line.mid(qMin(4, indentOf(line)))) + QLatin1Char('\n');
    return out + QStringLiteral(".fi\n");
}

QString body(const QStringList& lines)
{
    static const QRegularExpression column(QStringLiteral("^ {4}(\\S+(?: \\S+)*) {2,}(\\S.*)$"));
    // The terms of a table side by side with their text, as wide as the widest.
    int termWidth = 0;
    for (const QString& line : lines) {
        const QRegularExpressionMatch match = column.match(line);
        if (match.hasMatch())
            termWidth = qMax(termWidth, int(match.captured(1).size()) + 2);
    }
    QString out;
    bool prose = false; // a paragraph of prose is open
    for (int i = 0; i < lines.size(); ++i) {
        const QString& line = lines.at(i);
        const int indent = indentOf(line);
        if (line.trimmed().isEmpty()) {
            prose = false;
            continue;
        }
        const bool deeperNext = i + 1 < lines.size() && indentOf(lines.at(i + 1)) > indent &&
                                !lines.at(i + 1).trimmed().isEmpty();
        const QRegularExpressionMatch match = column.match(line);
        if (indent == 4 && (match.hasMatch() || deeperNext)) {
            out += match.hasMatch()
                       ? QStringLiteral(".TP %1\n%2\n").arg(termWidth).arg(term(match.captured(1)))
                       : QStringLiteral(".TP\n%1\n").arg(term(line.trimmed()));
            if (match.hasMatch())
                out += escaped(match.captured(2)) + QLatin1Char('\n');
            while (i + 1 < lines.size() && indentOf(lines.at(i + 1)) > 4 &&
                   !lines.at(i + 1).trimmed().isEmpty())
                out += escaped(lines.at(++i).trimmed()) + QLatin1Char('\n');
            prose = false;
            continue;
        }
        if (indent > 4) {
            // Kept as laid out: a sample or a table inside prose.
            QStringList block{line};
            while (i + 1 < lines.size() && indentOf(lines.at(i + 1)) > 4)
                block << lines.at(++i);
            out += QStringLiteral(".RS\n") + verbatim(block) + QStringLiteral(".RE\n");
            prose = false;
            continue;
        }
        if (!prose)
            out += QStringLiteral(".PP\n");
        out += escaped(line.trimmed()) + QLatin1Char('\n');
        prose = true;
    }
    return out;
}

QString roff(const Page& page, const QList<Section>& parts, const QString& version)
{
    QString out = QStringLiteral("'\\\" -*- coding: UTF-8 -*-\n"
                                 ".TH \"%1\" 1 \"\" \"%2 %3\" \"VEL_DUO300\"\n")
                      .arg(page.name.toUpper(), page.program, version);
    out += QStringLiteral(".nh\n.ad l\n"); // commands and paths are not to be hyphenated
    for (const Section& section : parts) {
        out += QStringLiteral(".SH \"%1\"\n").arg(section.heading);
        if (section.heading == nameHeading) {
            QString line = section.lines.join(QLatin1Char(' ')).simplified();
            const int dash = line.indexOf(QStringLiteral(" - "));
            out += escaped(line.left(dash)) + QStringLiteral(" \\- ") +
                   escaped(line.mid(dash + 3)) + QLatin1Char('\n');
        } else if (section.heading == synopsisHeading || section.heading == examplesHeading) {
            out += verbatim(section.lines);
        } else {
            out += body(section.lines);
        }
    }
    if (!page.seeAlso.isEmpty()) {
        QStringList references;
        for (const QString& other : page.seeAlso)
            references << QStringLiteral("\\fB%1\\fR(1)").arg(escaped(other));
        out += QStringLiteral(".SH \"%1\"\n%2\n").arg(seeAlsoHeading, references.join(", "));
    }
    return out;
}

// The commands a program's page lists: the first word of each line of its КОМАНДЫ section.
QStringList commandsOf(const QList<Section>& parts)
{
    QStringList names;
    for (const Section& section : parts) {
        if (section.heading != commandsHeading)
            continue;
        for (const QString& line : section.lines)
            if (indentOf(line) == 4)
                names << line.trimmed().section(QLatin1Char(' '), 0, 0);
    }
    return names;
}

bool write(const QDir& folder, const Page& page, const QString& version)
{
    QSaveFile file(folder.filePath(page.name + QStringLiteral(".1")));
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    file.write(roff(page, sections(page.help), version).toUtf8());
    if (!file.commit())
        return fail(file.fileName() + QStringLiteral(": ") + file.errorString());
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 4) {
        std::fprintf(stderr, "usage: helptoman <output folder> <version> <program>...\n");
        return 2;
    }
    QDir folder(arguments.at(1));
    if (!folder.mkpath(QStringLiteral("."))) {
        fail(QStringLiteral("cannot make ") + folder.path());
        return 1;
    }
    // Pages of commands that are gone must not stay behind to be installed.
    for (const QString& old : folder.entryList({QStringLiteral("*.1")}, QDir::Files))
        folder.remove(old);
    const QString version = arguments.at(2);
    const QStringList programs = arguments.mid(3);

    QList<Page> pages;
    QStringList programNames;
    for (const QString& program : programs)
        programNames << QFileInfo(program).fileName();
    for (int p = 0; p < programs.size(); ++p) {
        Page main{programNames.at(p), programNames.at(p), QString(), {}};
        if (!helpOf(programs.at(p), {}, &main.help))
            return 1;
        const QStringList commands = commandsOf(sections(main.help));
        for (const QString& command : commands) {
            Page page{main.name + QLatin1Char('-') + command, main.name, QString(), {main.name}};
            if (!helpOf(programs.at(p), {command}, &page.help))
                return 1;
            pages.append(page);
            main.seeAlso << page.name;
        }
        for (const QString& other : programNames)
            if (other != main.name)
                main.seeAlso << other;
        pages.append(main);
    }
    for (const Page& page : pages)
        if (!write(folder, page, version))
            return 1;
    return 0;
}
