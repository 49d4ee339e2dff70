// The simulated sensor bus seen from the slave side of its pseudo-terminal, opened the way
// a serial port is: raw, at a set speed.
#include "codec/blocks.h"
#include "codec/rtu.h"
#include "sim/sensorbus.h"
#include "sim/sensorlogic.h"

#include <QtTest>
#include <climits>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

speed_t speedConstant(int baud)
{
    switch (baud) {
    case 1200:
        return B1200;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    default:
        return B115200;
    }
}

class Line
{
public:
    explicit Line(const QString& path)
        : fd(::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
    }
    ~Line()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    bool setBaud(int baud)
    {
        termios settings;
        if (tcgetattr(fd, &settings) != 0)
            return false;
        cfmakeraw(&settings);
        cfsetspeed(&settings, speedConstant(baud));
        return tcsetattr(fd, TCSANOW, &settings) == 0;
    }

    bool send(const QByteArray& bytes)
    {
        return ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }

    // What arrives until the line has been quiet for quietMs after a byte, or nothing when
    // no byte comes within waitMs.
    QByteArray answer(int waitMs = 300, int quietMs = 100)
    {
        QByteArray got;
        qint64 deadline = sim::nowMs() + waitMs;
        for (qint64 left = waitMs; left > 0; left = deadline - sim::nowMs()) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, int(left)) <= 0)
                break;
            char buffer[256];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            got.append(buffer, int(n));
            deadline = sim::nowMs() + quietMs;
        }
        return got;
    }

    const int fd;
};

QByteArray sealed(QByteArray body)
{
    rtu::calcCrc(body, body.size());
    return body;
}

QByteArray readRequest(quint8 addr, quint16 reg, quint16 count)
{
    const char body[] = {char(addr),       char(rtu::code(rtu::Function::ReadRegisters)),
                         char(reg >> 8),   char(reg),
                         char(count >> 8), char(count)};
    return sealed(QByteArray(body, sizeof body));
}

QByteArray settingsRequest(quint8 addr, const UstBlock& ust)
{
    const char head[] = {
        char(addr), char(rtu::code(rtu::Function::WriteRegisters)), 0x01, 0x00, 0x00, 0x14};
    return sealed(QByteArray(head, sizeof head) + blockBytes(ust));
}

qint64 processCpuMs()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

} // namespace

class TestSensorBus : public QObject
{
    Q_OBJECT

private slots:
    void answersOnlyItsOwnRequests_data()
    {
        QTest::addColumn<int>("lineBaud");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<bool>("answered");

        const QByteArray good = readRequest(1, 0x0000, 4);
        QByteArray badCrc = good;
        badCrc[7] = char(badCrc[7] ^ 0x01);
        QByteArray publishedOrder = good; // CRC low-order byte first
        publishedOrder[6] = good[7];
        publishedOrder[7] = good[6];

        QTest::newRow("own address and baud") << 9600 << good << true;
        QTest::newRow("other baud") << 19200 << good << false;
        QTest::newRow("bad CRC") << 9600 << badCrc << false;
        QTest::newRow("CRC in published order") << 9600 << publishedOrder << false;
        QTest::newRow("broadcast") << 9600 << readRequest(0, 0x0000, 4) << false;
        QTest::newRow("other address") << 9600 << readRequest(7, 0x0000, 4) << false;
    }

    void answersOnlyItsOwnRequests()
    {
        QFETCH(int, lineBaud);
        QFETCH(QByteArray, request);
        QFETCH(bool, answered);

        sim::SensorBus bus;
        bus.addSensor(1, 9600, SensorType::Voltage);
        QVERIFY(bus.open());
        Line line(bus.slavePath());
        QVERIFY(line.setBaud(lineBaud));
        QVERIFY(line.send(request));

        const QByteArray answer = line.answer();
        QCOMPARE(bus.received().size(), 1);
        QCOMPARE(bus.received().first().bytes, request);
        QCOMPARE(bus.received().first().baud, lineBaud);
        if (answered) {
            const QByteArray param = blockBytes(bus.sensor(1).param);
            QCOMPARE(answer, sealed(QByteArray::fromHex("010308") + param.left(8)));
            QCOMPARE(bus.sensor(1).param.sensorType, quint16(2));
        } else {
            QVERIFY(answer.isEmpty());
        }
    }

    void framing()
    {
        sim::SensorBus bus;
        bus.addSensor(1, 9600, SensorType::Voltage);
        QVERIFY(bus.open());
        Line line(bus.slavePath());
        QVERIFY(line.setBaud(9600));
        const QByteArray speedAnswer = sealed(QByteArray::fromHex("0103026000"));

        // Two frames in one write are two requests.
        QVERIFY(line.send(readRequest(1, 0x0100, 1) + readRequest(1, 0x0100, 1)));
        QCOMPARE(line.answer(), speedAnswer + speedAnswer);

        // A frame too short for its function is dropped once the line falls silent, even
        // with a CRC that fits; the next one counts.
        const QByteArray unfinished = sealed(QByteArray::fromHex("0103"));
        QVERIFY(line.send(unfinished));
        QVERIFY(bus.waitForReceived(3, 1000));
        QVERIFY(line.send(readRequest(1, 0x0100, 1)));
        QCOMPARE(line.answer(), speedAnswer);

        // A whole frame of a function the sensor does not know.
        QVERIFY(line.send(sealed(QByteArray::fromHex("0107"))));
        QCOMPARE(line.answer(), sealed(QByteArray::fromHex("018701")));

        const QList<sim::Received> received = bus.received();
        QCOMPARE(received.size(), 5);
        QCOMPARE(received[2].bytes, unfinished);
        QCOMPARE(received[3].bytes, readRequest(1, 0x0100, 1));
    }

    void settingsWrite()
    {
        sim::SensorBus bus;
        bus.addSensor(1, 9600, SensorType::Voltage);
        QVERIFY(bus.open());
        Line line(bus.slavePath());
        QVERIFY(line.setBaud(9600));

        UstBlock ust = bus.sensor(1).ust;
        ust.mbAddr = 5;
        ust.speed = 192;
        QVERIFY(line.send(settingsRequest(1, ust))); // checksum of the old block
        QCOMPARE(line.answer(), sealed(QByteArray::fromHex("01900b")));
        QCOMPARE(bus.sensor(1).ust.mbAddr, quint16(1));

        sealChecksum(ust);
        QVERIFY(line.send(settingsRequest(1, ust)));
        QCOMPARE(line.answer(), sealed(QByteArray::fromHex("011001000014")));
        QVERIFY(!bus.hasSensor(1));
        QCOMPARE(bus.sensor(5).baud, 19200);

        QVERIFY(line.send(readRequest(5, 0x0100, 20)));
        QVERIFY(line.answer().isEmpty());
        QVERIFY(line.setBaud(19200));
        QVERIFY(line.send(readRequest(5, 0x0100, 20)));
        QCOMPARE(line.answer(), sealed(QByteArray::fromHex("050328") + blockBytes(ust)));
    }

    void factoryQueue_data()
    {
        QTest::addColumn<int>("addr"); // where the settings write sends the first sensor
        QTest::addColumn<int>("baud");
        QTest::addColumn<bool>("handedOver");

        QTest::newRow("to another address") << 5 << 115200 << true;
        QTest::newRow("to another speed") << 1 << 9600 << true;
        QTest::newRow("staying, named") << 1 << 115200 << false;
    }

    void factoryQueue()
    {
        QFETCH(int, addr);
        QFETCH(int, baud);
        QFETCH(bool, handedOver);

        sim::SensorBus bus;
        bus.queueFactorySensors(2);
        QCOMPARE(bus.factorySensorsWaiting(), 1);
        QVERIFY(bus.open());
        Line line(bus.slavePath());
        QVERIFY(line.setBaud(115200));

        // A voltage sensor whose nominal point is a few potentiometer steps of 10 away.
        QCOMPARE(bus.sensor(1).param.sensorType, quint16(2));
        QVERIFY(bus.sensor(1).param.adc < 1228.8);
        bus.updateSensor(1, [](sim::Sensor& s) { s.potent += 30; });
        QVERIFY(bus.sensor(1).param.adc > 1228.8 && bus.sensor(1).param.adc < 3891.2);

        const QByteArray factoryBlock = blockBytes(defaultUstBlock());
        QVERIFY(line.send(readRequest(1, 0x0100, 20)));
        QCOMPARE(line.answer(), sealed(QByteArray::fromHex("010328") + factoryBlock));

        UstBlock ust = defaultUstBlock();
        ust.mbAddr = quint16(addr);
        ust.speed = quint16(baud / 100);
        setNameText(ust, QStringLiteral("Ввод 1"));
        sealChecksum(ust);
        QVERIFY(line.send(settingsRequest(1, ust)));
        QCOMPARE(line.answer(), sealed(QByteArray::fromHex("011001000014")));

        // The sensor written to is found where it answers now, also when the next one took
        // its address at another speed.
        QCOMPARE(blockBytes(bus.sensor(quint8(addr)).ust), blockBytes(ust));
        QCOMPARE(bus.sensor(quint8(addr)).baud, baud);
        QCOMPARE(bus.factorySensorsWaiting(), handedOver ? 0 : 1);
        QVERIFY(line.send(readRequest(1, 0x0100, 20)));
        QCOMPARE(line.answer(), sealed(QByteArray::fromHex("010328") +
                                       (handedOver ? factoryBlock : blockBytes(ust))));
    }

    void lineLayout()
    {
        QSet<QPair<int, int>> pairings; // type, speed
        QSet<QList<qint64>> curves;     // type, period, phase within it
        for (int addr = 1; addr <= 31; ++addr) {
            const sim::Sensor sensor = sim::lineSensor(quint8(addr));
            QCOMPARE(int(sensor.addr), addr);
            QCOMPARE(int(sensor.ust.mbAddr), addr);
            QCOMPARE(sensor.ust.speed * 100, sensor.baud);
            QVERIFY(QList<int>({115200, 38400, 9600}).contains(sensor.baud));
            QVERIFY(sensorTypeOf(sensor.param) != SensorType::Undetermined);
            QVERIFY(sensor.drift.periodMs >= 60000);
            pairings.insert({sensor.param.sensorType, sensor.baud});
            // A short line is mixed already.
            if (addr == 6)
                QCOMPARE(pairings.size(), 6);
            curves.insert({sensor.param.sensorType, sensor.drift.periodMs,
                           sensor.drift.phaseMs % sensor.drift.periodMs});
        }
        // No two sensors of a type draw the same curve on a trend plot.
        QCOMPARE(curves.size(), 31);
    }

    void drift_data()
    {
        QTest::addColumn<int>("addr"); // of a line sensor

        QTest::newRow("voltage") << 1;
        QTest::newRow("temperature") << 2;
    }

    void drift()
    {
        QFETCH(int, addr);

        sim::Sensor sensor = sim::lineSensor(quint8(addr));
        const sim::Drift drift = sensor.drift;
        const bool voltage = sensorTypeOf(sensor.param) == SensorType::Voltage;

        // A period of simulated time, second by second.
        int lowest = INT_MAX, highest = INT_MIN, adcLowest = INT_MAX, adcHighest = INT_MIN;
        int measureBefore = 0, adcBefore = 0;
        for (qint64 t = 0; t <= drift.periodMs; t += 1000) {
            sim::applyDrift(sensor, t);
            const int measure = sensor.param.measure;
            const int adc = sensor.param.adc;
            QVERIFY(qAbs(measure - drift.measureMid) <= drift.measureSwing);
            // The ADC reading of a voltage sensor goes the way the voltage goes.
            if (voltage && t > 0)
                QVERIFY((measure - measureBefore) * (adc - adcBefore) >= 0);
            lowest = qMin(lowest, measure);
            highest = qMax(highest, measure);
            adcLowest = qMin(adcLowest, adc);
            adcHighest = qMax(adcHighest, adc);
            measureBefore = measure;
            adcBefore = adc;
        }
        QVERIFY(highest > drift.measureMid + drift.measureSwing / 2);
        QVERIFY(lowest < drift.measureMid - drift.measureSwing / 2);
        if (voltage)
            QVERIFY(adcHighest - adcLowest > drift.adcSwing);
    }

    void driftServedWithParameters()
    {
        // At its highest about now, so that a value served undrifted shows.
        sim::Sensor sensor = sim::lineSensor(1);
        sensor.drift.phaseMs = sensor.drift.periodMs / 4 - sim::nowMs() % sensor.drift.periodMs;
        sim::SensorBus bus;
        bus.addSensor(sensor);
        QVERIFY(bus.open());
        Line line(bus.slavePath());
        QVERIFY(line.setBaud(sensor.baud));

        QVERIFY(line.send(readRequest(1, regmap::paramAddr, regmap::paramCount)));
        ParamBlock param;
        copyFromAnswer(&param, sizeof param, line.answer());
        sim::applyDrift(sensor, bus.received().first().atMs);
        QCOMPARE(param.measure, sensor.param.measure);
        QCOMPARE(param.adc, sensor.param.adc);
    }

    void faults_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("wireTime");
        QTest::addColumn<QByteArray>("start"); // what the answer begins with
        QTest::addColumn<int>("size");         // its length
        QTest::addColumn<int>("writes");       // how many writes it takes
        QTest::addColumn<int>("minDelayMs");   // from the request to the first write
        QTest::addColumn<int>("minGapMs");     // between the writes

        // The sensor at 1200 Bd answers the read of its speed register with 01 03 02 0C 00.
        const QByteArray normal = sealed(QByteArray::fromHex("0103020c00"));
        auto row = [](const char* name, sim::Fault kind, int value) -> QTestData& {
            return QTest::newRow(name) << int(kind) << value;
        };
        row("none, wire time", sim::Fault::None, 0) << true << normal << 7 << 1 << 55 << 0;
        row("silence", sim::Fault::Silence, 0) << false << QByteArray() << 0 << 0 << 0 << 0;
        row("exception", sim::Fault::Exception, int(rtu::Exception::RegisterError))
            << false << sealed(QByteArray::fromHex("018304")) << 5 << 1 << 0 << 0;
        row("delay", sim::Fault::Delay, 80) << false << normal << 7 << 1 << 80 << 0;
        row("chunks", sim::Fault::Chunks, 60) << false << normal << 7 << 2 << 0 << 60;
        row("wrong address", sim::Fault::WrongAddress, 0)
            << false << sealed(QByteArray::fromHex("0203020c00")) << 7 << 1 << 0 << 0;
        row("wrong function", sim::Fault::WrongFunction, 4)
            << false << sealed(QByteArray::fromHex("0104020c00")) << 7 << 1 << 0 << 0;
        row("short", sim::Fault::Short, 2) << false << normal.left(5) << 5 << 1 << 0 << 0;
        row("long", sim::Fault::Long, 3) << false << normal << 10 << 1 << 0 << 0;
        row("garbage", sim::Fault::Garbage, 4) << false << QByteArray() << 4 << 1 << 0 << 0;
        // The CRC is left as the sensor sent it.
        row("bit flip", sim::Fault::BitFlip, 3)
            << false << QByteArray::fromHex("0103020d00") + normal.right(2) << 7 << 1 << 0 << 0;
    }

    void faults()
    {
        QFETCH(int, kind);
        QFETCH(int, value);
        QFETCH(bool, wireTime);
        QFETCH(QByteArray, start);
        QFETCH(int, size);
        QFETCH(int, writes);
        QFETCH(int, minDelayMs);
        QFETCH(int, minGapMs);

        sim::SensorBus bus;
        bus.addSensor(1, 1200, SensorType::Voltage);
        bus.setWireTime(wireTime);
        bus.setFault(1, rtu::Function::ReadRegisters, {sim::Fault(kind), value, 1});
        QVERIFY(bus.open());
        Line line(bus.slavePath());
        QVERIFY(line.setBaud(1200));

        QVERIFY(line.send(readRequest(1, 0x0100, 1)));
        const QByteArray answer = line.answer();
        QCOMPARE(answer.size(), size);
        QCOMPARE(answer.left(start.size()), start);

        const QList<sim::Sent> sent = bus.sent();
        QCOMPARE(sent.size(), writes);
        if (writes > 0)
            QVERIFY(sent.first().atMs - bus.received().first().atMs >= minDelayMs);
        if (writes > 1)
            QVERIFY(sent[1].atMs - sent[0].atMs >= minGapMs);

        // The fault was for one answer only.
        QVERIFY(line.send(readRequest(1, 0x0100, 1)));
        QCOMPARE(line.answer(), sealed(QByteArray::fromHex("0103020c00")));
    }

    // With the published framing a common Modbus master talks to the bus: CRC low byte first
    // both ways, and the settings write with its byte count.
    void standardFraming_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("answer"); // empty: none
        QTest::addColumn<int>("setpoint");      // the sensor's afterwards

        auto standard = [](QByteArray body) {
            QByteArray frame = sealed(body);
            std::swap(*(frame.end() - 2), *(frame.end() - 1));
            return frame;
        };
        const int factorySetpoint = defaultUstBlock().threshold;
        QTest::newRow("read") << standard(QByteArray::fromHex("010301000001"))
                              << standard(QByteArray::fromHex("0103020c00")) << factorySetpoint;
        QTest::newRow("read with the sensors' own CRC order")
            << readRequest(1, 0x0100, 1) << QByteArray() << factorySetpoint;
        UstBlock ust = defaultUstBlock();
        ust.speed = 12;
        ust.mbAddr = 1;
        ust.threshold = 123;
        sealChecksum(ust);
        QTest::newRow("settings write with its byte count")
            << standard(QByteArray::fromHex("011001000014") + char(40) + blockBytes(ust))
            << standard(QByteArray::fromHex("011001000014")) << 123;
    }

    void standardFraming()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, answer);
        QFETCH(int, setpoint);
        sim::SensorBus bus;
        bus.addSensor(1, 1200, SensorType::Voltage);
        bus.setStandardFraming(true);
        QVERIFY(bus.open());
        Line line(bus.slavePath());
        QVERIFY(line.setBaud(1200));

        QVERIFY(line.send(request));
        QCOMPARE(line.answer().toHex(), answer.toHex());
        QCOMPARE(int(bus.sensor(1).ust.threshold), setpoint);
    }

    // Each piece goes out once its last byte would have crossed the wire, the request's own
    // time on the wire counted first: not a fraction of a millisecond earlier.
    void answerAtItsWireTime()
    {
        sim::SensorBus bus;
        bus.addSensor(1, 9600, SensorType::Voltage);
        bus.setWireTime(true);
        bus.setRequestWireTime(true);
        QVERIFY(bus.open());
        Line line(bus.slavePath());
        QVERIFY(line.setBaud(9600));

        QElapsedTimer clock;
        clock.start();
        QVERIFY(line.send(readRequest(1, 0x0100, 1)));
        pollfd p{line.fd, POLLIN, 0};
        QCOMPARE(::poll(&p, 1, 1000), 1);
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        // 8 bytes of request, the sensor's 2 ms, 7 bytes of answer, ten bits each.
        const double wire = (8 + 7) * 10.0 * 1000.0 / 9600.0 + 2.0;
        QVERIFY2(ms >= wire && ms < wire + 30.0, qPrintable(QString::number(ms)));
    }

    void hangUpEndsTheLine()
    {
        sim::SensorBus bus;
        bus.addSensor(1, 9600, SensorType::Voltage);
        QVERIFY(bus.open());
        Line line(bus.slavePath());
        QVERIFY(line.setBaud(9600));

        bus.hangUp();
        pollfd p{line.fd, POLLIN, 0};
        QCOMPARE(::poll(&p, 1, 2000), 1);
        QVERIFY(p.revents & (POLLHUP | POLLERR | POLLIN));
        char byte;
        QVERIFY(::read(line.fd, &byte, 1) <= 0);

        // Nothing more reaches the bus, and its thread sleeps rather than spins.
        bus.writeRaw("x");
        const qint64 cpuBefore = processCpuMs();
        QVERIFY(!bus.waitForReceived(1, 300));
        QVERIFY(processCpuMs() - cpuBefore < 100);
        QVERIFY(bus.sent().isEmpty());
    }
};

QTEST_APPLESS_MAIN(TestSensorBus)

#include "tst_sensorbus.moc"
