// The poller of the whole line against the simulated bus: the order of a round, one port
// sequence per speed, a silent sensor, and how it yields the line.
#include "core/link/lineclient.h"
#include "core/ops/linepoller.h"
#include "sim/sensorbus.h"
#include "support/scriptedhost.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

struct Listed
{
    int addr;
    int baud;
};

// A bus with a sensor for each listed entry but the silent ones, and a registry listing all.
struct Line
{
    explicit Line(const QVector<Listed>& listed, const QVector<int>& silent = {})
    {
        QString error;
        if (!bus.open(&error))
            qFatal("simulated bus: %s", qPrintable(error));
        for (const Listed& l : listed) {
            if (!silent.contains(l.addr))
                bus.addSensor(quint8(l.addr), l.baud,
                              l.addr % 2 ? SensorType::Voltage : SensorType::Temperature);
            DeviceVEL_DUO300 dev{};
            dev.addr = l.addr;
            dev.baudrate = l.baud;
            registry.add(dev);
        }
        QObject::connect(&line, &LineClient::outcome,
                         [this](DeviceVEL_DUO300*, int error) { outcomes.append(error); });
    }
    sim::SensorBus bus;
    SensorRegistry registry;
    LineClient line;
    ScriptedHost host;
    QList<int> outcomes; // the error code of every exchange, as the line tells them
};

QString order(const QList<sim::Received>& requests)
{
    QStringList parts;
    for (const sim::Received& r : requests)
        parts << QStringLiteral("%1@%2:%3")
                     .arg(quint8(r.bytes.at(0)))
                     .arg(r.baud)
                     .arg(quint8(r.bytes.at(1)), 2, 16, QLatin1Char('0'));
    return parts.join(QLatin1Char(' '));
}

} // namespace

Q_DECLARE_METATYPE(Listed)

class TestLinePoller : public QObject
{
    Q_OBJECT

private slots:
    void round_data()
    {
        QTest::addColumn<QVector<Listed>>("listed");
        QTest::addColumn<int>("openAt");
        QTest::addColumn<QString>("requests");
        QTest::addColumn<int>("portSequences");
        QTest::newRow("one speed, port closed")
            << QVector<Listed>{{1, 9600}, {2, 9600}, {3, 9600}} << 0
            << QStringLiteral("1@9600:03 1@9600:01 2@9600:03 2@9600:01 3@9600:03 3@9600:01") << 1;
        // The speed the port is open at goes first, then the others as the list meets them.
        QTest::newRow("three speeds, port open at the second")
            << QVector<Listed>{{1, 9600}, {2, 38400}, {3, 9600}, {4, 115200}, {5, 38400}} << 38400
            << QStringLiteral("2@38400:03 2@38400:01 5@38400:03 5@38400:01 1@9600:03 1@9600:01 "
                              "3@9600:03 3@9600:01 4@115200:03 4@115200:01")
            << 2;
    }

    void round()
    {
        QFETCH(QVector<Listed>, listed);
        QFETCH(int, openAt);
        QFETCH(QString, requests);
        QFETCH(int, portSequences);
        Line l(listed);
        if (openAt)
            l.line.reopen(l.bus.slavePath(), openAt);
        l.bus.clearLog();

        LinePoller poller(l.line, l.host, l.registry);
        QSignalSpy readings(&poller, &LinePoller::reading);
        QSignalSpy rounds(&poller, &LinePoller::roundDone);
        QSignalSpy sequences(&l.line, &LineClient::reopened);
        connect(&poller, &LinePoller::roundDone, &poller, &LinePoller::stop);
        poller.start(l.bus.slavePath());
        QTRY_COMPARE_WITH_TIMEOUT(rounds.count(), 1, 20000);
        QVERIFY(!poller.running());

        QCOMPARE(order(l.bus.received()), requests);
        QCOMPARE(sequences.count(), portSequences);
        QCOMPARE(rounds.at(0).at(0).toInt(), listed.size());
        QCOMPARE(readings.count(), listed.size());
        for (const QList<QVariant>& args : readings) {
            const Reading r = args.at(0).value<Reading>();
            QVERIFY2(r.ok(), qPrintable(QString::number(r.addr)));
            QCOMPARE(r.sensorType, r.addr % 2 ? SensorType::Voltage : SensorType::Temperature);
            const DeviceVEL_DUO300& dev = l.registry[l.registry.find(r.addr, r.baudrate)];
            QCOMPARE(r.measure, dev.param.measure);
            QCOMPARE(r.adc, dev.param.adc);
            QVERIFY(!dev.commError);
        }
        QCOMPARE(l.outcomes.size(), 2 * listed.size());
    }

    void silentSensor()
    {
        // Address 7 is listed but nobody answers there.
        Line l({{1, 9600}, {7, 9600}, {3, 9600}}, {7});
        LinePoller poller(l.line, l.host, l.registry);
        QSignalSpy readings(&poller, &LinePoller::reading);
        QSignalSpy rounds(&poller, &LinePoller::roundDone);
        connect(&poller, &LinePoller::roundDone, &poller, &LinePoller::stop);
        poller.start(l.bus.slavePath());
        QTRY_COMPARE_WITH_TIMEOUT(rounds.count(), 1, 20000);

        QCOMPARE(readings.count(), 3);
        const Reading first = readings.at(0).at(0).value<Reading>();
        const Reading silent = readings.at(1).at(0).value<Reading>();
        const Reading last = readings.at(2).at(0).value<Reading>();
        QCOMPARE(silent.addr, 7);
        QCOMPARE(silent.error, int(rtu::NoAnswer));
        QVERIFY(std::isnan(silent.value()));
        QVERIFY(l.registry[1].commError);
        // Its two reads each waited for the no-answer limit; then the round went on.
        QVERIFY2(silent.msecs - first.msecs >= 780,
                 qPrintable(QString::number(silent.msecs - first.msecs)));
        QCOMPARE(last.addr, 3);
        QVERIFY(last.ok());
        QCOMPARE(order(l.bus.received()).count(QStringLiteral("7@9600")), 2);
    }

    void yieldsWhileBusy()
    {
        Line l({{1, 9600}, {2, 9600}});
        LinePoller poller(l.line, l.host, l.registry);
        QSignalSpy readings(&poller, &LinePoller::reading);
        bool busy = true;
        int asked = 0;
        poller.setBusy([&] {
            ++asked;
            return busy;
        });
        poller.start(l.bus.slavePath());
        QTRY_VERIFY_WITH_TIMEOUT(asked >= 3, 5000);
        QVERIFY(l.bus.received().isEmpty());
        QCOMPARE(readings.count(), 0);

        // Free again: the poller takes its turn; taken again, it yields between rounds too.
        busy = false;
        QTRY_COMPARE_WITH_TIMEOUT(readings.count(), 2, 5000);
        busy = true;
        const int sent = l.bus.received().size();
        asked = 0;
        QTRY_VERIFY_WITH_TIMEOUT(asked >= 3, 5000);
        poller.stop();
        QCOMPARE(l.bus.received().size(), sent);
        QCOMPARE(readings.count(), 2);
    }
};

QTEST_MAIN(TestLinePoller)
#include "tst_linepoller.moc"
