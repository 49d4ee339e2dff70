// velduo report: the commissioning report of a line, read from its sensors now and set against
// its line file, as a PDF (and JSON) to hand over.
#include "cli/command.h"
#include "codec/filefault.h"
#include "core/ops/linereport.h"
#include "print/reportdocument.h"

#include <QGuiApplication>
#include <QSaveFile>
#include <QSysInfo>
#include <cstring>

namespace {

// The PDF's place can be written: told before the wire, so that no line is read in vain. The
// file itself is not touched.
QString unwritable(const QString& path)
{
    QSaveFile probe(path);
    QString why;
    if (!openFile(probe, QIODevice::WriteOnly, &why))
        return QStringLiteral("Протокол «%1» не записан: %2").arg(path, why);
    probe.cancelWriting();
    return QString();
}

int report(Context& context, const linefile::Line& file, const QString& fileName,
           const ReportNames& names)
{
    ReportOutcome outcome;
    if (const int code = makeReport(context, file, fileName, names, &outcome))
        return code;
    QString text = QStringLiteral("Протокол записан: %1\n").arg(names.pdfPath);
    for (const linereport::Difference& d : outcome.report.differences)
        text += QStringLiteral("Расхождение: %1, %2: в файле %3, в датчике %4\n")
                    .arg(d.sensor, d.field, d.inFile, d.onSensor);
    text += QStringLiteral("Итог: %1\n").arg(outcome.report.summary);
    QJsonObject object = linereport::toJson(outcome.report);
    object.insert(QStringLiteral("pdf"), names.pdfPath);
    context.result(text, object);
    return outcome.report.matches ? exitcode::done : exitcode::batch;
}

} // namespace

bool drawsPages(int argc, char* argv[])
{
    if (argc < 2)
        return false;
    const bool report = std::strcmp(argv[1], "report") == 0;
    if (!report && std::strcmp(argv[1], "commission") != 0)
        return false;
    bool reportOption = false;
    for (int i = 2; i < argc; ++i) {
        // A page of help draws nothing.
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return false;
        reportOption = reportOption || std::strcmp(argv[i], "--report") == 0 ||
                       std::strncmp(argv[i], "--report=", 9) == 0;
    }
    return report || reportOption;
}

QCoreApplication* makeApplication(int& argc, char* argv[])
{
    if (!drawsPages(argc, argv))
        return new QCoreApplication(argc, argv);
    // The pages need Qt's fonts, and so a GUI application; nothing is shown, so no display is
    // asked for either: the same PDF on a desktop, over ssh and on a bench without one.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return new QGuiApplication(argc, argv);
}

QString reportNamesFault(const QCommandLineParser& parser, ReportNames* names)
{
    names->site = parser.value(QStringLiteral("site"));
    names->line = parser.value(QStringLiteral("line"));
    names->engineer = parser.value(QStringLiteral("engineer"));
    return unwritable(names->pdfPath);
}

int makeReport(Context& context, const linefile::Line& file, const QString& fileName,
               const ReportNames& names, ReportOutcome* outcome)
{
    Session& session = *context.session;
    session.host().setActivity(QStringLiteral("Чтение датчиков для протокола"));
    linereport::ReadSensors read(session.line(), session.host());
    const ops::Result result = read.run(session.port(), file.sensors);
    session.host().finishProgress();
    if (!result.done() || session.portFailed())
        return context.report(result, QString());

    linereport::Header header;
    header.site = names.site;
    header.line = !names.line.isEmpty() ? names.line : file.port;
    header.engineer = names.engineer;
    header.program = QStringLiteral("velduo %1").arg(QStringLiteral(VEL_VERSION));
    header.host = QSysInfo::machineHostName();
    header.port = session.port();
    header.at = QDateTime::currentDateTime();
    outcome->report = linereport::make(header, fileName, file, read.readings);
    const QString fault = reportprint::savePdf(outcome->report, names.pdfPath);
    if (!fault.isEmpty())
        return context.refuse(fault);
    return exitcode::done;
}

QList<QCommandLineOption> reportNameOptions()
{
    return {
        QCommandLineOption(QStringLiteral("site"), QStringLiteral("Название объекта в протоколе."),
                           QStringLiteral("NAME")),
        QCommandLineOption(QStringLiteral("line"),
                           QStringLiteral("Название линии в протоколе; иначе порт из файла линии."),
                           QStringLiteral("NAME")),
        QCommandLineOption(QStringLiteral("engineer"),
                           QStringLiteral("Инженер по наладке: его имя в протоколе и у подписи."),
                           QStringLiteral("NAME")),
    };
}

Job prepareReport(Context& context, int* code)
{
    if (context.args.size() != 1)
        return noJob(code, context.usage(QStringLiteral("ожидается один аргумент: файл линии")));
    ReportNames names;
    names.pdfPath = context.parser->value(QStringLiteral("out"));
    if (names.pdfPath.isEmpty())
        return noJob(code, context.usage(QStringLiteral("не указан файл протокола (--out FILE)")));
    const QString fileName = context.args.at(0);
    const linefile::ReadResult file = linefile::readFile(fileName, linefile::Mode::FileOrPlan);
    if (!file.ok())
        return noJob(code, context.refuse(file.refusal));
    const QString fault = reportNamesFault(*context.parser, &names);
    if (!fault.isEmpty())
        return noJob(code, context.refuse(fault));
    return [line = file.line, fileName, names](Context& context) {
        return report(context, line, fileName, names);
    };
}

HelpPage reportHelp()
{
    static const QList<QCommandLineOption> options =
        QList<QCommandLineOption>{QCommandLineOption(
            QStringLiteral("out"),
            QStringLiteral("Файл протокола (PDF, A4); заменяется только целиком."),
            QStringLiteral("FILE"))} +
        reportNameOptions();
    return {"протокол наладки линии (PDF)",
            "velduo report LINEFILE --out FILE [--site NAME] [--line NAME] [--engineer NAME]\n"
            "    [--json]",
            "Протокол наладки линии для передачи заказчику. Каждый датчик файла линии\n"
            "LINEFILE (сохранённой линии или плана ввода) считывается заново, только\n"
            "чтением: блок уставок, текущие параметры, выход (катушка 0); ничего не\n"
            "записывается, загрузчик и широковещательные запросы не используются.\n"
            "Протокол: объект, линия, порт, дата и время со смещением от UTC, инженер,\n"
            "программа и компьютер; строка на датчик (адрес, скорость, тип, название,\n"
            "уставка, версия ПО, точки нуля и номинала для датчика напряжения, измерение,\n"
            "АЦП, выход, время работы); поля, что расходятся с файлом, отмечены и\n"
            "перечислены под таблицей; датчик, что не ответил, - строка, которая это\n"
            "говорит; итог и места для подписей. С --json на stdout тот же протокол\n"
            "документом JSON. Код 0 - все датчики ответили и совпали с файлом, 5 -\n"
            "протокол записан, но не все.\n",
            options,
            "    velduo report line.json --out protokol.pdf --site \"ПС Северная\" \\\n"
            "        --engineer \"Иванов И. И.\"\n"
            "    velduo report plan.json --out protokol.pdf --json > protokol.json\n",
            {{}, {}, Completion::AnyFile}};
}
