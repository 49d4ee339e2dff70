// The eight Modbus transactions against the simulated sensor bus: the exact request frames,
// the answer lengths they expect, retries, faults, a closed port and refused calls. Every
// call must end with exactly one packetReady.
#include "codec/blocks.h"
#include "codec/rtu.h"
#include "core/link/modbus.h"
#include "sim/sensorbus.h"

#include "support/referencecrc.h"
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSerialPort>

#include <QtTest>
#include <functional>

namespace {

// A transaction as a test row issues it; errCode is for mb_read, others ignore it.
using Call = std::function<void(ModBus&, int* errCode)>;
// Puts the sensor into the state the request needs (loader, loader request code).
using Setup = std::function<void(sim::Sensor&)>;

constexpr quint8 voltageAddr = 0x01;
constexpr quint8 thermoAddr = 0x22;
constexpr int lineBaud = 115200;

// The request as the sensors expect it: the CRC follows high-order byte first.
QByteArray withCrc(QByteArray body)
{
    const quint16 crc = bitwiseCrc(body);
    body.append(char(crc >> 8));
    body.append(char(crc & 0xFF));
    return body;
}

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

QByteArray rowName(const QByteArray& frame)
{
    if (frame.size() <= 12)
        return frame.toHex();
    return frame.left(6).toHex() + "..., " + QByteArray::number(frame.size()) + " bytes";
}

// A settings image that the sensor at addr accepts as it stands.
QByteArray settingsImage(quint8 addr)
{
    UstBlock ust = defaultUstBlock();
    ust.mbAddr = addr;
    ust.speed = quint16(lineBaud / 100);
    sealChecksum(ust);
    return blockBytes(ust);
}

QByteArray patterned(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i * 7 + 3);
    return bytes;
}

void enterLoader(sim::Sensor& sensor)
{
    sensor.inLoader = true;
}

bool isRequestPrefix(const QString& prefix)
{
    static const QRegularExpression format(
        QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d\\| << $"));
    return format.match(prefix).hasMatch();
}

struct Packet
{
    QByteArray answer;
    int error = -1;
};

// A bus with a voltage sensor and a temperature sensor, and a worker connected to it.
struct Line
{
    sim::SensorBus bus;
    ModBus worker;
    QList<Packet> packets;
    QStringList monitor;     // texts of print, in order
    QStringList badPrefixes; // print prefixes not in the request-line format

    Line()
    {
        worker.process_Port();
        QObject::connect(&worker, &ModBus::packetReady, &worker, [this](QByteArray pac, int error) {
            packets.append({pac, error});
        });
        QObject::connect(&worker, &ModBus::print, &worker, [this](QString prefix, QString text) {
            monitor.append(text);
            if (!isRequestPrefix(prefix))
                badPrefixes.append(prefix);
        });
    }

    bool start(QString* err)
    {
        if (!bus.open(err))
            return false;
        bus.addSensor(voltageAddr, lineBaud, SensorType::Voltage);
        bus.addSensor(thermoAddr, lineBaud, SensorType::Temperature);
        worker.Write_Settings_Port(bus.slavePath(), lineBaud, QSerialPort::Data8,
                                   QSerialPort::NoParity, QSerialPort::OneStop,
                                   QSerialPort::NoFlowControl);
        worker.ConnectPort();
        clearMonitor();
        *err = QStringLiteral("port not open");
        return worker.port->isOpen();
    }

    // Forgets the port's own lines ("Открыт!", "Закрыт!").
    void clearMonitor()
    {
        monitor.clear();
        badPrefixes.clear();
    }

    QList<QByteArray> requests() const
    {
        QList<QByteArray> list;
        for (const sim::Received& r : bus.received())
            list.append(r.bytes);
        return list;
    }

    QByteArray lastAnswerSent() const
    {
        const QList<sim::Sent> sent = bus.sent();
        return sent.isEmpty() ? QByteArray() : sent.last().bytes;
    }
};

} // namespace

Q_DECLARE_METATYPE(Call)
Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(sim::FaultSpec)

class TestTransactions : public QObject
{
    Q_OBJECT

private slots:
    void requestFrames_data()
    {
        QTest::addColumn<Call>("call");
        QTest::addColumn<quint8>("addr");
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("answerLength");
        QTest::addColumn<int>("errCode"); // -1: the call has no place to report it

        auto row = [](const QByteArray& request, Call call, quint8 addr, Setup setup,
                      int answerLength, int errCode = -1) {
            QTest::newRow(rowName(request).constData())
                << call << addr << setup << request << answerLength << errCode;
        };
        row(
            hex("0103010000143944"),
            [](ModBus& m, int* err) { m.mb_read(voltageAddr, 256, 20, 1, err); }, voltageAddr, {},
            45, 0);
        row(
            withCrc(hex("01030000000e")),
            [](ModBus& m, int*) { m.mb_read(voltageAddr, 0, 14, 1, nullptr); }, voltageAddr, {},
            33);
        row(
            withCrc(hex("010100000001")),
            [](ModBus& m, int*) { m.mb_readCoil(voltageAddr, 0, 1, 1); }, voltageAddr, {}, 6);
        // No byte-count byte: six header bytes, the 40 data bytes, the CRC: 48 in all.
        row(
            withCrc(hex("011001000014") + settingsImage(voltageAddr)),
            [](ModBus& m, int*) {
                m.mb_write(voltageAddr, 0x0100, 20, settingsImage(voltageAddr), 1);
            },
            voltageAddr, {}, 8);
        // 125 registers: the frame before the CRC is 256 bytes long and covered whole.
        row(
            withCrc(hex("22101400007d") + patterned(250)),
            [](ModBus& m, int*) { m.mb_write(thermoAddr, 0x1400, 125, patterned(250), 1); },
            thermoAddr, enterLoader, 8);
        row(
            withCrc(hex("2211050a")), [](ModBus& m, int*) { m.mb_erasePage(thermoAddr, 5, 10, 1); },
            thermoAddr, enterLoader, 6);
        row(
            hex("014000c011"), [](ModBus& m, int*) { m.mb_goToLoader(voltageAddr, 1); },
            voltageAddr,
            [](sim::Sensor& s) {
                s.ust.loaderCode = regmap::loaderRequest;
                sealChecksum(s.ust);
            },
            5);
        row(
            withCrc(hex("224100")), [](ModBus& m, int*) { m.mb_goToMainAppl(thermoAddr, 1); },
            thermoAddr, enterLoader, 5);
        row(
            withCrc(hex("015000")), [](ModBus& m, int*) { m.mb_readPotent(voltageAddr, 1); },
            voltageAddr, {}, 6);
        row(
            withCrc(hex("0151005a")),
            [](ModBus& m, int*) { m.mb_writePotent(voltageAddr, 0x5a, 1); }, voltageAddr, {}, 5);
    }

    void requestFrames()
    {
        QFETCH(Call, call);
        QFETCH(quint8, addr);
        QFETCH(Setup, setup);
        QFETCH(QByteArray, request);
        QFETCH(int, answerLength);
        QFETCH(int, errCode);
        Line line;
        QString err;
        QVERIFY2(line.start(&err), qPrintable(err));
        if (setup)
            line.bus.updateSensor(addr, setup);

        int reported = -1;
        call(line.worker, &reported);

        QCOMPARE(line.requests().size(), 1);
        QCOMPARE(line.requests().first().toHex(), request.toHex());
        QCOMPARE(line.monitor, QStringList{QString::fromLatin1(request.toHex())});
        QVERIFY2(line.badPrefixes.isEmpty(), qPrintable(line.badPrefixes.join('|')));
        QCOMPARE(line.packets.size(), 1);
        QCOMPARE(line.packets[0].error, 0);
        QCOMPARE(line.packets[0].answer.size(), answerLength);
        // The whole answer frame, exactly as it came off the line.
        QCOMPARE(line.packets[0].answer.toHex(), line.lastAnswerSent().toHex());
        QCOMPARE(reported, errCode);
    }

    void retries_data()
    {
        QTest::addColumn<Call>("call");
        QTest::addColumn<bool>("reportsErrCode");
        QTest::addColumn<quint8>("addr");
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<quint8>("function");
        QTest::addColumn<sim::FaultSpec>("fault");
        QTest::addColumn<int>("requests");
        QTest::addColumn<QStringList>("failures"); // monitor texts after failed attempts
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("answerLength");

        const Call readSettings3 = [](ModBus& m, int* err) {
            m.mb_read(voltageAddr, 0x0100, 20, 3, err);
        };
        const Call readParams = [](ModBus& m, int* err) { m.mb_read(voltageAddr, 0, 14, 2, err); };
        const QString checksumText =
            QStringLiteral("Устройство ответило: ошибка контрольной суммы");
        const QString lengthText = QStringLiteral("Неверная длина ответа");

        QTest::newRow("exception 2 on each of three attempts")
            << readSettings3 << true << voltageAddr << Setup()
            << rtu::code(rtu::Function::ReadRegisters)
            << sim::FaultSpec{sim::Fault::Exception, int(rtu::Exception::ChecksumError), -1} << 3
            << QStringList{checksumText, checksumText, checksumText} << int(rtu::ChecksumError)
            << 5;
        QTest::newRow("one byte short, retried")
            << readParams << true << voltageAddr << Setup()
            << rtu::code(rtu::Function::ReadRegisters) << sim::FaultSpec{sim::Fault::Short, 1, -1}
            << 2 << QStringList{lengthText, lengthText} << int(rtu::WrongLength) << 32;
        QTest::newRow("failed first attempt, second succeeds")
            << readParams << true << voltageAddr << Setup()
            << rtu::code(rtu::Function::ReadRegisters) << sim::FaultSpec{sim::Fault::Short, 1, 1}
            << 2 << QStringList{lengthText} << int(rtu::NoError) << 33;
        QTest::newRow("erase status FLASH_ERROR_WRP on each attempt")
            << Call([](ModBus& m, int*) { m.mb_erasePage(thermoAddr, 5, 10, 3); }) << false
            << thermoAddr << Setup(enterLoader) << rtu::code(rtu::Function::ErasePages)
            << sim::FaultSpec{sim::Fault::EraseStatus, int(rtu::FlashStatus::ErrorWrp), -1} << 3
            << QStringList{"FLASH_ERROR_WRP", "FLASH_ERROR_WRP", "FLASH_ERROR_WRP"}
            << int(rtu::FlashWriteProtected) << 6;
    }

    void retries()
    {
        QFETCH(Call, call);
        QFETCH(bool, reportsErrCode);
        QFETCH(quint8, addr);
        QFETCH(Setup, setup);
        QFETCH(quint8, function);
        QFETCH(sim::FaultSpec, fault);
        QFETCH(int, requests);
        QFETCH(QStringList, failures);
        QFETCH(int, error);
        QFETCH(int, answerLength);
        Line line;
        QString err;
        QVERIFY2(line.start(&err), qPrintable(err));
        if (setup)
            line.bus.updateSensor(addr, setup);
        line.bus.setFault(addr, function, fault);

        int errCode = -1;
        call(line.worker, &errCode);

        // Every attempt sends the identical frame.
        const QList<QByteArray> sent = line.requests();
        QCOMPARE(sent.size(), requests);
        for (const QByteArray& request : sent)
            QCOMPARE(request.toHex(), sent.first().toHex());
        QStringList expectedMonitor;
        for (int i = 0; i < requests; ++i) {
            expectedMonitor.append(QString::fromLatin1(sent.first().toHex()));
            if (i < failures.size())
                expectedMonitor.append(failures[i]);
        }
        QCOMPARE(line.monitor, expectedMonitor);
        QVERIFY2(line.badPrefixes.isEmpty(), qPrintable(line.badPrefixes.join('|')));

        QCOMPARE(line.packets.size(), 1);
        QCOMPARE(line.packets[0].error, error);
        QCOMPARE(line.packets[0].answer.size(), answerLength);
        QCOMPARE(line.packets[0].answer.toHex(), line.lastAnswerSent().toHex());
        if (reportsErrCode)
            QCOMPARE(errCode, error);
    }

    void closedPortFailsAtOnce()
    {
        Line line;
        QString err;
        QVERIFY2(line.start(&err), qPrintable(err));
        line.worker.DisconnectPort();
        line.clearMonitor();

        QElapsedTimer timer;
        timer.start();
        int errCode = -1;
        line.worker.mb_read(voltageAddr, 0, 14, 3, &errCode);
        const qint64 took = timer.elapsed();

        // No request is shown as sent: only the outcome of each attempt.
        const QString noAnswer = QStringLiteral("Нет ответа");
        QCOMPARE(line.monitor, (QStringList{noAnswer, noAnswer, noAnswer}));
        QVERIFY2(line.badPrefixes.isEmpty(), qPrintable(line.badPrefixes.join('|')));
        QVERIFY2(took < 200, qPrintable(QString::number(took)));
        QCOMPARE(line.packets.size(), 1);
        QVERIFY(line.packets[0].answer.isEmpty());
        QCOMPARE(line.packets[0].error, 6);
        QCOMPARE(errCode, 6);
        QVERIFY(line.requests().isEmpty());
    }

    void refusedCalls_data()
    {
        QTest::addColumn<Call>("call");
        QTest::addColumn<int>("monitorLines");
        QTest::addColumn<int>("error");
        QTest::newRow("read with no attempts")
            << Call([](ModBus& m, int* err) { m.mb_read(voltageAddr, 0, 14, 0, err); }) << 0 << 6;
        QTest::newRow("negative attempts")
            << Call([](ModBus& m, int*) { m.mb_goToMainAppl(voltageAddr, -1); }) << 0 << 6;
        QTest::newRow("write data one byte short") << Call([](ModBus& m, int*) {
            m.mb_write(voltageAddr, 0x0100, 20, settingsImage(voltageAddr).left(39), 3);
        }) << 1 << 5;
        QTest::newRow("write without data")
            << Call([](ModBus& m, int*) { m.mb_write(voltageAddr, 0x0100, 1, QByteArray(), 1); })
            << 1 << 5;
    }

    void refusedCalls()
    {
        QFETCH(Call, call);
        QFETCH(int, monitorLines);
        QFETCH(int, error);
        Line line;
        QString err;
        QVERIFY2(line.start(&err), qPrintable(err));

        int errCode = -1;
        call(line.worker, &errCode);
        QCOMPARE(line.packets.size(), 1);
        QVERIFY(line.packets[0].answer.isEmpty());
        QCOMPARE(line.packets[0].error, error);
        QCOMPARE(line.monitor.size(), monitorLines);
        if (monitorLines > 0)
            QVERIFY(!line.monitor.first().isEmpty());

        // Nothing went out: the next request is the first the bus sees.
        line.worker.mb_readPotent(voltageAddr, 1);
        QCOMPARE(line.packets.size(), 2);
        QCOMPARE(line.packets[1].error, 0);
        QCOMPARE(line.requests(), QList<QByteArray>{withCrc(hex("015000"))});
    }
};

QTEST_GUILESS_MAIN(TestTransactions)
#include "tst_transactions.moc"
