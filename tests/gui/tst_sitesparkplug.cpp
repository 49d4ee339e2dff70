// "Обзор площадки" reading Sparkplug B from a Mosquitto of the test's own: a real velduo watch
// --sparkplug on a simulated line shown as a line with its sensors, not trusted after data its
// births never named, offline once it is killed; then message sequences crafted with the codec,
// read by the monitor: births, data, gaps in seq, deaths of this session and an older one, a
// device's death, another vendor's node, historical data, payloads refused.
#include "codec/blocks.h"
#include "codec/sparkplug.h"
#include "core/devices/mqttclient.h"
#include "core/devices/sitemonitor.h"
#include "core/devices/sparkplugnode.h"
#include "core/sensor/format.h"
#include "gui/sensorcells.h"
#include "gui/siteview.h"
#include "gui/trendplot.h"
#include "sim/sensorbus.h"
#include "support/broker.h"
#include "support/sitetree.h"
#include "support/windowbench.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeView>
#include <QtTest>
#include <csignal>
#include <memory>

namespace {

using namespace overview;
using namespace sparkplug;

struct Step
{
    QString topic; // TYPE or TYPE/DEVICE of the node "n1", or STATE for a host's state
    QByteArray payload;
};
using Steps = QVector<Step>;

} // namespace

Q_DECLARE_METATYPE(Steps)

namespace {

// A payload as a node writes it.
QByteArray payload(std::optional<quint64> seq, qint64 at, const QVector<Metric>& metrics)
{
    Payload p;
    p.seq = seq;
    p.timestamp = quint64(at);
    p.metrics = metrics;
    return encode(p);
}

Metric bdSeq(qint64 n)
{
    Metric m;
    m.name = QStringLiteral("bdSeq");
    m.datatype = Int64;
    m.value = n;
    return m;
}

QByteArray nodeBirth(qint64 session, const QString& port = QString())
{
    QVector<Metric> metrics{bdSeq(session)};
    if (!port.isEmpty())
        metrics << metric(QStringLiteral("Port"), 2, String, port);
    return payload(0, 1000, metrics);
}

QByteArray nodeDeath(qint64 session)
{
    return payload(std::nullopt, 1000, {bdSeq(session)});
}

// A device of velduo's own at 5@19200, as its node writes it at its birth.
QByteArray ownBirth(quint64 seq, qint64 at)
{
    const auto m = [](int which, const QVariant& value) {
        Metric one = metric(SparkplugNode::metricName(which), SparkplugNode::alias(5, which),
                            SparkplugNode::metricType(which), value);
        if (which == SparkplugNode::Measure)
            one.properties.append({QStringLiteral("engUnit"), String, QStringLiteral("V")});
        return one;
    };
    return payload(seq, at,
                   {m(SparkplugNode::Measure, 12.0f), m(SparkplugNode::Adc, 100),
                    m(SparkplugNode::Coil, 0), m(SparkplugNode::WorkTime, 3600),
                    m(SparkplugNode::Version, QStringLiteral("1.2")),
                    m(SparkplugNode::Type, QStringLiteral("voltage")),
                    m(SparkplugNode::Name, QStringLiteral("Насос")), m(SparkplugNode::Setpoint, 30),
                    m(SparkplugNode::Speed, 19200), m(SparkplugNode::Address, 5)});
}

// Data by alias, as velduo's node sends what changed.
QByteArray ownData(quint64 seq, qint64 at, float measure, bool historical = false,
                   quint64 alias = SparkplugNode::alias(5, SparkplugNode::Measure))
{
    Metric one;
    one.alias = alias;
    one.datatype = Float;
    one.value = measure;
    one.timestamp = quint64(at);
    one.historical = historical;
    return payload(seq, at, {one});
}

// A sensor as one line: address@speed|name|type|measure|adc|coil|work time|version|error.
QString summary(const SensorState& s)
{
    return QStringLiteral("%1@%2|%3|%4|%5|%6|%7|%8|%9|%10")
        .arg(s.addr)
        .arg(s.baudrate)
        .arg(s.name)
        .arg(int(s.type))
        .arg(s.measure)
        .arg(s.adc)
        .arg(s.coil)
        .arg(s.workTime)
        .arg(s.version)
        .arg(s.lastError);
}

} // namespace

class TestSiteSparkplug : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<Broker> broker;
    int rowNumber = 0;

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        broker = std::make_unique<Broker>(dir.path());
        QVERIFY2(broker->start(), broker->log.constData());
    }

    void cleanupTestCase() { broker.reset(); }

    // velduo watch --sparkplug on a simulated line: the node a line with its port, each device
    // a sensor with every column, the trend of a ticked one fed by the node's data; data by an
    // alias never born leaves it not trusted, told in its row; killed, the will marks it offline.
    void liveNode()
    {
        sim::SensorBus bus;
        QString error;
        QVERIFY2(bus.open(&error), qPrintable(error));
        bus.addSensor(1, 9600, SensorType::Voltage);
        bus.addSensor(2, 9600, SensorType::Temperature);
        bus.addSensor(3, 9600, SensorType::Voltage);
        // Sensor 1 changes at every poll, so that its data flows.
        bus.updateSensor(1, [](sim::Sensor& s) {
            s.drift.periodMs = 997;
            s.drift.measureMid = 200;
            s.drift.measureSwing = 50;
            s.drift.adcMid = 2000;
            s.drift.adcSwing = 1500;
        });

        WindowBench b;
        b.find<QAction>("actionSiteView")->trigger();
        auto* view = b.window->findChild<SiteView*>();
        QVERIFY(view);
        view->findChild<QLineEdit*>(QStringLiteral("lineEditHost"))
            ->setText(QStringLiteral("127.0.0.1"));
        view->findChild<QSpinBox*>(QStringLiteral("spinBoxPort"))->setValue(broker->port);
        view->findChild<QLineEdit*>(QStringLiteral("lineEditTopics"))
            ->setText(QStringLiteral("spBv1.0/plant/#"));
        view->findChild<QPushButton*>(QStringLiteral("btnConnect"))->click();
        const SiteMonitor& monitor = view->monitor();
        QTRY_VERIFY_WITH_TIMEOUT(monitor.connection() == SiteMonitor::Connection::Connected, 10000);

        QProcess velduo;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("VELDUO_PORT"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
        velduo.setProcessEnvironment(env);
        velduo.start(QStringLiteral(VEL_VELDUO),
                     {"watch", "1@9600", "2@9600", "3@9600", "--interval", "0.2", "--port",
                      bus.slavePath(), "--mqtt", broker->url(), "--sparkplug", "plant/line1"});
        QVERIFY(velduo.waitForStarted(10000));

        const QString line = QStringLiteral("spBv1.0/plant/line1");
        auto* tree = view->findChild<QTreeView*>();
        QTRY_COMPARE_WITH_TIMEOUT(tree->model()->rowCount(lineRow(tree, line)), 3, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(
            lineRow(tree, line).data().toString().startsWith(line + QStringLiteral(" — online")),
            10000);
        QVERIFY2(lineRow(tree, line).data().toString().contains(bus.slavePath()),
                 qPrintable(lineRow(tree, line).data().toString()));
        for (int row = 0; row < 3; ++row) {
            const sim::Sensor sensor = bus.sensor(quint8(row + 1));
            QTRY_VERIFY_WITH_TIMEOUT(!cell(tree, line, row, Value).isEmpty(), 10000);
            QCOMPARE(cell(tree, line, row, Address), QString::number(row + 1));
            QCOMPARE(cell(tree, line, row, Speed), QStringLiteral("9600"));
            QCOMPARE(cell(tree, line, row, Type), sensorTypeOf(sensor.param) == SensorType::Voltage
                                                      ? QStringLiteral("Напряжение")
                                                      : QStringLiteral("Температура"));
            QCOMPARE(cell(tree, line, row, Name), nameText(sensor.ust));
            QCOMPARE(cell(tree, line, row, Version), versionText(sensor.param));
            // The sensor counts its seconds on: as the node last read them.
            const uint workTime = cell(tree, line, row, WorkTime).toUInt();
            const quint32 counted = bus.sensor(quint8(row + 1)).param.workTime;
            QVERIFY2(workTime <= counted && workTime + 30 >= counted,
                     qPrintable(QStringLiteral("%1 of %2").arg(workTime).arg(counted)));
            // The value as the sensor gave it, through the node's float and back.
            if (row > 0) {
                QCOMPARE(cell(tree, line, row, Value),
                         measureText(sensor.param) + QLatin1Char(' ') +
                             (sensorTypeOf(sensor.param) == SensorType::Voltage
                                  ? QStringLiteral("В")
                                  : QStringLiteral("°С")));
                QCOMPARE(cell(tree, line, row, Adc), QString::number(sensor.param.adc));
            }
        }
        // The drifting sensor's data by alias: its curve grows.
        auto* model = tree->model();
        model->setData(model->index(0, Address, lineRow(tree, line)), Qt::Checked,
                       Qt::CheckStateRole);
        auto* plot = view->findChild<TrendPlot*>();
        QTRY_COMPARE_WITH_TIMEOUT(plot->curveCount(), 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(plot->pointCount(0) >= 3, 20000);
        QCOMPARE(int(monitor.lines().value(line).state), int(SiteLine::State::Online));

        // Data the node's births never named: the line is not trusted, and says why.
        {
            MqttClient out;
            MqttSettings settings;
            settings.host = QStringLiteral("127.0.0.1");
            settings.port = broker->port;
            settings.clientId = QStringLiteral("tst-sitesparkplug-live");
            QString why;
            QVERIFY2(out.open(settings, &why), qPrintable(why));
            QSignalSpy up(&out, &MqttClient::connected);
            QVERIFY(up.wait(10000));
            out.publish(QStringLiteral("spBv1.0/plant/DDATA/line1/s01"),
                        ownData(0, QDateTime::currentMSecsSinceEpoch(), 1.0f, false, 9999), 1,
                        false);
            QTRY_VERIFY_WITH_TIMEOUT(lineRow(tree, line)
                                         .data()
                                         .toString()
                                         .startsWith(line + QStringLiteral(" — недостоверно: ")),
                                     10000);
            QVERIFY2(lineRow(tree, line)
                         .data()
                         .toString()
                         .contains(QStringLiteral("ждём новое рождение узла")),
                     qPrintable(lineRow(tree, line).data().toString()));
            out.close();
        }

        // Killed: the broker delivers its will, NDEATH of the session it was born in.
        ::kill(pid_t(velduo.processId()), SIGKILL);
        velduo.waitForFinished(10000);
        QTRY_VERIFY_WITH_TIMEOUT(
            lineRow(tree, line).data().toString().startsWith(line + QStringLiteral(" — offline")),
            10000);
        QCOMPARE(model->rowCount(lineRow(tree, line)), 3);
    }

    // Message sequences of one node "n1" and what the monitor makes of them: the line's state
    // and why it is not trusted, its port, each sensor, its readings' measures in time order
    // ("e6" for a failure), what the journal says. A state of -1: no line at all.
    void sequences_data()
    {
        QTest::addColumn<Steps>("steps");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("doubt");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QStringList>("sensors");
        QTest::addColumn<QString>("readings");
        QTest::addColumn<QString>("journal");
        using S = SiteLine::State;
        const qint64 t = QDateTime::currentMSecsSinceEpoch() - 60000;
        const QString own = QStringLiteral("5@19200|Насос|2|%1|100|0|3600|1.2|%2");
        const QString dev = QStringLiteral("DBIRTH/s05");
        const QString data = QStringLiteral("DDATA/s05");

        QTest::newRow("births, then data")
            << Steps{{"NBIRTH", nodeBirth(3, "/dev/ttyUSB7")},
                     {dev, ownBirth(1, t)},
                     {data, ownData(2, t + 1000, 24.0f)}}
            << int(S::Online) << QString() << "/dev/ttyUSB7" << QStringList{own.arg(24).arg(0)}
            << "12 24" << QString();
        QTest::newRow("a gap in seq")
            << Steps{{"NBIRTH", nodeBirth(3)},
                     {dev, ownBirth(1, t)},
                     {data, ownData(3, t + 1000, 24.0f)}}
            << int(S::Stale) << "пропуск в seq: 3 вместо 2, ждём новое рождение узла" << QString()
            << QStringList{own.arg(24).arg(0)} << "12 24"
            << "пропуск в seq: 3 вместо 2, ждём новое рождение узла";
        QTest::newRow("born again after a gap")
            << Steps{{"NBIRTH", nodeBirth(3)},
                     {dev, ownBirth(1, t)},
                     {data, ownData(3, t + 1000, 24.0f)},
                     {"NBIRTH", nodeBirth(3)},
                     {dev, ownBirth(1, t + 2000)}}
            << int(S::Online) << QString() << QString() << QStringList{own.arg(12).arg(0)}
            << "12 24 12" << QString();
        QTest::newRow("data before any birth")
            << Steps{{data, ownData(7, t, 24.0f)}} << int(S::Stale)
            << "данные до рождения узла, ждём новое рождение узла" << QString() << QStringList()
            << QString() << QString();
        QTest::newRow("an alias not born")
            << Steps{{"NBIRTH", nodeBirth(3)},
                     {dev, ownBirth(1, t)},
                     {data, ownData(2, t + 1000, 24.0f, false, 9999)}}
            << int(S::Stale)
            << "неизвестный псевдоним 9999 устройства «s05», ждём новое рождение узла" << QString()
            << QStringList{own.arg(12).arg(0)} << "12" << QString();
        QTest::newRow("the will of an older session")
            << Steps{{"NBIRTH", nodeBirth(4)}, {dev, ownBirth(1, t)}, {"NDEATH", nodeDeath(3)}}
            << int(S::Online) << QString() << QString() << QStringList{own.arg(12).arg(0)} << "12"
            << QString();
        QTest::newRow("the death of its session")
            << Steps{{"NBIRTH", nodeBirth(4)}, {dev, ownBirth(1, t)}, {"NDEATH", nodeDeath(4)}}
            << int(S::Offline) << QString() << QString() << QStringList{own.arg(12).arg(0)} << "12"
            << "offline";
        QTest::newRow("a device's death")
            << Steps{{"NBIRTH", nodeBirth(3)},
                     {dev, ownBirth(1, t)},
                     {"DDEATH/s05", payload(2, t + 1000, {})}}
            << int(S::Online) << QString() << QString() << QStringList{own.arg(12).arg(6)}
            << "12 e6" << QString();
        QTest::newRow("historical data in place")
            << Steps{{"NBIRTH", nodeBirth(3)},
                     {dev, ownBirth(1, t)},
                     {data, ownData(2, t + 3000, 30.0f)},
                     {data, ownData(3, t + 2000, 20.0f, true)}}
            << int(S::Online) << QString() << QString() << QStringList{own.arg(30).arg(0)}
            << "12 20 30" << QString();

        // Another vendor's devices: by name, under their ids; a value without a unit or a
        // type is no column's, a bidirectional character is written by its code.
        Metric measure = metric(QStringLiteral("Measure"), 1, Double, 21.567);
        measure.properties.append({QStringLiteral("engUnit"), String, QStringLiteral("°C")});
        const QByteArray pump =
            payload(1, t,
                    {measure, metric(QStringLiteral("Pressure"), 2, Float, 3.5f),
                     metric(QStringLiteral("version"), 3, String, QStringLiteral("fw 7")),
                     metric(QStringLiteral("WorkTime"), 4, UInt64, 100)});
        const QByteArray valve = payload(2, t, {metric(QStringLiteral("Flow"), 1, Float, 3.5f)});
        Metric later;
        later.alias = 1;
        later.datatype = Double;
        later.value = 22.0;
        QTest::newRow("another vendor's node")
            << Steps{{"NBIRTH", nodeBirth(0)},
                     {"DBIRTH/Pump 3", pump},
                     {"DBIRTH/Valve\u202E", valve},
                     {"DDATA/Pump 3", payload(3, t + 1000, {later})}}
            << int(S::Online) << QString() << QString()
            << QStringList{"1@0|Pump 3|1|2200|0|0|100|fw 7|0", "2@0|Valve\\u202e|0|0|0|0|0||-1"}
            << "2157 2200" << QString();

        QTest::newRow("a payload that is none: no row")
            << Steps{{"NBIRTH", QByteArray("\xff\xff\xff\xff", 4)}} << -1 << QString() << QString()
            << QStringList() << QString() << "сообщений Sparkplug не принято: 1";
        QTest::newRow("a birth without bdSeq: no row")
            << Steps{{"NBIRTH", payload(0, t, {})}} << -1 << QString() << QString() << QStringList()
            << QString() << "нет bdSeq";
        QTest::newRow("a payload over the size: no row")
            << Steps{{"NBIRTH", payload(0, t,
                                        {bdSeq(1), metric(QStringLiteral("Blob"), 3, String,
                                                          QString(300 * 1024, QLatin1Char('x')))})}}
            << -1 << QString() << QString() << QStringList() << QString()
            << "сверх допустимого размера";
        QTest::newRow("a host's state: no line")
            << Steps{{"STATE", hostStatePayload({true, t})}} << -1 << QString() << QString()
            << QStringList() << QString() << QString();
    }

    void sequences()
    {
        QFETCH(Steps, steps);
        QFETCH(int, state);
        QFETCH(QString, doubt);
        QFETCH(QString, port);
        QFETCH(QStringList, sensors);
        QFETCH(QString, readings);
        QFETCH(QString, journal);
        // Each row a group of its own, so that no other row's messages reach it.
        const QString group = QStringLiteral("g%1").arg(++rowNumber);
        const QString done = QStringLiteral("tsp/%1").arg(group);
        SiteMonitor monitor;
        QStringList told;
        connect(&monitor, &SiteMonitor::journal, this,
                [&told](const QString& line, const QString& event) { told << line + '|' + event; });
        MqttSettings settings;
        settings.host = QStringLiteral("127.0.0.1");
        settings.port = broker->port;
        QString why;
        // The JSON filter last: once a message under it comes, the others are subscribed too.
        QVERIFY2(monitor.open(settings,
                              {QStringLiteral("spBv1.0/%1/#").arg(group),
                               QStringLiteral("spBv1.0/STATE/#"), QStringLiteral("tsp/#")},
                              &why),
                 qPrintable(why));
        QTRY_VERIFY_WITH_TIMEOUT(monitor.connection() == SiteMonitor::Connection::Connected, 10000);

        MqttClient out;
        MqttSettings publisher = settings;
        publisher.clientId = QStringLiteral("tst-sitesparkplug-%1").arg(group);
        QVERIFY2(out.open(publisher, &why), qPrintable(why));
        QSignalSpy up(&out, &MqttClient::connected);
        QVERIFY(up.wait(10000));
        QTRY_VERIFY_WITH_TIMEOUT(
            (out.publish(done + QStringLiteral("/ready/status"), "online", 1, false),
             monitor.lines().contains(done + QStringLiteral("/ready"))),
            10000);
        for (const Step& step : steps) {
            const QString topic =
                step.topic == QLatin1String("STATE")
                    ? stateTopic(group)
                    : QStringLiteral("spBv1.0/%1/%2/n1").arg(group, step.topic.section('/', 0, 0)) +
                          (step.topic.contains('/') ? '/' + step.topic.section('/', 1) : QString());
            out.publish(topic, step.payload, 1, false);
        }
        // In order from one publisher: once this came, every step did.
        out.publish(done + QStringLiteral("/done/status"), "online", 1, false);
        QTRY_VERIFY_WITH_TIMEOUT(monitor.lines().contains(done + QStringLiteral("/done")), 10000);
        monitor.updateStates(QDateTime::currentMSecsSinceEpoch());
        out.close();

        const QString name = QStringLiteral("spBv1.0/%1/n1").arg(group);
        // Only the test's own lines, and the node's when it has one.
        QCOMPARE(monitor.lines().size(), state < 0 ? 2 : 3);
        if (!journal.isEmpty())
            QVERIFY2(told.join('\n').contains(journal), qPrintable(told.join('\n')));
        if (state < 0)
            return;
        const SiteLine line = monitor.lines().value(name);
        QCOMPARE(int(line.state), state);
        QCOMPARE(line.doubt, doubt);
        QCOMPARE(line.port, port);
        QStringList shown;
        for (const SensorState& sensor : line.sensors)
            shown << summary(sensor);
        QCOMPARE(shown, sensors);
        QStringList held;
        for (const ReadingBuffer* buffer : monitor.readings().all()) {
            if (buffer->port() != name)
                continue;
            for (int i = 0; i < buffer->size(); ++i)
                held << (buffer->at(i).ok() ? QString::number(buffer->at(i).measure)
                                            : QStringLiteral("e%1").arg(buffer->at(i).error));
        }
        QCOMPARE(held.join(' '), readings);
    }
};

QTEST_MAIN(TestSiteSparkplug)
#include "tst_sitesparkplug.moc"
