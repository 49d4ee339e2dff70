// velduo watch as a long-running process: it rides out an adapter unplugged and plugged in
// again in every output mode, tells the broker why the line is silent, and takes a line file
// as its sensors.
#include "codec/linefile.h"
#include "core/devices/mqttclient.h"
#include "core/devices/sitemonitor.h"
#include "sim/sensorbus.h"
#include "support/broker.h"

#include <QtTest>
#include <csignal>
#include <memory>

namespace {

struct Message
{
    QString topic;
    QByteArray payload;
};

// Everything under a filter, in order of arrival, with a persistent session so that nothing is
// missed while the publisher runs.
class Subscriber
{
public:
    Subscriber(int port, const QString& filter)
    {
        MqttSettings settings;
        settings.host = QStringLiteral("127.0.0.1");
        settings.port = port;
        settings.clientId = QStringLiteral("watch-tester");
        settings.cleanSession = false;
        QObject::connect(&client, &MqttClient::message, &client,
                         [this](const QString& topic, const QByteArray& payload, bool) {
                             messages.append({topic, payload});
                         });
        client.subscribe(filter, 1);
        QString why;
        client.open(settings, &why);
    }

    QVector<QJsonObject> on(const QString& leaf) const
    {
        QVector<QJsonObject> found;
        for (const Message& message : messages)
            if (message.topic.endsWith(leaf))
                found.append(QJsonDocument::fromJson(message.payload).object());
        return found;
    }
    QVector<QJsonObject> readings() const
    {
        QVector<QJsonObject> found;
        for (const Message& message : messages)
            if (message.topic.contains(QLatin1String("/reading/")))
                found.append(QJsonDocument::fromJson(message.payload).object());
        return found;
    }
    QStringList states() const
    {
        QStringList names;
        for (const QJsonObject& state : on(QStringLiteral("/state")))
            names << state.value("state").toString();
        return names;
    }

    MqttClient client;
    QVector<Message> messages;
};

// velduo with no port named by the environment; its output gathered as it comes.
class Velduo
{
public:
    explicit Velduo(const QStringList& args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("VELDUO_PORT"));
        env.remove(QStringLiteral("VEL_DUO300_EXTRA_PORTS"));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(VEL_VELDUO), args);
    }
    ~Velduo()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(10000);
        }
    }

    QStringList outLines()
    {
        out += QString::fromUtf8(process.readAllStandardOutput());
        return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QString errText()
    {
        err += QString::fromUtf8(process.readAllStandardError());
        return err;
    }
    // Ends it as systemd stops a service, and returns its exit code.
    int stop()
    {
        ::kill(pid_t(process.processId()), SIGTERM);
        if (!process.waitForFinished(30000))
            return -1;
        outLines();
        errText();
        return process.exitCode();
    }

    QProcess process;
    QString out;
    QString err;
};

// Lines of stdout from `from` on that the predicate accepts.
int countFrom(const QStringList& lines, int from, const std::function<bool(const QString&)>& wanted)
{
    int count = 0;
    for (int i = from; i < lines.size(); ++i)
        count += wanted(lines.at(i));
    return count;
}

// The sequence numbers in order without gaps, duplicates (a QoS-1 message sent again) left out.
bool inOrderWithoutGaps(const QVector<QJsonObject>& readings, qint64* last)
{
    *last = 0;
    for (const QJsonObject& reading : readings) {
        const qint64 seq = qint64(reading.value("seq").toDouble());
        if (seq <= *last)
            continue;
        if (seq != *last + 1)
            return false;
        *last = seq;
    }
    return true;
}

} // namespace

class TestWatch : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    // The adapter's device name, as /dev/serial/by-id names one whatever ttyUSB it gets.
    QString adapterPath() const { return dir.filePath(QStringLiteral("ttyADAPTER")); }

    std::unique_ptr<sim::SensorBus> plugIn()
    {
        auto bus = std::make_unique<sim::SensorBus>();
        QString error;
        if (!bus->open(&error, adapterPath()))
            return nullptr;
        bus->addSensor(1, 9600, SensorType::Voltage);
        bus->addSensor(2, 9600, SensorType::Temperature);
        return bus;
    }

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    // The adapter unplugged in the middle of a run and plugged in again under the same name:
    // one event on stderr, failed polls that say why meanwhile, and readings again without a
    // restart. With --mqtt the state topic follows and no reading printed is lost on the way.
    void portLostAndBack_data()
    {
        QTest::addColumn<QStringList>("mode");
        QTest::addColumn<QString>("failure"); // how a poll that failed meanwhile is printed
        QTest::addColumn<bool>("mqtt");
        QTest::newRow("text") << QStringList() << "ошибка 6: Связь с портом потеряна" << false;
        QTest::newRow("csv") << QStringList{"--csv"} << ",6" << false;
        QTest::newRow("json") << QStringList{"--json"} << "Связь с портом потеряна" << false;
        QTest::newRow("mqtt") << QStringList{"--json", "--mqtt"} << "Связь с портом потеряна"
                              << true;
    }

    void portLostAndBack()
    {
        QFETCH(QStringList, mode);
        QFETCH(QString, failure);
        QFETCH(bool, mqtt);
        QTemporaryDir folder;
        Broker broker(folder.path());
        std::unique_ptr<Subscriber> subscriber;
        QStringList args{"watch", "1@9600", "2@9600", "--interval", "0.2", "--port", adapterPath()};
        if (mqtt) {
            QVERIFY2(broker.start(), broker.log.constData());
            subscriber = std::make_unique<Subscriber>(broker.port, QStringLiteral("site/w/#"));
            QTRY_VERIFY(subscriber->client.isConnected());
            mode << broker.url() << "--mqtt-topic"
                 << "site/w";
        }
        auto bus = plugIn();
        QVERIFY(bus);
        Velduo velduo(args + mode);
        const bool json = mode.contains("--json");
        const auto answered = [&](const QString& line) {
            return json ? line.contains("\"error\":0")
                        : !line.contains("ошибка") && !line.startsWith("time") &&
                              !line.endsWith(",6");
        };
        const auto failed = [&](const QString& line) { return line.contains(failure); };
        QTRY_VERIFY_WITH_TIMEOUT(countFrom(velduo.outLines(), 0, answered) >= 4, 20000);

        bus->hangUp();
        const QString lostEvent = json ? "\"event\":\"port-lost\"" : "адаптер отключён";
        QTRY_VERIFY_WITH_TIMEOUT(velduo.errText().contains(lostEvent), 10000);
        const int lostAt = velduo.outLines().size();
        // Polls go on and fail for that reason, for several rounds.
        QTRY_VERIFY_WITH_TIMEOUT(countFrom(velduo.outLines(), lostAt, failed) >= 6, 20000);
        if (mqtt) {
            QTRY_VERIFY_WITH_TIMEOUT(subscriber->states().contains("port-lost"), 10000);
            const QJsonObject state = subscriber->on("/state").last();
            QCOMPARE(state.value("v").toInt(), 1);
            QVERIFY2(state.value("text").toString().contains("адаптер отключён"),
                     qPrintable(state.value("text").toString()));
            QVERIFY(state.contains("since") && state.contains("queued") &&
                    state.contains("dropped"));
            // A sensor's retained state keeps what it last measured besides the failure.
            const QJsonObject sensor = subscriber->on("/sensor/2").last();
            QVERIFY(sensor.value("error").toInt() != 0);
            QCOMPARE(sensor.value("unit").toString(), QStringLiteral("°C"));
            QCOMPARE(sensor.value("type").toInt(), 1);
            QVERIFY(sensor.value("measure").isDouble() && sensor.contains("answeredAt") &&
                    sensor.contains("name"));
            // A site view that opens now shows the sensor's type and the age of its value, with
            // the failure.
            SiteMonitor view;
            MqttSettings settings;
            settings.host = QStringLiteral("127.0.0.1");
            settings.port = broker.port;
            QString why;
            QVERIFY2(view.open(settings, {QStringLiteral("site/w/#")}, &why), qPrintable(why));
            const auto seen = [&view]() -> const SensorState* {
                const auto line = view.lines().find(QStringLiteral("site/w"));
                if (line == view.lines().end())
                    return nullptr;
                for (const SensorState& s : line->sensors)
                    if (s.addr == 2 && s.lastError > 0)
                        return &s;
                return nullptr;
            };
            QTRY_VERIFY_WITH_TIMEOUT(seen(), 10000);
            QCOMPARE(seen()->type, SensorType::Temperature);
            QVERIFY(seen()->answered && seen()->answeredAt > 0);
            QVERIFY2(seen()->errorText.contains(failure), qPrintable(seen()->errorText));
        }

        bus = plugIn();
        QVERIFY(bus);
        const int backAt = velduo.outLines().size();
        QTRY_VERIFY_WITH_TIMEOUT(countFrom(velduo.outLines(), backAt, answered) >= 4, 20000);
        QVERIFY(!bus->received().isEmpty());
        QVERIFY(velduo.errText().contains(json ? "\"event\":\"port-back\"" : "снова открыт"));
        if (mqtt)
            QTRY_COMPARE_WITH_TIMEOUT(subscriber->states().last(), QStringLiteral("polling"),
                                      10000);

        QCOMPARE(velduo.stop(), 130);
        // The loss was told once, however often the port was tried again.
        QCOMPARE(velduo.err.count(lostEvent), 1);
        if (!mqtt)
            return;
        const QStringList states = subscriber->states();
        QVERIFY2(states.indexOf("port-lost") < states.lastIndexOf("polling"),
                 qPrintable(states.join(' ')));
        QTRY_COMPARE_WITH_TIMEOUT(subscriber->states().last(), QStringLiteral("stopping"), 10000);
        // Every reading printed reached the broker, in order, the failed ones with their reason.
        const int printed = velduo.out.count(QLatin1String("\"address\""));
        qint64 last = 0;
        QTRY_VERIFY_WITH_TIMEOUT(
            inOrderWithoutGaps(subscriber->readings(), &last) && last == printed, 20000);
        int failedOnBroker = 0;
        for (const QJsonObject& reading : subscriber->readings())
            failedOnBroker += reading.value("text").toString().contains(failure);
        QVERIFY(failedOnBroker >= 6);
    }

    // A line file gives its sensors and its port; sensors on the command line join them, and
    // --port names another port. A port missing from the start is tried as a lost one is.
    void lineFileMixedWithSensors()
    {
        auto bus = plugIn();
        QVERIFY(bus);
        bus->addSensor(3, 38400, SensorType::Voltage);
        linefile::Line line;
        line.port = adapterPath();
        for (int address : {1, 2}) {
            linefile::Sensor sensor;
            sensor.address = address;
            sensor.speed = 9600;
            sensor.answered = false;
            line.sensors.append(sensor);
        }
        const QString file = dir.filePath(QStringLiteral("line2.json"));
        QVERIFY(linefile::save(line, file).isEmpty());

        Velduo velduo({"watch", file, "3@38400", "2@9600", "--interval", "0.1", "--json"});
        const auto addresses = [&] {
            QSet<int> seen;
            for (const QString& text : velduo.outLines()) {
                const QJsonObject reading = QJsonDocument::fromJson(text.toUtf8()).object();
                if (reading.value("error").toInt(-1) == 0)
                    seen.insert(reading.value("address").toInt());
            }
            return seen;
        };
        QTRY_COMPARE_WITH_TIMEOUT(addresses(), (QSet<int>{1, 2, 3}), 20000);
        QCOMPARE(velduo.stop(), 130);
        // 2@9600, named twice, is polled once a round.
        QMap<int, int> polls;
        for (const QString& text : velduo.out.split('\n', Qt::SkipEmptyParts))
            ++polls[QJsonDocument::fromJson(text.toUtf8()).object().value("address").toInt()];
        QVERIFY2(qAbs(polls.value(2) - polls.value(1)) <= 1, qPrintable(velduo.out));

        const QString missing = dir.filePath(QStringLiteral("ttyNONE"));
        Velduo elsewhere({"watch", file, "--interval", "0.1", "--json", "--port", missing});
        QTRY_VERIFY_WITH_TIMEOUT(elsewhere.errText().contains("\"event\":\"port-lost\""), 10000);
        QVERIFY(elsewhere.err.contains(missing));
        QTRY_VERIFY_WITH_TIMEOUT(elsewhere.outLines().size() >= 4, 10000);
        QCOMPARE(QJsonDocument::fromJson(elsewhere.outLines().first().toUtf8())
                     .object()
                     .value("error")
                     .toInt(),
                 6);
        QCOMPARE(elsewhere.stop(), 130);
        QCOMPARE(elsewhere.err.count("\"event\":\"port-lost\""), 1);
    }
};

QTEST_MAIN(TestWatch)
#include "tst_watch.moc"
