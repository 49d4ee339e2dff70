// Commissioning a line: factory sensors, one after the other, made into what a plan says.
#include "cli/command.h"
#include "codec/errortext.h"
#include "codec/firmwareimage.h"
#include "codec/linefile.h"
#include "codec/sensortype.h"
#include "core/ops/lineops.h"
#include "core/sensor/format.h"
#include "core/sensor/ustform.h"

#include <QDateTime>
#include <QFileInfo>

namespace {

// How one entry ended.
struct Outcome
{
    enum Kind
    {
        Done,
        Failed, // this entry failed; the next one is taken
        Stop,   // the whole run stops with code
    };
    Kind kind = Done;
    QString text;
    int code = exitcode::done;
    linefile::Sensor sensor;
};

class Commissioning
{
public:
    Commissioning(Context& context, const QString& imagePath, const firmware::ImageFile& image)
        : context(context), session(*context.session), line(session.line()), host(session.host()),
          imagePath(imagePath), image(image)
    {
    }

    Outcome run(const linefile::Sensor& entry, int number);

private:
    // The stop or the failure that a result that is not Done means for the entry.
    Outcome judge(const ops::Result& result, const QString& step);
    Outcome stopped(int code, const QString& text) { return {Outcome::Stop, text, code, {}}; }
    Outcome failed(const QString& text) { return {Outcome::Failed, text, exitcode::failed, {}}; }
    // The stop when the program is ending or the port is gone; Done otherwise.
    Outcome lineState();
    // Waits for the operator or, with --yes, goes on at once; false when the run must stop.
    bool operatorReady(const QString& prompt, Outcome* stop);
    // Until a sensor answers at the factory place: with its settings, or with "nonexistent
    // command" as a sensor does that a flash cut short left in its loader (dev->cmdRejected).
    Outcome waitForFactorySensor(const QString& position, DeviceVEL_DUO300* dev);
    Outcome calibrate(const QString& point, const QString& position, DeviceVEL_DUO300* dev);

    Context& context;
    Session& session;
    LineClient& line;
    TerminalHost& host;
    QString imagePath;
    // As read and checked before the first byte: every sensor gets these very bytes, whatever
    // becomes of the file during the run.
    firmware::ImageFile image;
};

Outcome Commissioning::lineState()
{
    if (session.ended())
        return stopped(exitcode::ended, QStringLiteral("Прервано"));
    if (session.portFailed())
        return stopped(exitcode::port,
                       QStringLiteral("Порт %1: %2").arg(session.port(), session.portFailure()));
    return {};
}

Outcome Commissioning::judge(const ops::Result& result, const QString& step)
{
    const Outcome state = lineState();
    if (state.kind != Outcome::Done)
        return state;
    switch (result.kind) {
    case ops::Result::Done:
        return {};
    case ops::Result::Ending:
    case ops::Result::Cancelled:
        return stopped(exitcode::ended, QStringLiteral("Прервано"));
    case ops::Result::Declined:
        return stopped(exitcode::refused, QStringLiteral("%1: не подтверждено").arg(step));
    default:
        // A refusal, or a failure without an error code (the sensor answered with what cannot
        // be used): the operation's words say why.
        if (result.kind == ops::Result::Refused || result.error == 0)
            return failed(QStringLiteral("%1: %2").arg(step, result.text));
        return failed(QStringLiteral("%1: ошибка %2: %3")
                          .arg(step)
                          .arg(result.error)
                          .arg(errorTextFor(result.error)));
    }
}

bool Commissioning::operatorReady(const QString& prompt, Outcome* stop)
{
    if (context.yes)
        return true;
    if (host.waitForEnter(prompt))
        return true;
    *stop = lineState();
    if (stop->kind == Outcome::Done)
        *stop =
            stopped(exitcode::refused, QStringLiteral("Оператор не подтвердил: %1").arg(prompt));
    return false;
}

Outcome Commissioning::waitForFactorySensor(const QString& position, DeviceVEL_DUO300* dev)
{
    session.useSpeed(factorySpeed);
    const QString prompt =
        QStringLiteral("Подключите датчик для %1, затем нажмите Enter").arg(position);
    for (bool first = true;; first = false) {
        Outcome stop;
        if (!context.yes && !operatorReady(prompt, &stop))
            return stop;
        // With --yes: once a second until one answers.
        if (context.yes && !first && !line.pause(1000))
            return lineState();
        *dev = DeviceVEL_DUO300{};
        dev->addr = factoryAddress;
        dev->baudrate = factorySpeed;
        const ops::Result read = ops::ReadSettings(line, host).run(dev, 1);
        if (read.done() || dev->cmdRejected)
            return {};
        const Outcome state = lineState();
        if (state.kind != Outcome::Done)
            return state;
        if (first)
            host.note(QStringLiteral("Нет датчика по адресу %1 на скорости %2: ожидание")
                          .arg(factoryAddress)
                          .arg(factorySpeed));
    }
}

Outcome Commissioning::calibrate(const QString& point, const QString& position,
                                 DeviceVEL_DUO300* dev)
{
    const bool zero = point == QLatin1String("zero");
    if (!sensorTraits(sensorTypeOf(dev->param)).calibrated)
        return failed(QStringLiteral("калибруются только датчики напряжения, а это %1")
                          .arg(sensorTypeText(sensorTypeOf(dev->param))));
    Outcome stop;
    if (!operatorReady(
            zero ? QStringLiteral("Подайте 0 В на датчик %1, затем нажмите Enter").arg(position)
                 : QStringLiteral("Подайте номинальное напряжение на датчик %1, "
                                  "затем нажмите Enter")
                       .arg(position),
            &stop))
        return stop;
    host.status(zero ? QStringLiteral("калибровка нуля") : QStringLiteral("калибровка номинала"));
    if (zero) {
        // The zero point is the reading taken now, with the voltage applied.
        const ops::Result polled = ops::PollSensor(line, host).run(dev);
        if (!polled.done())
            return judge(polled, QStringLiteral("Калибровка нуля"));
        return judge(ops::CalibrateZero(line, host).run(dev), QStringLiteral("Калибровка нуля"));
    }
    return judge(ops::CalibrateNominal(line, host).run(dev), QStringLiteral("Калибровка номинала"));
}

Outcome Commissioning::run(const linefile::Sensor& entry, int number)
{
    const QString position = QStringLiteral("позиции %1 (%2)").arg(number).arg(*entry.name);
    const QString target = sensorText(entry.address, entry.speed);
    host.setActivity(QStringLiteral("Позиция %1, %2").arg(number).arg(target));

    // Refused before anything changes when the target place is taken; the factory place itself
    // is where the new sensor answers. The write that moves the sensor probes it again.
    const ops::Place factory{factoryAddress, factorySpeed};
    host.status(QStringLiteral("проверка адреса %1").arg(target));
    session.useSpeed(entry.speed);
    Outcome step =
        judge(ops::CheckTarget(line, host).run(factory, {entry.address, entry.speed}, QString(), 1),
              QStringLiteral("Проверка адреса"));
    if (step.kind != Outcome::Done)
        return step;

    DeviceVEL_DUO300 dev;
    host.status(QStringLiteral("ожидание датчика"));
    step = waitForFactorySensor(position, &dev);
    if (step.kind != Outcome::Done)
        return step;
    // A flash cut short in an earlier run left it in its loader: only a flash brings it back.
    if (dev.cmdRejected && !entry.flash)
        return failed(ops::loaderNotice(
            dev,
            flashWayOut(dev.addr, dev.baudrate) +
                QStringLiteral(", или задайте этой позиции \"flash\": true и образ (--image)")));

    // At the factory speed, before anything else changes.
    if (entry.flash) {
        host.setActivity(QStringLiteral("Позиция %1, перепрограммирование").arg(number));
        step = judge(ops::Reprogram(line, host).run(&dev, imagePath, image),
                     QStringLiteral("Перепрограммирование"));
        host.setActivity(QStringLiteral("Позиция %1, %2").arg(number).arg(target));
        if (step.kind != Outcome::Done)
            return step;
        // The new application's settings are read again before they are written.
        dev.ustRead = false;
    }

    // Name, speed, setpoint and address in one write: the sensor goes straight from the factory
    // place to the entry's, probed just before, and never lands where a sensor done earlier
    // answers.
    host.status(QStringLiteral("запись уставок"));
    ops::RestoreSensor write(line, host);
    step = judge(write.run(&dev, entry, false), QStringLiteral("Запись уставок"));
    if (step.kind != Outcome::Done)
        return step;

    // Found where the plan puts it, and read whole: the settings as read back there, with the
    // live values.
    host.status(QStringLiteral("проверка"));
    DeviceVEL_DUO300 back = dev;
    step = judge(ops::PollSensor(line, host).run(&back), QStringLiteral("Чтение параметров"));
    if (step.kind != Outcome::Done)
        return step;
    const linefile::Sensor read = linefile::fromBlocks(back.addr, back.baudrate, back.ust,
                                                       back.param, QDateTime::currentDateTime());
    const QVector<linefile::Difference> found = linefile::differences(entry, read);
    if (!found.isEmpty()) {
        QStringList lines;
        for (const linefile::Difference& difference : found)
            lines << QStringLiteral("%1: ожидалось %2, считано %3")
                         .arg(difference.key, difference.expected, difference.actual);
        return failed(QStringLiteral("считано не то, что задано: ") +
                      lines.join(QStringLiteral("; ")));
    }

    for (const QString& point : entry.calibrate) {
        step = calibrate(point, position, &back);
        if (step.kind != Outcome::Done)
            return step;
    }
    // The calibration's writes were acknowledged: the record holds the block the sensor holds.
    step.sensor = linefile::fromBlocks(back.addr, back.baudrate, back.ust, back.param,
                                       QDateTime::currentDateTime());
    host.finishProgress();
    return step;
}

bool recorded(const linefile::Line& line, const linefile::Sensor& entry)
{
    for (const linefile::Sensor& sensor : line.sensors) {
        if (sensor.address == entry.address && sensor.speed == entry.speed)
            return true;
    }
    return false;
}

void tell(const Context& context, int number, const QString& status, const QString& text,
          const linefile::Sensor* sensor)
{
    QJsonObject object{{QStringLiteral("entry"), number}, {QStringLiteral("status"), status}};
    if (!text.isEmpty())
        object.insert(QStringLiteral("text"), text);
    if (sensor)
        object.insert(QStringLiteral("sensor"), linefile::toObject(*sensor));
    context.result(QStringLiteral("Позиция %1: %2\n").arg(number).arg(text), object);
}

// The plan's entries, one after the other, each sensor written to the line file once done.
int commission(Context& context, const linefile::Line& plan, linefile::Line out,
               const QString& outPath, const QString& imagePath, const firmware::ImageFile& image,
               bool resume, const QString& planPath, const ReportNames& report)
{
    Session& session = *context.session;
    out.port = session.port();
    // The plan is the operator's consent: the operations' own confirmations are not asked.
    session.host().yes = true;
    Commissioning commissioning(context, imagePath, image);
    int commissioned = 0, failed = 0, skipped = 0;
    for (int i = 0; i < plan.sensors.size(); ++i) {
        const linefile::Sensor& entry = plan.sensors[i];
        if (resume && recorded(out, entry)) {
            ++skipped;
            tell(context, i + 1, QStringLiteral("skipped"),
                 QStringLiteral("%1 уже в файле линии, пропущена")
                     .arg(sensorText(entry.address, entry.speed)),
                 nullptr);
            continue;
        }
        const Outcome outcome = commissioning.run(entry, i + 1);
        session.host().finishProgress();
        if (outcome.kind == Outcome::Stop) {
            if (context.json)
                context.result(QString(), QJsonObject{{QStringLiteral("entry"), i + 1},
                                                      {QStringLiteral("status"),
                                                       outcome.code == exitcode::ended
                                                           ? QStringLiteral("ended")
                                                           : QStringLiteral("stopped")},
                                                      {QStringLiteral("text"), outcome.text}});
            else
                printErr(QStringLiteral("velduo: позиция %1: %2\n").arg(i + 1).arg(outcome.text));
            return outcome.code;
        }
        if (outcome.kind == Outcome::Failed) {
            ++failed;
            tell(context, i + 1, QStringLiteral("failed"),
                 QStringLiteral("%1 не выполнена: %2")
                     .arg(sensorText(entry.address, entry.speed), outcome.text),
                 nullptr);
            continue;
        }
        // Written after every sensor, so that an interrupted run leaves every sensor done so far.
        out.sensors.append(outcome.sensor);
        const QString saveFault = linefile::save(out, outPath);
        if (!saveFault.isEmpty()) {
            ++failed;
            tell(context, i + 1, QStringLiteral("failed"), saveFault, &outcome.sensor);
            break;
        }
        ++commissioned;
        tell(context, i + 1, QStringLiteral("done"),
             QStringLiteral("%1 «%2» готов")
                 .arg(sensorText(outcome.sensor.address, outcome.sensor.speed),
                      outcome.sensor.name.value_or(QString())),
             &outcome.sensor);
    }
    if (!context.json)
        printOut(QStringLiteral("Готово: %1, с ошибкой: %2, пропущено: %3\n")
                     .arg(commissioned)
                     .arg(failed)
                     .arg(skipped));
    // The line as commissioned, read again and set against the plan: a position that failed
    // is a row that says so.
    if (!report.pdfPath.isEmpty()) {
        ReportOutcome made;
        if (const int code = makeReport(context, plan, planPath, report, &made))
            return code;
        QJsonObject object = linereport::toJson(made.report);
        object.insert(QStringLiteral("pdf"), report.pdfPath);
        context.result(QStringLiteral("Протокол записан: %1\nИтог: %2\n")
                           .arg(report.pdfPath, made.report.summary),
                       object);
    }
    return failed > 0 ? exitcode::batch : exitcode::done;
}

} // namespace

Job prepareCommission(Context& context, int* code)
{
    if (context.args.size() != 1)
        return noJob(code, context.usage(QStringLiteral("ожидается один аргумент: файл плана")));
    const QCommandLineParser& parser = *context.parser;
    const QString outPath = parser.value(QStringLiteral("out"));
    if (outPath.isEmpty())
        return noJob(code, context.usage(QStringLiteral("не указан файл линии (--out LINEFILE)")));
    const bool resume = parser.isSet(QStringLiteral("resume"));
    const QString imagePath = parser.value(QStringLiteral("image"));

    // Everything is checked before the first byte: the plan, the image, the line file.
    const linefile::ReadResult plan = linefile::readFile(context.args.at(0), linefile::Mode::Plan);
    if (!plan.ok())
        return noJob(code, context.refuse(plan.refusal));
    QStringList faults;
    for (const linefile::PlanFault& fault : linefile::checkPlan(plan.line))
        faults << fault.text;
    bool flashing = false;
    for (const linefile::Sensor& entry : plan.line.sensors)
        flashing = flashing || entry.flash;
    if (flashing && imagePath.isEmpty())
        faults << QStringLiteral("План требует перепрограммирования (\"flash\"), а образ не "
                                 "указан (--image IMAGE)");
    if (!faults.isEmpty())
        return noJob(code, context.refuse(faults.join(QLatin1Char('\n'))));
    firmware::ImageFile image;
    if (flashing) {
        image = readImage(imagePath);
        if (!image.refusal.isEmpty())
            return noJob(code, context.refuse(image.refusal));
    }
    linefile::Line out;
    if (QFileInfo::exists(outPath)) {
        if (!resume)
            return noJob(code, context.refuse(QStringLiteral("Файл линии «%1» уже есть; "
                                                             "продолжить его — --resume")
                                                  .arg(outPath)));
        const linefile::ReadResult done = linefile::readFile(outPath, linefile::Mode::File);
        if (!done.ok())
            return noJob(code, context.refuse(done.refusal));
        out = done.line;
    }

    ReportNames report;
    report.pdfPath = parser.value(QStringLiteral("report"));
    if (parser.isSet(QStringLiteral("report"))) {
        const QString fault = reportNamesFault(parser, &report);
        if (!fault.isEmpty())
            return noJob(code, context.refuse(fault));
    }

    return [plan = plan.line, out, outPath, imagePath, image, resume, planPath = context.args.at(0),
            report](Context& context) {
        return commission(context, plan, out, outPath, imagePath, image, resume, planPath, report);
    };
}

HelpPage commissionHelp()
{
    return {
        "ввод линии в работу по плану",
        "velduo commission PLAN --out LINEFILE [--image IMAGE] [--resume] [--yes]\n"
        "    [--report FILE [--site NAME] [--line NAME] [--engineer NAME]]",
        "PLAN - файл линии, записи которого говорят, чем станет каждая позиция:\n"
        "address, speed, name, setpoint, по желанию \"calibrate\": [\"zero\", \"nominal\"]\n"
        "и \"flash\": true. План, образ и файл линии проверяются целиком до первого\n"
        "байта. Для каждой записи по порядку: проверка, что адрес записи на её скорости\n"
        "свободен; ожидание датчика с заводскими настройками (адрес 1, 115200): запрос\n"
        "«Подключите датчик...» и Enter, с --yes - опрос раз в секунду; перепрограммирование,\n"
        "если задано (датчик, оставшийся в загрузчике, - только так); запись уставок\n"
        "и адреса одним блоком, когда адрес записи на её скорости снова проверен\n"
        "свободным; чтение обратно и сравнение с записью; калибровка, если задана (с\n"
        "запросом подать напряжение, без запроса с --yes); датчик, как он считан,\n"
        "дописывается в LINEFILE, который сохраняется целиком после каждого датчика.\n"
        "Запись, что не удалась, не останавливает остальные (код 5). Подтверждения\n"
        "операций не спрашиваются: согласие - сам план. С --report в конце каждая\n"
        "позиция плана считывается снова, только чтением, и записывается протокол\n"
        "наладки (PDF, как velduo report PLAN), сверенный с планом.\n",
        QList<QCommandLineOption>{
            QCommandLineOption(
                QStringLiteral("out"),
                QStringLiteral("Файл линии для результата; если он уже есть, нужен --resume."),
                QStringLiteral("LINEFILE")),
            QCommandLineOption(QStringLiteral("image"),
                               QStringLiteral("Образ программы для записей с \"flash\": true."),
                               QStringLiteral("IMAGE")),
            QCommandLineOption(
                QStringLiteral("resume"),
                QStringLiteral("Продолжить LINEFILE: записи, что в нём уже есть, пропускаются.")),
            QCommandLineOption(
                QStringLiteral("report"),
                QStringLiteral("В конце записать протокол наладки линии в FILE (PDF)."),
                QStringLiteral("FILE"))} +
            reportNameOptions(),
        "    velduo commission plan.json --out line.json --image VEL_DUO300.bin\n"
        "    velduo commission plan.json --out line.json --resume --yes\n"
        "    velduo commission plan.json --out line.json --report protokol.pdf\n",
        {{}, {}, Completion::AnyFile}};
}
