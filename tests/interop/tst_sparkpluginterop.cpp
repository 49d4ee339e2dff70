// velduo watch --sparkplug as a SCADA host sees it: every message is read by Eclipse Tahu's
// JavaScript payload library (recorder.js), not by velduo's own codec, from a real Mosquitto.
#include "codec/blocks.h"
#include "sim/sensorbus.h"
#include "support/broker.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

namespace {

const QString group = QStringLiteral("Plant");
const QString node = QStringLiteral("line1");

QString topic(const char* type, const QString& device = QString())
{
    QString t = QStringLiteral("spBv1.0/%1/%2/%3").arg(group, QLatin1String(type), node);
    return device.isEmpty() ? t : t + QLatin1Char('/') + device;
}

// The subscriber in Node.js: every message it read, in order, and a way to publish.
class Recorder
{
public:
    // With a client id, a persistent session.
    bool start(const QString& url, const QString& clientId = QString())
    {
        process.setProgram(QStringLiteral(VEL_NODE));
        QStringList arguments{QStringLiteral(VEL_RECORDER), url, QStringLiteral("spBv1.0/#")};
        if (!clientId.isEmpty())
            arguments << clientId;
        process.setArguments(arguments);
        process.start();
        if (!process.waitForStarted(20000))
            return false;
        QDeadlineTimer deadline(30000);
        while (!deadline.hasExpired() && !ready()) {
            process.waitForReadyRead(200);
            read();
        }
        return ready();
    }
    ~Recorder()
    {
        process.closeWriteChannel();
        if (!process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished(10000);
        }
    }

    void publish(const QString& topic, const QJsonValue& payload, bool retain = false)
    {
        const QJsonObject command{{QStringLiteral("topic"), topic},
                                  {QStringLiteral("payload"), payload},
                                  {QStringLiteral("retain"), retain}};
        process.write(QJsonDocument(command).toJson(QJsonDocument::Compact) + '\n');
        process.waitForBytesWritten(10000);
    }

    // Messages read so far (events left out).
    const QList<QJsonObject>& messages()
    {
        read();
        return received;
    }
    QList<QJsonObject> on(const QString& topic)
    {
        QList<QJsonObject> found;
        for (const QJsonObject& m : messages())
            if (m.value(QStringLiteral("topic")).toString() == topic)
                found.append(m);
        return found;
    }
    QList<QJsonObject> ofType(const char* type)
    {
        QList<QJsonObject> found;
        for (const QJsonObject& m : messages())
            if (m.value(QStringLiteral("topic")).toString().section('/', 2, 2) ==
                QLatin1String(type))
                found.append(m);
        return found;
    }
    int published()
    {
        read();
        return publishedCount;
    }
    QStringList errors()
    {
        read();
        return faults;
    }

private:
    bool ready() const { return isReady; }
    void read()
    {
        process.waitForReadyRead(0);
        while (process.canReadLine()) {
            const QJsonObject object = QJsonDocument::fromJson(process.readLine()).object();
            const QString event = object.value(QStringLiteral("event")).toString();
            if (event == QLatin1String("ready"))
                isReady = true;
            else if (event == QLatin1String("published"))
                ++publishedCount;
            else if (event == QLatin1String("error") || object.contains(QStringLiteral("error")))
                faults.append(QString::fromUtf8(QJsonDocument(object).toJson()));
            else if (event.isEmpty())
                received.append(object);
        }
    }

    QProcess process;
    QList<QJsonObject> received;
    QStringList faults;
    bool isReady = false;
    int publishedCount = 0;
};

QJsonObject payloadOf(const QJsonObject& message)
{
    return message.value(QStringLiteral("payload")).toObject();
}

QJsonObject metricNamed(const QJsonObject& message, const QString& name)
{
    for (const QJsonValue& m : payloadOf(message).value(QStringLiteral("metrics")).toArray())
        if (m.toObject().value(QStringLiteral("name")).toString() == name)
            return m.toObject();
    return QJsonObject();
}

qint64 bdSeqOf(const QJsonObject& message)
{
    return qint64(
        metricNamed(message, QStringLiteral("bdSeq")).value(QStringLiteral("value")).toDouble(-1));
}

// The rules a host relies on, over every message of one run: topics of the node, seq 0 at
// each NBIRTH and one more (mod 256) at each message after it, DDATA only by aliases its
// device was born with and with the datatypes they were born with. Empty when all hold; the
// number of wraps of seq is counted.
QString broken(const QList<QJsonObject>& messages, int* wraps)
{
    int expected = -1;
    *wraps = 0;
    QMap<QString, QMap<qint64, QString>> born; // device -> alias -> datatype
    for (const QJsonObject& m : messages) {
        const QString t = m.value(QStringLiteral("topic")).toString();
        const QStringList levels = t.split('/');
        if (levels.value(1) == QLatin1String("STATE"))
            continue;
        if (levels.size() < 4 || levels[0] != QLatin1String("spBv1.0") || levels[1] != group ||
            levels[3] != node)
            return QStringLiteral("topic %1").arg(t);
        const QString type = levels[2];
        const QString device = levels.value(4);
        if (m.value(QStringLiteral("retain")).toBool())
            return QStringLiteral("retained %1").arg(t);
        if (type == QLatin1String("NCMD") || type == QLatin1String("DCMD"))
            continue;
        const QJsonObject payload = payloadOf(m);
        if (type == QLatin1String("NDEATH")) {
            if (payload.contains(QStringLiteral("seq")))
                return QStringLiteral("NDEATH with seq");
            expected = -1;
            continue;
        }
        const int seq = payload.value(QStringLiteral("seq")).toInt(-1);
        if (type == QLatin1String("NBIRTH")) {
            if (seq != 0)
                return QStringLiteral("NBIRTH seq %1").arg(seq);
            born.clear();
        } else if (seq != expected) {
            return QStringLiteral("%1 seq %2, expected %3").arg(t).arg(seq).arg(expected);
        }
        if (seq == 0 && type != QLatin1String("NBIRTH"))
            ++*wraps;
        expected = (seq + 1) % 256;
        const QJsonArray metrics = payload.value(QStringLiteral("metrics")).toArray();
        if (type == QLatin1String("DBIRTH")) {
            born[device].clear();
            for (const QJsonValue& v : metrics) {
                const QJsonObject metric = v.toObject();
                if (!metric.contains(QStringLiteral("alias")) ||
                    metric.value(QStringLiteral("name")).toString().isEmpty())
                    return QStringLiteral("DBIRTH metric without name or alias");
                born[device].insert(qint64(metric.value(QStringLiteral("alias")).toDouble()),
                                    metric.value(QStringLiteral("type")).toString());
            }
        } else if (type == QLatin1String("DDATA")) {
            if (!born.contains(device))
                return QStringLiteral("DDATA of %1 before its DBIRTH").arg(device);
            if (metrics.isEmpty())
                return QStringLiteral("DDATA of %1 with nothing").arg(device);
            for (const QJsonValue& v : metrics) {
                const QJsonObject metric = v.toObject();
                const qint64 alias = qint64(metric.value(QStringLiteral("alias")).toDouble(-1));
                if (!born[device].contains(alias))
                    return QStringLiteral("DDATA alias %1 not born").arg(alias);
                if (born[device][alias] != metric.value(QStringLiteral("type")).toString())
                    return QStringLiteral("DDATA alias %1 of type %2, born %3")
                        .arg(alias)
                        .arg(metric.value(QStringLiteral("type")).toString(), born[device][alias]);
            }
        } else if (type == QLatin1String("DDEATH")) {
            born.remove(device);
        }
    }
    return QString();
}

// Modbus's other writes, which the sensor does not know but a common master could send.
constexpr quint8 writeSingleCoil = 0x05;
constexpr quint8 writeSingleRegister = 0x06;
constexpr quint8 writeMultipleCoils = 0x0F;

bool isWrite(const QByteArray& request)
{
    const quint8 function = request.size() > 1 ? quint8(request[1]) : 0;
    return function == writeSingleCoil || function == writeSingleRegister ||
           function == writeMultipleCoils || function == rtu::code(rtu::Function::WriteRegisters);
}

} // namespace

class TestSparkplugInterop : public QObject
{
    Q_OBJECT

    sim::SensorBus bus;
    QTemporaryDir dir;

    QList<QProcess*> started;

    QProcess* velduo(const QStringList& more, const QString& url)
    {
        auto* process = new QProcess(this);
        started.append(process);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("VELDUO_PORT"));
        // Where the node keeps its bdSeq: this test's own.
        env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
        process->setProcessEnvironment(env);
        process->start(QStringLiteral(VEL_VELDUO),
                       QStringList{"watch", "1@9600", "2@9600", "3@9600", "--interval", "0.02",
                                   "--port", bus.slavePath(), "--mqtt", url, "--sparkplug",
                                   group + QLatin1Char('/') + node} +
                           more);
        return process;
    }

private slots:
    // A test that failed half-way leaves no velduo behind.
    void cleanup()
    {
        for (QProcess* process : started) {
            if (process->state() != QProcess::NotRunning) {
                ::kill(pid_t(process->processId()), SIGKILL);
                process->waitForFinished(10000);
            }
            delete process;
        }
        started.clear();
    }

    void initTestCase()
    {
        QString error;
        QVERIFY2(bus.open(&error), qPrintable(error));
        QVERIFY(dir.isValid());
        bus.addSensor(1, 9600, SensorType::Voltage);
        bus.addSensor(2, 9600, SensorType::Temperature);
        bus.addSensor(3, 9600, SensorType::Voltage);
        // Values that change at every poll, so that data flows and seq wraps soon.
        for (quint8 addr : {1, 2, 3})
            bus.updateSensor(addr, [](sim::Sensor& s) {
                s.drift.periodMs = 997;
                s.drift.measureMid = 200;
                s.drift.measureSwing = 50;
                s.drift.adcMid = 2000;
                s.drift.adcSwing = 1500;
            });
    }

    // The contract's options are checked before the port is opened: usage faults, code 2.
    void usageFaults_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("told");
        QTest::newRow("without --mqtt") << QStringList{"--sparkplug", "Plant"} << "--mqtt";
        QTest::newRow("host without --sparkplug")
            << QStringList{"--mqtt", "mqtt://h", "--sparkplug-host", "scada"} << "--sparkplug";
        QTest::newRow("with the JSON prefix")
            << QStringList{"--mqtt", "mqtt://h", "--sparkplug", "Plant", "--mqtt-topic", "a/b"}
            << "--mqtt-topic";
        QTest::newRow("node with a level")
            << QStringList{"--mqtt", "mqtt://h", "--sparkplug", "Plant/line/7"} << "«/»";
        QTest::newRow("empty group")
            << QStringList{"--mqtt", "mqtt://h", "--sparkplug", "/n"} << "пустое";
        QTest::newRow("wildcard host")
            << QStringList{"--mqtt", "mqtt://h", "--sparkplug", "Plant", "--sparkplug-host", "#"}
            << "«#»";
    }

    void usageFaults()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, told);
        QProcess process;
        process.start(QStringLiteral(VEL_VELDUO),
                      QStringList{"watch", "1@9600", "--port", "/nonexistent/tty"} + args);
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 2);
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(err.contains(told), qPrintable(err));
    }

    // A whole session: births, data, a sensor's death and return, seq wrapping, rebirth on
    // NCMD, commands refused without a write, and the will after SIGKILL with the NBIRTH's
    // bdSeq; the next run is born with the next bdSeq.
    void session()
    {
        QTemporaryDir folder;
        Broker broker(folder.path());
        QVERIFY2(broker.start(), broker.log.constData());
        Recorder host;
        QVERIFY2(host.start(broker.url()), "recorder.js did not start: run scripts/setup");
        QProcess* run = velduo({}, broker.url());

        QTRY_COMPARE_WITH_TIMEOUT(host.ofType("DBIRTH").size(), 3, 30000);
        const QJsonObject nbirth = host.on(topic("NBIRTH")).value(0);
        const qint64 bdSeq = bdSeqOf(nbirth);
        QVERIFY(bdSeq >= 0);
        QCOMPARE(metricNamed(nbirth, "Node Control/Rebirth").value("value").toBool(true), false);
        QCOMPARE(metricNamed(nbirth, "Node Control/Rebirth").value("type").toString(),
                 QStringLiteral("Boolean"));
        QCOMPARE(metricNamed(nbirth, "bdSeq").value("type").toString(), QStringLiteral("Int64"));
        QCOMPARE(metricNamed(nbirth, "Port").value("value").toString(), bus.slavePath());
        QCOMPARE(metricNamed(nbirth, "Line size").value("value").toInt(), 3);
        QVERIFY(!metricNamed(nbirth, "Version").value("value").toString().isEmpty());

        // The devices as a host lists them.
        const QJsonObject s02 = host.on(topic("DBIRTH", "s02")).value(0);
        const QMap<QString, QString> types{
            {"Measure", "Float"},  {"ADC", "UInt16"},   {"Coil", "UInt8"},  {"WorkTime", "UInt32"},
            {"Version", "String"}, {"Type", "String"},  {"Name", "String"}, {"Setpoint", "Int16"},
            {"Speed", "UInt32"},   {"Address", "UInt8"}};
        for (auto it = types.cbegin(); it != types.cend(); ++it)
            QCOMPARE(metricNamed(s02, it.key()).value("type").toString(), it.value());
        QCOMPARE(metricNamed(s02, "Measure")
                     .value("properties")
                     .toObject()
                     .value("engUnit")
                     .toObject()
                     .value("value")
                     .toString(),
                 QStringLiteral("°C"));
        QCOMPARE(metricNamed(s02, "Address").value("value").toInt(), 2);
        QCOMPARE(metricNamed(s02, "Speed").value("value").toInt(), 9600);
        QCOMPARE(metricNamed(s02, "Type").value("value").toString(), QStringLiteral("temperature"));
        QCOMPARE(metricNamed(s02, "Setpoint").value("value").toInt(),
                 int(bus.sensor(2).ust.threshold));

        // A sensor that stops answering dies at its first failed poll, and is born again.
        bus.setFault(3, sim::everyFunction, {sim::Fault::Silence});
        QTRY_COMPARE_WITH_TIMEOUT(host.on(topic("DDEATH", "s03")).size(), 1, 30000);
        bus.clearFaults();
        QTRY_COMPARE_WITH_TIMEOUT(host.on(topic("DBIRTH", "s03")).size(), 2, 30000);

        // Enough data for seq to pass 255.
        int wraps = 0;
        QTRY_VERIFY_WITH_TIMEOUT(broken(host.messages(), &wraps).isEmpty() && wraps >= 1, 60000);

        // Commands: a device's and any node command but a rebirth are not carried out.
        bus.clearLog();
        const QJsonObject write{
            {"timestamp", 1},
            {"metrics",
             QJsonArray{QJsonObject{{"name", "Setpoint"}, {"type", "Int16"}, {"value", 5}}}}};
        host.publish(topic("DCMD", "s01"), write);
        host.publish(topic("NCMD"),
                     QJsonObject{{"timestamp", 1},
                                 {"metrics", QJsonArray{QJsonObject{{"name", "Node Control/Reboot"},
                                                                    {"type", "Boolean"},
                                                                    {"value", true}}}}});
        host.publish(
            topic("NCMD"),
            QJsonObject{{"timestamp", 1},
                        {"metrics", QJsonArray{QJsonObject{{"name", "Node Control/Rebirth"},
                                                           {"type", "Boolean"},
                                                           {"value", true}}}}});
        QTRY_COMPARE_WITH_TIMEOUT(host.published(), 3, 20000);
        // Rebirth: the node and every device again, with the same bdSeq.
        QTRY_COMPARE_WITH_TIMEOUT(host.on(topic("NBIRTH")).size(), 2, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(host.ofType("DBIRTH").size() >= 7, 30000);
        QCOMPARE(bdSeqOf(host.on(topic("NBIRTH")).last()), bdSeq);
        // The polls went on meanwhile; not one request wrote to the line.
        QVERIFY(bus.waitForReceived(30, 30000));
        for (const sim::Received& request : bus.received())
            QVERIFY2(!isWrite(request.bytes), request.bytes.toHex().constData());
        QVERIFY(broken(host.messages(), &wraps).isEmpty());

        // Killed: the broker delivers the will, NDEATH with the same bdSeq.
        QCOMPARE(::kill(pid_t(run->processId()), SIGKILL), 0);
        QVERIFY(run->waitForFinished(20000));
        QTRY_COMPARE_WITH_TIMEOUT(host.on(topic("NDEATH")).size(), 1, 20000);
        QCOMPARE(bdSeqOf(host.on(topic("NDEATH")).first()), bdSeq);
        const QString err = QString::fromUtf8(run->readAllStandardError());
        QCOMPARE(err.count(QStringLiteral("команда не выполнена")), 1);
        QVERIFY2(err.contains(QStringLiteral("Node Control/Reboot")), qPrintable(err));

        // The next run is a new session: its bdSeq is the next one, in birth and in death.
        QProcess* next = velduo({}, broker.url());
        QTRY_COMPARE_WITH_TIMEOUT(host.on(topic("NBIRTH")).size(), 3, 30000);
        QCOMPARE(bdSeqOf(host.on(topic("NBIRTH")).last()), (bdSeq + 1) % 256);
        QCOMPARE(::kill(pid_t(next->processId()), SIGINT), 0);
        QVERIFY(next->waitForFinished(20000));
        QCOMPARE(next->exitCode(), 130);
        QTRY_COMPARE_WITH_TIMEOUT(host.on(topic("NDEATH")).size(), 2, 20000);
        QCOMPARE(bdSeqOf(host.on(topic("NDEATH")).last()), (bdSeq + 1) % 256);
        QVERIFY2(host.errors().isEmpty(), qPrintable(host.errors().join('\n')));
    }

    // The port lost: every device that was born dies at once.
    void portLostKillsEveryDevice()
    {
        QTemporaryDir folder;
        Broker broker(folder.path());
        QVERIFY2(broker.start(), broker.log.constData());
        Recorder host;
        QVERIFY2(host.start(broker.url()), "recorder.js did not start: run scripts/setup");
        sim::SensorBus line;
        QString error;
        QVERIFY2(line.open(&error), qPrintable(error));
        line.addSensor(4, 9600, SensorType::Voltage);
        line.addSensor(5, 9600, SensorType::Temperature);
        auto* process = new QProcess(this);
        started.append(process);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
        process->setProcessEnvironment(env);
        process->start(QStringLiteral(VEL_VELDUO),
                       {"watch", "4@9600", "5@9600", "--interval", "0.05", "--port",
                        line.slavePath(), "--mqtt", broker.url(), "--sparkplug",
                        group + QLatin1Char('/') + node});
        QTRY_COMPARE_WITH_TIMEOUT(host.ofType("DBIRTH").size(), 2, 30000);
        line.hangUp();
        QTRY_COMPARE_WITH_TIMEOUT(host.on(topic("DDEATH", "s04")).size(), 1, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(host.on(topic("DDEATH", "s05")).size(), 1, 30000);
        int wraps = 0;
        QString fault;
        QVERIFY2((fault = broken(host.messages(), &wraps)).isEmpty(), qPrintable(fault));
        QVERIFY2(host.errors().isEmpty(), qPrintable(host.errors().join('\n')));
    }

    // A broker restart ends the session without a will: the node comes back as a new session
    // with the next bdSeq, and the readings of the outage follow its births as history.
    void newSessionAfterABrokerRestart()
    {
        QTemporaryDir folder;
        Broker broker(folder.path());
        // The host's session is kept across the restart, with the node's QoS-0 messages that
        // come while the host is not yet back: the new births cannot be missed.
        const QByteArray listener =
            "allow_anonymous true\nqueue_qos0_messages true\nmax_queued_messages 0\n";
        const QString hostId = QStringLiteral("interop-host");
        QVERIFY2(broker.start(listener), broker.log.constData());
        qint64 bdSeq = -1;
        {
            Recorder before;
            QVERIFY2(before.start(broker.url(), hostId),
                     "recorder.js did not start: run scripts/setup");
            velduo({}, broker.url());
            QTRY_COMPARE_WITH_TIMEOUT(before.ofType("DBIRTH").size(), 3, 30000);
            bdSeq = bdSeqOf(before.ofType("NBIRTH").first());
            broker.stop();
        }
        // The line is polled while the broker is away.
        bus.clearLog();
        QVERIFY(bus.waitForReceived(30, 30000));
        QVERIFY2(broker.start(listener), broker.log.constData());
        Recorder after;
        QVERIFY2(after.start(broker.url(), hostId), "recorder.js did not start: run scripts/setup");
        QTRY_COMPARE_WITH_TIMEOUT(after.ofType("NBIRTH").size(), 1, 60000);
        QCOMPARE(bdSeqOf(after.ofType("NBIRTH").first()), (bdSeq + 1) % 256);
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (const QJsonObject& m : after.ofType("DDATA"))
                    if (payloadOf(m)
                            .value(QStringLiteral("metrics"))
                            .toArray()
                            .first()
                            .toObject()
                            .value(QStringLiteral("isHistorical"))
                            .toBool())
                        return true;
                return false;
            }(),
            30000);
        // The old session's last messages may come first: the rules hold from the new birth on.
        QList<QJsonObject> session = after.messages();
        while (!session.isEmpty() &&
               session.first().value(QStringLiteral("topic")).toString() != topic("NBIRTH"))
            session.removeFirst();
        int wraps = 0;
        QString fault;
        QVERIFY2((fault = broken(session, &wraps)).isEmpty(), qPrintable(fault));
        QVERIFY2(after.errors().isEmpty(), qPrintable(after.errors().join('\n')));
    }

    // With a primary host the node is born only while the host is online; the readings of the
    // time it was not come afterwards, flagged historical.
    void followsThePrimaryHost()
    {
        QTemporaryDir folder;
        Broker broker(folder.path());
        QVERIFY2(broker.start(), broker.log.constData());
        Recorder host;
        QVERIFY2(host.start(broker.url()), "recorder.js did not start: run scripts/setup");
        QProcess* run = velduo({"--sparkplug-host", "scada"}, broker.url());
        // It polls, and is connected, but publishes nothing while the host is away.
        bus.clearLog();
        QVERIFY(bus.waitForReceived(60, 30000));
        QByteArray told;
        QTRY_VERIFY_WITH_TIMEOUT((told += run->readAllStandardError()).contains("bdSeq"), 30000);
        bus.clearLog();
        QVERIFY(bus.waitForReceived(60, 30000));
        QVERIFY(host.ofType("NBIRTH").isEmpty() && host.ofType("DDATA").isEmpty());

        const QString state = QStringLiteral("spBv1.0/STATE/scada");
        host.publish(state, QStringLiteral(R"({"online":true,"timestamp":1000})"), true);
        QTRY_COMPARE_WITH_TIMEOUT(host.ofType("NBIRTH").size(), 1, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(host.ofType("DBIRTH").size(), 3, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (const QJsonObject& m : host.ofType("DDATA"))
                    for (const QJsonValue& metric :
                         payloadOf(m).value(QStringLiteral("metrics")).toArray())
                        if (metric.toObject().value(QStringLiteral("isHistorical")).toBool())
                            return true;
                return false;
            }(),
            30000);
        // The host goes: the node's death, and no more data.
        host.publish(state, QStringLiteral(R"({"online":false,"timestamp":2000})"), true);
        QTRY_COMPARE_WITH_TIMEOUT(host.ofType("NDEATH").size(), 1, 30000);
        QCOMPARE(bdSeqOf(host.ofType("NDEATH").first()), bdSeqOf(host.ofType("NBIRTH").first()));
        const int after = host.messages().size();
        // Back: born again with the same session's bdSeq.
        host.publish(state, QStringLiteral(R"({"online":true,"timestamp":3000})"), true);
        QTRY_COMPARE_WITH_TIMEOUT(host.ofType("NBIRTH").size(), 2, 30000);
        QCOMPARE(host.messages().at(after).value("topic").toString().section('/', 1, 1),
                 QStringLiteral("STATE"));
        int wraps = 0;
        QString fault;
        QVERIFY2((fault = broken(host.messages(), &wraps)).isEmpty(), qPrintable(fault));
        QCOMPARE(::kill(pid_t(run->processId()), SIGINT), 0);
        QVERIFY(run->waitForFinished(20000));
        QVERIFY2(host.errors().isEmpty(), qPrintable(host.errors().join('\n')));
    }
};

QTEST_GUILESS_MAIN(TestSparkplugInterop)
#include "tst_sparkpluginterop.moc"
