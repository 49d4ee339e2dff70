// velduo watch: sensors polled until Ctrl-C, each reading printed and, with --mqtt, published.
#include "cli/command.h"
#include "cli/mqttwatch.h"
#include "cli/sensortext.h"
#include "cli/sparkplugwatch.h"
#include "codec/errortext.h"
#include "codec/linefile.h"
#include "codec/readings.h"
#include "core/devices/registry.h"
#include "core/link/portfailure.h"
#include "core/ops/linepoller.h"
#include "core/sensor/format.h"

#include <QDateTime>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTimer>

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
    bool sparkplugOn = false; // Sparkplug B in place of the JSON topics
    SparkplugWatch sparkplug;
};

// How often a port that is gone is tried again, as the window tries it.
constexpr int portRetryMs = 1000;

// The port as watch sees it: a port that cannot be used is one event on stderr, and tried
// again once a second until it opens; then polling goes on by itself.
class PortWatch : public QObject
{
public:
    PortWatch(Context& context, SensorRegistry& registry, MqttWatch* mqtt)
        : context(context), registry(registry), mqtt(mqtt)
    {
        LineClient& line = context.session->line();
        connect(&line, &LineClient::portFault, this, [this](int fault, const QString& system) {
            lost(pollingPortFaultText(PortFault(fault), system), system);
        });
        connect(&line, &LineClient::portReady, this, [this] { back(); });
        retry.setInterval(portRetryMs);
        connect(&retry, &QTimer::timeout, this, &PortWatch::tryAgain);
    }

    bool down() const { return isDown; }
    // The reason a poll failed meanwhile; empty while the port is open.
    QString failure() const
    {
        // Its first sentence, the fault without what to do: every such poll repeats it.
        return isDown ? text.section(QStringLiteral(". "), 0, 0) + QLatin1Char('.') : QString();
    }

private:
    void lost(const QString& reason, const QString& system)
    {
        // A port tried again gives the same fault every time: told once, unless it changes.
        if (isDown && reason == text)
            return;
        isDown = true;
        text = reason;
        tell(QStringLiteral("port-lost"), reason, system);
        mqtt->setState(QLatin1String(broker::linestate::portLost), reason, system);
        retry.start();
    }

    void back()
    {
        if (!isDown)
            return;
        isDown = false;
        retry.stop();
        tell(QStringLiteral("port-back"), QStringLiteral("Порт снова открыт, опрос продолжается."),
             QString());
        mqtt->setState(QLatin1String(broker::linestate::polling));
    }

    void tryAgain()
    {
        LineClient& line = context.session->line();
        // Only between exchanges; the poller re-opens the port for each speed besides.
        if (!isDown || line.waiting() || line.ending())
            return;
        line.open(context.session->port(),
                  line.baudrate() > 0 ? line.baudrate() : registry[0].baudrate);
    }

    void tell(const QString& event, const QString& reason, const QString& system)
    {
        const QString port = context.session->port();
        if (context.json) {
            QJsonObject object{{QStringLiteral("event"), event},
                               {QStringLiteral("port"), port},
                               {QStringLiteral("text"), reason}};
            if (!system.isEmpty())
                object.insert(QStringLiteral("system"), system);
            printErr(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) +
                     QLatin1Char('\n'));
        } else {
            printErr(QStringLiteral("velduo: Порт %1: %2\n").arg(port, reason));
        }
    }

    Context& context;
    SensorRegistry& registry;
    MqttWatch* mqtt;
    QTimer retry;
    bool isDown = false;
    QString text;
};

int watch(Context& context, Watch& given)
{
    Session& session = *context.session;
    SensorRegistry& registry = given.registry;
    MqttWatch* mqtt = &given.mqtt;
    SparkplugWatch* sparkplug = given.sparkplugOn ? &given.sparkplug : nullptr;
    const bool publishing = given.publishing;
    const bool csv = given.csv;
    const double interval = given.interval;
    PortWatch port(context, registry, mqtt);
    if (sparkplug)
        sparkplug->start(context, registry, mqtt->brokerSettings(), mqtt->brokerUrl());
    else if (publishing)
        mqtt->start(context, registry);
    if (csv && !context.json) {
        // The name column is the sensor's own: read once, before the polls; a sensor silent
        // now, or on a port that is gone, keeps it empty.
        for (int row = 0; row < registry.size() && !port.down(); ++row) {
            DeviceVEL_DUO300* dev = &registry[row];
            session.useSpeed(dev->baudrate);
            const ops::Result read = ops::ReadSettings(session.line(), session.host()).run(dev, 1);
            if (read.kind == ops::Result::Ending || session.ended())
                return context.report(read, sensorText(dev->addr, dev->baudrate));
        }
        printOut(csv::header(given.csvStyle) + QLatin1Char('\n'));
    }

    // The window's overview polls with the same poller: sensors of one speed in a row, so the
    // port is re-opened only when the speed changes.
    LinePoller poller(session.line(), session.host(), registry);
    poller.setRoundInterval(int(interval * 1000));
    poller.setBusy([mqtt, sparkplug] { return sparkplug ? sparkplug->busy() : mqtt->busy(); });
    QEventLoop loop;
    QObject::connect(&session, &Session::ending, &loop, &QEventLoop::quit);
    QObject::connect(mqtt, &MqttWatch::refused, &loop, &QEventLoop::quit);
    QObject::connect(&given.sparkplug, &SparkplugWatch::refused, &loop, &QEventLoop::quit);
    QObject::connect(&poller, &LinePoller::reading, &loop, [&](const Reading& reading) {
        const DeviceVEL_DUO300& dev = registry[registry.find(reading.addr, reading.baudrate)];
        // While the port is gone a poll fails for that reason, whatever its code says.
        const QString failure = reading.ok() ? QString() : port.failure();
        const QString failureText = failure.isEmpty() ? errorTextFor(reading.error) : failure;
        if (sparkplug)
            sparkplug->add(reading, dev);
        else if (publishing)
            mqtt->add(reading, dev, failure);
        // Every device dies with the port; births come back with the next answers.
        if (sparkplug && port.down())
            sparkplug->portLost();
        if (session.ended()) {
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
                object.insert(QStringLiteral("text"), failureText);
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
                               .arg(time, who, sensorCaptions(sensorTypeOf(dev.param)).measureLabel,
                                    measureText(dev.param))
                               .arg(dev.param.adc)
                         : QStringLiteral("%1 %2 ошибка %3: %4\n")
                               .arg(time, who)
                               .arg(error)
                               .arg(failureText));
        }
    });
    poller.start(session.port());
    const auto refusal = [&] { return sparkplug ? sparkplug->refusal() : mqtt->refusal(); };
    // Only a signal or a broker's refusal ends it: a port that is gone is tried for as long as
    // it runs. A signal may have come while the settings were read, before the loop could hear
    // it.
    if (refusal().isEmpty() && !session.ended())
        loop.exec();
    poller.stop();
    if (sparkplug)
        sparkplug->finish();
    else if (publishing)
        mqtt->finish();
    if (!refusal().isEmpty())
        return context.brokerRefused(refusal());
    return context.report(ops::Result::ending(), QString());
}

// The sensors of a line file, added to the registry unless named already; false with *code
// set after telling why. Its port is taken unless --port names one.
bool addLineFile(Context& context, const QString& path, SensorRegistry* registry, QString* filePort,
                 int* code)
{
    const linefile::ReadResult file = linefile::readFile(path, linefile::Mode::FileOrPlan);
    if (!file.ok()) {
        *code = context.refuse(QStringLiteral("файл линии «%1»: %2").arg(path, file.refusal));
        return false;
    }
    for (int i = 0; i < file.line.sensors.size(); ++i) {
        const linefile::Sensor& sensor = file.line.sensors.at(i);
        if (!listedSpeed(sensor.speed)) {
            *code = context.refuse(QStringLiteral("файл линии «%1», запись %2: скорости %3 нет "
                                                  "среди %4")
                                       .arg(path)
                                       .arg(i + 1)
                                       .arg(sensor.speed)
                                       .arg(speedsText()));
            return false;
        }
        if (registry->find(sensor.address, sensor.speed) < 0)
            registry->add(recordFor(SensorArg{sensor.address, sensor.speed}));
    }
    if (context.parser->isSet(QStringLiteral("port")) || file.line.port.isEmpty())
        return true;
    if (!filePort->isEmpty() && *filePort != file.line.port) {
        *code = context.usage(QStringLiteral("файлы линии называют разные порты (%1, %2): одна "
                                             "линия - один порт, укажите --port")
                                  .arg(*filePort, file.line.port));
        return false;
    }
    *filePort = file.line.port;
    return true;
}

} // namespace

Job prepareWatch(Context& context, int* code)
{
    if (context.args.isEmpty())
        return noJob(code, context.usage(QStringLiteral("не указан датчик")));
    auto prepared = std::make_shared<Watch>();
    // A sensor is ADDRESS[@SPEED]; anything else names a line file.
    static const QRegularExpression sensorForm(QStringLiteral("^\\d+(@\\d*)?$"));
    QString filePort;
    for (const QString& text : context.args) {
        if (!sensorForm.match(text).hasMatch() &&
            (text.endsWith(QLatin1String(".json"), Qt::CaseInsensitive) ||
             QFileInfo(text).isFile())) {
            if (!addLineFile(context, text, &prepared->registry, &filePort, code))
                return Job();
            continue;
        }
        SensorArg arg;
        QString why;
        bool outOfRange = false;
        if (!parseSensor(text, &arg, &why, &outOfRange))
            return noJob(code, outOfRange ? context.refuse(why) : context.usage(why));
        if (prepared->registry.find(arg.address, arg.speed) < 0)
            prepared->registry.add(recordFor(arg));
    }
    if (prepared->registry.size() == 0)
        return noJob(code, context.refuse(QStringLiteral("в файлах линии нет датчиков")));
    if (!filePort.isEmpty())
        context.port = filePort;
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
    prepared->sparkplugOn = context.parser->isSet(QStringLiteral("sparkplug"));
    if (context.parser->isSet(QStringLiteral("sparkplug-host")) && !prepared->sparkplugOn)
        return noJob(code, context.usage(QStringLiteral("--sparkplug-host: только с --sparkplug")));
    if (prepared->sparkplugOn && !prepared->sparkplug.prepare(context, code))
        return Job();
    if (prepared->publishing && !prepared->mqtt.prepare(context, code))
        return Job();
    return [prepared](Context& context) { return watch(context, *prepared); };
}

HelpPage watchHelp()
{
    return {
        "опрос датчиков до Ctrl-C или SIGTERM",
        "velduo watch SENSOR|LINE.json... [--interval S] [--csv] [--csv-style STYLE] [--json]\n"
        "    [--mqtt URL [--mqtt-topic PREFIX] [--mqtt-user NAME] [--mqtt-password-file FILE]\n"
        "    [--mqtt-cafile FILE] [--mqtt-cert FILE --mqtt-key FILE]\n"
        "    [--sparkplug GROUP[/NODE] [--sparkplug-host HOST_ID]]]",
        "Опрашивает датчики по очереди и выводит строку на каждое чтение с меткой\n"
        "времени (или строку CSV, или объект JSON на строке), пока не нажат Ctrl-C\n"
        "или не пришёл SIGTERM. Датчики одной скорости опрашиваются подряд: порт\n"
        "открывается заново только при смене скорости.\n"
        "LINE.json - файл линии (от scan, commission или окна): его датчики\n"
        "опрашиваются вместе с заданными АДРЕС@СКОРОСТЬ, а его порт берётся, если не\n"
        "задан --port. Порт лучше называть по /dev/serial/by-id/...: это имя остаётся\n"
        "прежним, когда адаптер возвращается под другим номером ttyUSB.\n"
        "Потерянный порт (адаптер отключён, не найден, занят) не завершает опрос: об\n"
        "этом одна строка на stderr (с --json - объект, event port-lost, затем\n"
        "port-back), порт проверяется раз в секунду, опрос возобновляется сам, а\n"
        "чтения тем временем выводятся неудавшимися, с причиной. watch завершается\n"
        "только сигналом (код 130) или отказом брокера (код 6).\n"
        "С --mqtt каждое чтение публикуется и брокеру MQTT (темы и данные - в README):\n"
        "PREFIX/status, PREFIX/state (что делает линия: polling, port-lost, stopping),\n"
        "PREFIX/line, PREFIX/sensor/АДРЕС (сохраняемые) и PREFIX/reading/АДРЕС\n"
        "(QoS 1, с порядковым номером). Пока брокер недоступен, показания ждут в\n"
        "очереди (час полной линии), затем уходят по порядку; по SIGTERM уходят\n"
        "offline и очередь. Только публикация: ничто от брокера не попадает на линию.\n"
        "Пароль - из переменной VELDUO_MQTT_PASSWORD или файла, никогда из командной\n"
        "строки. Как службу systemd watch запускает velduo-watch@ЛИНИЯ.service с\n"
        "настройками из /etc/velduo/ЛИНИЯ.conf (см. README). Связь проверяется каждые\n"
        "5 с; с -v в начале выводится идентификатор клиента (сеанс линии на брокере).\n"
        "Отказ брокера (пароль, сертификат, порт другого протокола) завершает команду\n"
        "с кодом 6 и причиной; недоступный брокер ждут.\n"
        "С --sparkplug вместо этих тем линия публикуется узлом Sparkplug B 3.0:\n"
        "spBv1.0/GROUP/NBIRTH|NDEATH/NODE и DBIRTH|DDATA|DDEATH/NODE/sNN, датчик -\n"
        "устройство (метрики в README). Включён один из двух контрактов: либо темы\n"
        "PREFIX, либо Sparkplug B. Выполняется одна команда, NCMD Node Control/Rebirth;\n"
        "остальные NCMD отклоняются, DCMD не принимаются. bdSeq хранится между\n"
        "запусками в ~/.local/share/velduo/sparkplug/.\n",
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
            QCommandLineOption(
                QStringLiteral("sparkplug"),
                QStringLiteral("Sparkplug B вместо тем PREFIX: группа и узел; узел по умолчанию\n"
                               "<имя узла>-<имя порта>."),
                QStringLiteral("GROUP[/NODE]")),
            QCommandLineOption(QStringLiteral("sparkplug-host"),
                               QStringLiteral("Основной хост: рождения и показания - только пока "
                                              "он на связи\n(spBv1.0/STATE/HOST_ID), "
                                              "иначе показания ждут в очереди."),
                               QStringLiteral("HOST_ID")),
        },
        "    velduo watch 1@9600 2@38400 --interval 0.5\n    velduo watch 5@9600 --csv > log.csv\n"
        "    velduo watch line2.json 7@9600 --port /dev/serial/by-id/usb-FTDI_X-port0\n"
        "    velduo watch 5@9600 --csv-style semicolon > log.csv\n"
        "    velduo watch 1@9600 2@9600 --mqtt mqtts://broker.local --mqtt-cafile ca.pem \\\n"
        "        --mqtt-user line7 --mqtt-password-file /etc/velduo/password\n"
        "    velduo watch 1@9600 2@9600 --mqtt mqtt://broker.local --sparkplug Plant/line7 \\\n"
        "        --sparkplug-host scada\n",
        {{{QStringLiteral("csv-style"),
           {csv::styleName(csv::Style::Comma), csv::styleName(csv::Style::Semicolon)}}},
         {},
         Completion::LineFiles}};
}
