// velduo watch: sensors polled until Ctrl-C, each reading printed and, with --mqtt, published.
#include "cli/command.h"
#include "cli/mqttwatch.h"
#include "cli/sensortext.h"
#include "codec/errortext.h"
#include "codec/readings.h"
#include "core/devices/registry.h"
#include "core/ops/linepoller.h"
#include "core/sensor/format.h"

#include <QDateTime>
#include <QEventLoop>

namespace {

// What watch was given, checked before the port is opened.
struct Watch
{
    SensorRegistry registry;
    double interval = 1;
    bool csv = false;
    csv::Style csvStyle = csv::Style::Comma;
    bool publishing = false;
    MqttWatch mqtt;
};

int watch(Context& context, Watch& given)
{
    Session& session = *context.session;
    SensorRegistry& registry = given.registry;
    MqttWatch* mqtt = &given.mqtt;
    const bool publishing = given.publishing;
    const bool csv = given.csv;
    const double interval = given.interval;
    if (publishing)
        mqtt->start(context, registry);
    if (csv && !context.json) {
        // The name column is the sensor's own: read once, before the polls; a sensor silent
        // now keeps it empty.
        for (int row = 0; row < registry.size(); ++row) {
            DeviceVEL_DUO300* dev = &registry[row];
            session.useSpeed(dev->baudrate);
            const ops::Result read = ops::ReadSettings(session.line(), session.host()).run(dev, 1);
            if (read.kind == ops::Result::Ending || session.ended() || session.portFailed())
                return context.report(read, sensorText(dev->addr, dev->baudrate));
        }
        printOut(csv::header(given.csvStyle) + QLatin1Char('\n'));
    }

    // The window's overview polls with the same poller: sensors of one speed in a row, so the
    // port is re-opened only when the speed changes.
    LinePoller poller(session.line(), session.host(), registry);
    poller.setRoundInterval(int(interval * 1000));
    poller.setBusy([mqtt] { return mqtt->busy(); });
    QEventLoop loop;
    ops::Result last;
    QString lastSensor;
    QObject::connect(&session, &Session::ending, &loop, &QEventLoop::quit);
    QObject::connect(mqtt, &MqttWatch::refused, &loop, &QEventLoop::quit);
    QObject::connect(&poller, &LinePoller::reading, &loop, [&](const Reading& reading) {
        const DeviceVEL_DUO300& dev = registry[registry.find(reading.addr, reading.baudrate)];
        lastSensor = sensorText(reading.addr, reading.baudrate);
        last = reading.ok()
                   ? ops::Result::success()
                   : ops::Result::failed(reading.error, QString(), errorTextFor(reading.error));
        if (publishing)
            mqtt->add(reading, dev);
        if (session.ended() || session.portFailed()) {
            loop.quit();
            return;
        }
        const QString time =
            QDateTime::fromMSecsSinceEpoch(reading.msecs).toString(Qt::ISODateWithMs);
        const int error = reading.error;
        if (context.json) {
            QJsonObject object{{QStringLiteral("time"), time},
                               {QStringLiteral("address"), dev.addr},
                               {QStringLiteral("speed"), dev.baudrate},
                               {QStringLiteral("error"), error}};
            if (error == 0) {
                object.insert(QStringLiteral("type"), dev.param.sensorType);
                object = withLiveValues(object, dev.param);
            } else {
                object.insert(QStringLiteral("text"), errorTextFor(error));
            }
            context.result(QString(), object);
        } else if (csv) {
            printOut(
                csv::row(reading, dev.ustRead ? nameText(dev.ust) : QString(), given.csvStyle) +
                QLatin1Char('\n'));
        } else {
            const QString who = sensorText(dev.addr, dev.baudrate);
            printOut(error == 0
                         ? QStringLiteral("%1 %2 %3 %4, АЦП %5\n")
                               .arg(time, who, sensorCaptions(dev.param.sensorType).measureLabel,
                                    measureText(dev.param))
                               .arg(dev.param.adc)
                         : QStringLiteral("%1 %2 ошибка %3: %4\n")
                               .arg(time, who)
                               .arg(error)
                               .arg(errorTextFor(error)));
        }
    });
    poller.start(session.port());
    // A signal taken while the broker's connection started has ended the session already.
    if (mqtt->refusal().isEmpty() && !session.ended())
        loop.exec();
    poller.stop();
    if (publishing)
        mqtt->finish();
    if (!mqtt->refusal().isEmpty())
        return context.brokerRefused(mqtt->refusal());
    if (session.ended())
        return context.report(ops::Result::ending(), QString());
    return context.report(last, lastSensor);
}

} // namespace

Job prepareWatch(Context& context, int* code)
{
    if (context.args.isEmpty())
        return noJob(code, context.usage(QStringLiteral("не указан датчик")));
    auto prepared = std::make_shared<Watch>();
    for (const QString& text : context.args) {
        SensorArg arg;
        QString why;
        if (!parseSensor(text, &arg, &why))
            return noJob(code, context.usage(why));
        prepared->registry.add(recordFor(arg));
    }
    if (context.parser->isSet(QStringLiteral("interval"))) {
        bool ok = false;
        prepared->interval = context.parser->value(QStringLiteral("interval")).toDouble(&ok);
        if (!ok || prepared->interval < 0 || prepared->interval > 86400)
            return noJob(code, context.usage(QStringLiteral("--interval: ожидается число секунд")));
    }
    prepared->csv = context.parser->isSet(QStringLiteral("csv")) ||
                    context.parser->isSet(QStringLiteral("csv-style"));
    if (context.parser->isSet(QStringLiteral("csv-style")) &&
        !csv::parseStyle(context.parser->value(QStringLiteral("csv-style")), &prepared->csvStyle))
        return noJob(code,
                     context.usage(QStringLiteral("--csv-style: ожидается comma или "
                                                  "semicolon, дано «%1»")
                                       .arg(context.parser->value(QStringLiteral("csv-style")))));
    prepared->publishing = context.parser->isSet(QStringLiteral("mqtt"));
    if (prepared->publishing && !prepared->mqtt.prepare(context, code))
        return Job();
    return [prepared](Context& context) { return watch(context, *prepared); };
}

HelpPage watchHelp()
{
    return {
        "опрос датчиков до Ctrl-C",
        "velduo watch SENSOR... [--interval S] [--csv] [--csv-style STYLE] [--json]\n"
        "    [--mqtt URL [--mqtt-topic PREFIX] [--mqtt-user NAME] [--mqtt-password-file FILE]\n"
        "    [--mqtt-cafile FILE] [--mqtt-cert FILE --mqtt-key FILE]]",
        "Опрашивает датчики по очереди и выводит строку на каждое чтение с меткой\n"
        "времени (или строку CSV, или объект JSON на строке), пока не нажат Ctrl-C.\n"
        "Датчики одной скорости опрашиваются подряд: порт открывается заново только\n"
        "при смене скорости.\n"
        "С --mqtt каждое чтение публикуется и брокеру MQTT (темы и данные - в README):\n"
        "PREFIX/status, PREFIX/line, PREFIX/sensor/АДРЕС (сохраняемые) и\n"
        "PREFIX/reading/АДРЕС (QoS 1, с порядковым номером). Пока брокер недоступен,\n"
        "показания ждут в очереди (час полной линии), затем уходят по порядку. Только\n"
        "публикация: ничто от брокера не попадает на линию. Пароль - из переменной\n"
        "VELDUO_MQTT_PASSWORD или файла, никогда из командной строки. Связь\n"
        "проверяется каждые 5 с; с -v в начале выводится идентификатор клиента (сеанс\n"
        "линии на брокере). Отказ брокера (пароль, сертификат, порт другого протокола)\n"
        "завершает команду с кодом 6 и причиной; недоступный брокер ждут.\n",
        {
            QCommandLineOption(
                QStringLiteral("interval"),
                QStringLiteral("Пауза между кругами опроса, секунд; по умолчанию 1."),
                QStringLiteral("S")),
            QCommandLineOption(
                QStringLiteral("csv"),
                QStringLiteral("Строки CSV, как в экспорте обзора линии: time,port,address,speed,"
                               "type,name,\nvalue,unit,adc,error (имена датчиков читаются один "
                               "раз перед опросом).")),
            QCommandLineOption(QStringLiteral("csv-style"),
                               QStringLiteral("Разделители CSV: comma - запятая и десятичная точка "
                                              "(по умолчанию),\nsemicolon - точка с запятой и "
                                              "десятичная запятая, для таблиц на русском;\n"
                                              "подразумевает --csv."),
                               QStringLiteral("STYLE")),
            QCommandLineOption(QStringLiteral("mqtt"),
                               QStringLiteral("Брокер: mqtt://УЗЕЛ[:ПОРТ] (1883) или "
                                              "mqtts://УЗЕЛ[:ПОРТ] (TLS, 8883)."),
                               QStringLiteral("URL")),
            QCommandLineOption(
                QStringLiteral("mqtt-topic"),
                QStringLiteral("Начало тем; по умолчанию velduo/<имя узла>/<имя порта>."),
                QStringLiteral("PREFIX")),
            QCommandLineOption(QStringLiteral("mqtt-user"),
                               QStringLiteral("Имя пользователя на брокере; пароль к нему "
                                              "обязателен."),
                               QStringLiteral("NAME")),
            QCommandLineOption(QStringLiteral("mqtt-password-file"),
                               QStringLiteral("Пароль - первая строка файла."),
                               QStringLiteral("FILE")),
            QCommandLineOption(
                QStringLiteral("mqtt-cafile"),
                QStringLiteral("Единственный CA брокера (mqtts); без него - CA системы\n"
                               "(/etc/ssl/certs). Имя брокера сверяется с его сертификатом."),
                QStringLiteral("FILE")),
            // Told together with the key.
            QCommandLineOption(QStringLiteral("mqtt-cert"), QString(), QStringLiteral("FILE")),
            QCommandLineOption(QStringLiteral("mqtt-key"),
                               QStringLiteral("Сертификат и ключ клиента (mqtts)."),
                               QStringLiteral("FILE")),
        },
        "    velduo watch 1@9600 2@38400 --interval 0.5\n    velduo watch 5@9600 --csv > log.csv\n"
        "    velduo watch 5@9600 --csv-style semicolon > log.csv\n"
        "    velduo watch 1@9600 2@9600 --mqtt mqtts://broker.local --mqtt-cafile ca.pem \\\n"
        "        --mqtt-user line7 --mqtt-password-file /etc/velduo/password\n"};
}
