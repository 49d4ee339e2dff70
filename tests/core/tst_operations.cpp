// The operations through the core library alone, against the simulated bus, with a scripted
// host in place of the window.
#include "core/ops/lineops.h"
#include "core/ops/operations.h"
#include "sim/sensorbus.h"
#include "sim/sensorlogic.h"
#include "support/scriptedhost.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A bus, a line open on it at one speed, and a host.
struct Fixture
{
    sim::SensorBus bus;
    LineClient line;
    ScriptedHost host;
    SensorRegistry registry;

    explicit Fixture(int baud = 9600)
    {
        if (!bus.open())
            qFatal("no simulated bus");
        line.reopen(bus.slavePath(), baud);
    }

    // A record of a sensor on the bus whose settings were read.
    DeviceVEL_DUO300* readSensor(int addr, int baud)
    {
        const int row = ops::AddSensor(line, host, registry).run(addr, baud);
        bus.clearLog();
        return &registry[row];
    }

    QList<quint8> functions() const
    {
        QList<quint8> codes;
        for (const sim::Received& r : bus.received())
            codes << quint8(r.bytes.at(1));
        return codes;
    }

    // Reads of the settings block since the last clearLog().
    int settingsReads() const
    {
        int reads = 0;
        for (const sim::Received& r : bus.received())
            reads += r.bytes.size() > 4 &&
                     quint8(r.bytes.at(1)) == rtu::code(rtu::Function::ReadRegisters) &&
                     r.bytes.mid(2, 2) == QByteArray::fromHex("0100");
        return reads;
    }

    // The name of whoever answers at addr at this speed; empty when nobody does.
    QString nameAt(int addr, int baud)
    {
        line.reopen(bus.slavePath(), baud);
        const Reply reply = line.read(quint8(addr), regmap::ustAddr, regmap::ustCount, 1);
        if (!reply.ok())
            return QString();
        UstBlock ust;
        copyFromAnswer(&ust, int(sizeof ust), reply.answer);
        return nameText(ust);
    }
};

// An image as a build makes it: its last word, where the checksum goes, left blank.
QString writeImage(const QTemporaryDir& dir, int size)
{
    const QString path = dir.filePath(QStringLiteral("image.bin"));
    QByteArray bytes(size, 'x');
    if (size > firmware::checksumOffset)
        bytes.replace(firmware::checksumOffset, size - firmware::checksumOffset,
                      QByteArray(size - firmware::checksumOffset, char(0xFF)));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return path;
}

sim::Sensor named(quint8 addr, int baud, const QString& name)
{
    sim::Sensor sensor = sim::makeSensor(addr, baud, SensorType::Voltage);
    setNameText(sensor.ust, name);
    sealChecksum(sensor.ust);
    return sensor;
}

// A settings answer of the sensor at addr holding this name.
QByteArray settingsAnswer(quint8 addr, const QString& name)
{
    UstBlock ust = defaultUstBlock();
    setNameText(ust, name);
    sealChecksum(ust);
    QByteArray answer;
    answer.append(char(addr)).append('\x03').append(char(sizeof ust));
    return answer + blockBytes(ust) + QByteArray(2, '\0');
}

// What a write built from a read block does with the record.
enum class Write
{
    Address,
    Settings,
    Zero,
    Nominal,
    Flash,
    Restore,
};

ops::Result runWrite(Fixture& f, Write write, DeviceVEL_DUO300* dev, const QTemporaryDir& dir)
{
    UstForm form;
    form.name = QStringLiteral("Ввод 1");
    form.speed = dev->baudrate;
    form.threshold = QStringLiteral("100");
    linefile::Sensor entry;
    entry.address = 6;
    entry.speed = dev->baudrate;
    entry.name = QStringLiteral("Ввод 6");
    entry.setpoint = 60;
    switch (write) {
    case Write::Address:
        return ops::ChangeAddress(f.line, f.host).run(dev, 7);
    case Write::Settings:
        return ops::WriteSettings(f.line, f.host).run(dev, form);
    case Write::Zero:
        return ops::CalibrateZero(f.line, f.host).run(dev);
    case Write::Nominal:
        return ops::CalibrateNominal(f.line, f.host).run(dev);
    case Write::Flash:
        f.host.answers[QStringLiteral("flash")] = ops::Yes;
        return ops::Reprogram(f.line, f.host).run(dev, writeImage(dir, 1000));
    case Write::Restore:
        break;
    }
    return ops::RestoreSensor(f.line, f.host).run(dev, entry, false);
}

} // namespace

class TestOperations : public QObject
{
    Q_OBJECT

private slots:
    void declinedConfirmationSendsNothing_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QList<quint8>>("sent"); // function codes after the confirmation

        // The address change asks only after its probe of the new address: three attempts.
        QTest::newRow("address change") << QStringLiteral("address")
                                        << QList<quint8>{rtu::code(rtu::Function::ReadRegisters),
                                                         rtu::code(rtu::Function::ReadRegisters),
                                                         rtu::code(rtu::Function::ReadRegisters)};
        QTest::newRow("reset") << QStringLiteral("reset") << QList<quint8>{};
        QTest::newRow("flash") << QStringLiteral("flash") << QList<quint8>{};
    }

    void declinedConfirmationSendsNothing()
    {
        QFETCH(QString, operation);
        QFETCH(QList<quint8>, sent);
        Fixture f;
        f.bus.addSensor(1, 9600, SensorType::Voltage);
        DeviceVEL_DUO300* dev = f.readSensor(1, 9600);
        QTemporaryDir dir;
        f.host.answers[operation] = operation == QLatin1String("flash") ? ops::No : ops::Cancel;

        ops::Result result;
        if (operation == QLatin1String("address"))
            result = ops::ChangeAddress(f.line, f.host).run(dev, 7);
        else if (operation == QLatin1String("reset"))
            result = ops::ResetSettings(f.line, f.host).run(dev);
        else
            result = ops::Reprogram(f.line, f.host).run(dev, writeImage(dir, 100));

        QCOMPARE(int(result.kind), int(ops::Result::Declined));
        QCOMPARE(f.host.asked.size(), 1);
        QCOMPARE(f.host.asked.first().id, operation);
        QCOMPARE(f.host.commits, 0);
        QCOMPARE(f.functions(), sent);
        QCOMPARE(dev->addr, 1);
    }

    void writeWithUnlistedSpeedIsRefusedBeforeTheWire_data()
    {
        QTest::addColumn<int>("speed");
        QTest::addColumn<bool>("refused");
        QTest::newRow("12345 Bd") << 12345 << true;
        QTest::newRow("0: none chosen") << 0 << true;
        QTest::newRow("19200 Bd") << 19200 << false;
    }

    void writeWithUnlistedSpeedIsRefusedBeforeTheWire()
    {
        QFETCH(int, speed);
        QFETCH(bool, refused);
        Fixture f;
        f.bus.addSensor(1, 9600, SensorType::Voltage);
        DeviceVEL_DUO300* dev = f.readSensor(1, 9600);
        UstForm form;
        form.name = QStringLiteral("Ввод 1");
        form.speed = speed;
        form.speedLabel = QStringLiteral("Скорость");
        form.threshold = QStringLiteral("100");

        const ops::Result result = ops::WriteSettings(f.line, f.host).run(dev, form);

        QCOMPARE(result.kind == ops::Result::Refused, refused);
        if (refused) {
            QVERIFY(f.bus.received().isEmpty());
            QVERIFY2(result.text.contains(QStringLiteral("«Скорость»")), qPrintable(result.text));
        } else {
            // The new speed probed first, then the one write.
            QCOMPARE(f.functions(), (QList<quint8>{rtu::code(rtu::Function::ReadRegisters),
                                                   rtu::code(rtu::Function::ReadRegisters),
                                                   rtu::code(rtu::Function::ReadRegisters),
                                                   rtu::code(rtu::Function::WriteRegisters)}));
            QCOMPARE(f.bus.received().first().baud, speed);
            QCOMPARE(dev->baudrate, speed);
        }
    }

    void searchCancelledBetweenProbes()
    {
        Fixture f;
        f.bus.addSensor(1, 38400, SensorType::Voltage);
        f.bus.addSensor(2, 9600, SensorType::Temperature);
        // Cancel comes while the third address at the first speed is probed.
        f.host.onProgress = [&](int value, int) {
            if (value == 3)
                f.host.cancel = true;
        };
        ops::SearchLine search(f.line, f.host, f.registry);

        const ops::Result result = search.run(
            f.bus.slavePath(), {QStringLiteral("38400"), QStringLiteral("9600")},
            {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4")});

        QCOMPARE(int(result.kind), int(ops::Result::Cancelled));
        QCOMPARE(f.registry.size(), 1);
        QCOMPARE(f.registry[0].addr, 1);
        QCOMPARE(f.registry[0].baudrate, 38400);
        QVERIFY(!f.registry[0].commError);
        for (const sim::Received& r : f.bus.received())
            QCOMPARE(r.baud, 38400);
        // The progress ends where the search stopped.
        QCOMPARE(f.host.steps.last(), qMakePair(3, 3));
    }

    void searchOfALineWithOneSilentSensor()
    {
        Fixture f;
        QStringList addrs;
        for (int addr = 1; addr <= 31; ++addr) {
            f.bus.addSensor(quint8(addr), 115200,
                            addr % 2 ? SensorType::Temperature : SensorType::Voltage);
            addrs << QString::number(addr);
        }
        f.bus.setFault(17, sim::everyFunction, {sim::Fault::Silence, 0, -1});
        ops::SearchLine search(f.line, f.host, f.registry);

        const ops::Result result = search.run(f.bus.slavePath(), {QStringLiteral("115200")}, addrs);

        QVERIFY(result.done());
        QCOMPARE(f.registry.size(), 30);
        QCOMPARE(search.found.size(), 30);
        for (int row = 0; row < f.registry.size(); ++row) {
            const int addr = row < 16 ? row + 1 : row + 2;
            QCOMPARE(f.registry[row].addr, addr);
            QVERIFY(f.registry[row].ustRead);
            QCOMPARE(int(f.registry[row].ust.mbAddr), addr);
        }
        QCOMPARE(f.host.steps.last(), qMakePair(31, 31));
    }

    // What the line tells whoever shows the sensors: each exchange's outcome once, after the
    // record took it, and a change of whether the sensor answers as its loader does.
    void notices_data()
    {
        QTest::addColumn<QList<int>>("errors"); // of the settings reads in turn
        QTest::addColumn<int>("loaderChanges");
        QTest::newRow("answers") << QList<int>{0, 0} << 0;
        QTest::newRow("nonexistent command, then answers") << QList<int>{1, 0} << 2;
        QTest::newRow("nonexistent command twice") << QList<int>{1, 1} << 1;
        QTest::newRow("another exception") << QList<int>{4, 0} << 0;
        QTest::newRow("silent") << QList<int>{rtu::NoAnswer} << 0;
    }

    void notices()
    {
        QFETCH(QList<int>, errors);
        QFETCH(int, loaderChanges);
        Fixture f;
        f.bus.addSensor(1, 9600, SensorType::Voltage);
        DeviceVEL_DUO300* dev = f.readSensor(1, 9600);
        QList<int> outcomes;
        QList<bool> recorded; // the record's failure flag when its outcome was told
        int loaderNotices = 0;
        int settingsNotices = 0;
        QObject::connect(&f.line, &LineClient::outcome, [&](DeviceVEL_DUO300* told, int error) {
            QCOMPARE(told, dev);
            outcomes << error;
            recorded << told->commError;
        });
        QObject::connect(&f.line, &LineClient::loaderChanged,
                         [&](DeviceVEL_DUO300*) { ++loaderNotices; });
        QObject::connect(&f.line, &LineClient::settingsChanged,
                         [&](DeviceVEL_DUO300*) { ++settingsNotices; });

        for (const int error : errors) {
            f.bus.clearFaults();
            if (error == rtu::NoAnswer)
                f.bus.setFault(1, rtu::Function::ReadRegisters, {sim::Fault::Silence, 0, 1});
            else if (error != rtu::NoError)
                f.bus.setFault(1, rtu::Function::ReadRegisters, {sim::Fault::Exception, error, 1});
            ops::ReadSettings(f.line, f.host).run(dev, 1);
            QCOMPARE(dev->cmdRejected, error == rtu::UnknownCommand);
        }

        QCOMPARE(outcomes, errors);
        QList<bool> failed;
        for (const int error : errors)
            failed << (error != rtu::NoError);
        QCOMPARE(recorded, failed);
        QCOMPARE(loaderNotices, loaderChanges);
        QCOMPARE(settingsNotices, errors.size());
    }

    // The one decision every move of a sensor to another address or speed asks.
    void targetVerdict_data()
    {
        QTest::addColumn<int>("toAddress");
        QTest::addColumn<int>("toSpeed");
        QTest::addColumn<int>("error");    // the probe's outcome
        QTest::addColumn<QString>("name"); // in the answer, when it answered
        QTest::addColumn<bool>("portLost");
        QTest::addColumn<bool>("free");
        QTest::addColumn<QString>("says");

        const int none = ops::Probe::notProbed;
        const int silent = rtu::NoAnswer;
        // The sensor is at 3@9600.
        QTest::newRow("nothing moves, nothing probed")
            << 3 << 9600 << none << QString() << false << true << QString();
        QTest::newRow("new address, silent")
            << 5 << 9600 << silent << QString() << false << true << QString();
        QTest::newRow("new speed, silent")
            << 3 << 38400 << silent << QString() << false << true << QString();
        QTest::newRow("a sensor answers there")
            << 5 << 9600 << 0 << QStringLiteral("Ввод Б") << false << false
            << QStringLiteral("Адрес 5 на скорости 9600 уже занят: там отвечает датчик «Ввод Б»");
        QTest::newRow("a sensor without a name at the new speed")
            << 3 << 38400 << 0 << QString() << false << false
            << QStringLiteral("Адрес 3 на скорости 38400 уже занят: там отвечает датчик без "
                              "названия");
        QTest::newRow("a sensor in its loader")
            << 5 << 9600 << 1 << QString() << false << false << QStringLiteral("загрузчике");
        QTest::newRow("an exception")
            << 5 << 9600 << 4 << QString() << false << false << QStringLiteral("ошибка регистра");
        QTest::newRow("bytes that make no answer")
            << 5 << 9600 << int(rtu::WrongLength) << QString() << false << false
            << QStringLiteral("Неверная длина ответа");
        QTest::newRow("an answer from another address")
            << 5 << 9600 << int(rtu::WrongAddress) << QString() << false << false
            << QStringLiteral("Неверный ModBus адрес ответа");
        QTest::newRow("moved, never probed") << 5 << 9600 << none << QString() << false << false
                                             << QStringLiteral("Не удалось проверить");
        QTest::newRow("silent on a lost port") << 5 << 9600 << silent << QString() << true << false
                                               << QStringLiteral("порт недоступен");
        QTest::newRow("an answer, then the port lost")
            << 5 << 9600 << 0 << QStringLiteral("Ввод Б") << true << false
            << QStringLiteral("«Ввод Б»");
    }

    void targetVerdict()
    {
        QFETCH(int, toAddress);
        QFETCH(int, toSpeed);
        QFETCH(int, error);
        QFETCH(QString, name);
        QFETCH(bool, portLost);
        QFETCH(bool, free);
        QFETCH(QString, says);
        ops::Probe probe;
        probe.error = error;
        if (error == 0)
            probe.answer = settingsAnswer(quint8(toAddress), name);
        probe.portLost = portLost;

        const ops::TargetVerdict verdict = ops::judgeTarget({3, 9600}, {toAddress, toSpeed}, probe);

        QCOMPARE(verdict.free, free);
        if (free)
            QCOMPARE(verdict.text, QString());
        else
            QVERIFY2(verdict.text.contains(says) && verdict.text.endsWith("Ничего не записано."),
                     qPrintable(verdict.text));
    }

    // Every caller that moves a sensor, with another sensor where it would land: nothing is
    // written, the refusal names that sensor, and both still answer where they were.
    void moveOntoATakenPlace_data()
    {
        QTest::addColumn<int>("caller"); // 0 address change, 1 settings write, 2 restore, 3 reset
        QTest::addColumn<int>("fromAddress");
        QTest::addColumn<int>("fromSpeed");
        QTest::addColumn<int>("toAddress");
        QTest::addColumn<int>("toSpeed");

        QTest::newRow("address change") << 0 << 3 << 9600 << 5 << 9600;
        QTest::newRow("settings write with a new speed") << 1 << 3 << 9600 << 3 << 38400;
        QTest::newRow("restore to another speed") << 2 << 3 << 9600 << 3 << 19200;
        // Free at the sensor's own speed, taken at the entry's.
        QTest::newRow("restore to another address and speed") << 2 << 8 << 38400 << 1 << 115200;
        QTest::newRow("reset to the factory place") << 3 << 3 << 9600 << 1 << 115200;
    }

    void moveOntoATakenPlace()
    {
        QFETCH(int, caller);
        QFETCH(int, fromAddress);
        QFETCH(int, fromSpeed);
        QFETCH(int, toAddress);
        QFETCH(int, toSpeed);
        Fixture f(fromSpeed);
        f.bus.addSensor(named(quint8(fromAddress), fromSpeed, QStringLiteral("Ввод А")));
        f.bus.addSensor(named(quint8(toAddress), toSpeed, QStringLiteral("Ввод Б")));
        DeviceVEL_DUO300* dev = f.readSensor(fromAddress, fromSpeed);

        ops::Result result;
        if (caller == 0) {
            result = ops::ChangeAddress(f.line, f.host).run(dev, toAddress);
        } else if (caller == 1) {
            UstForm form;
            form.name = QStringLiteral("Ввод А");
            form.speed = toSpeed;
            form.threshold = QStringLiteral("100");
            result = ops::WriteSettings(f.line, f.host).run(dev, form);
        } else if (caller == 3) {
            result = ops::ResetSettings(f.line, f.host).run(dev);
        } else {
            linefile::Sensor entry;
            entry.address = toAddress;
            entry.speed = toSpeed;
            entry.name = QStringLiteral("Ввод В");
            entry.setpoint = 100;
            result = ops::RestoreSensor(f.line, f.host).run(dev, entry, false);
        }

        QCOMPARE(int(result.kind), int(ops::Result::Refused));
        QVERIFY2(result.text.contains(QStringLiteral("«Ввод Б»")), qPrintable(result.text));
        QVERIFY(!f.functions().contains(rtu::code(rtu::Function::WriteRegisters)));
        // Only the reset asks, and before anything is sent.
        QCOMPARE(f.host.asked.size(), caller == 3 ? 1 : 0);
        QCOMPARE(dev->addr, fromAddress);
        QCOMPARE(dev->baudrate, fromSpeed);
        QCOMPARE(f.nameAt(fromAddress, fromSpeed), QStringLiteral("Ввод А"));
        QCOMPARE(f.nameAt(toAddress, toSpeed), QStringLiteral("Ввод Б"));
    }

    // No write is built from a block that came damaged from every read: neither one whose
    // checksum does not match, nor one that names a speed or an address the sensor cannot have.
    void damagedBlockIsNotWrittenBack_data()
    {
        QTest::addColumn<int>("damage"); // 0 checksum, 1 speed, 2 address
        QTest::addColumn<int>("write");
        QTest::addColumn<QString>("says");

        const QString says[] = {QStringLiteral("контрольная сумма"),
                                QStringLiteral("скорость 9700"), QStringLiteral("адрес 37")};
        const char* damages[] = {"checksum", "speed", "address"};
        const std::pair<Write, const char*> writes[] = {
            {Write::Address, "address change"}, {Write::Settings, "settings write"},
            {Write::Zero, "zero point"},        {Write::Nominal, "nominal point"},
            {Write::Flash, "loader request"},   {Write::Restore, "restore"}};
        for (int damage = 0; damage < 3; ++damage)
            for (const auto& write : writes)
                QTest::addRow("%s, %s", damages[damage], write.second)
                    << damage << int(write.first) << says[damage];
    }

    void damagedBlockIsNotWrittenBack()
    {
        QFETCH(int, damage);
        QFETCH(int, write);
        QFETCH(QString, says);
        Fixture f;
        f.bus.addSensor(sim::factorySensor(SensorType::Voltage));
        f.bus.updateSensor(1, [damage](sim::Sensor& s) {
            s.baud = 9600;
            s.ust.speed = 96;
            sealChecksum(s.ust);
            if (damage == 0)
                s.ust.name[3] ^= 0x20;
            else if (damage == 1)
                s.ust.speed = 97;
            else
                s.ust.mbAddr = 37;
            if (damage != 0)
                sealChecksum(s.ust);
        });
        DeviceVEL_DUO300* dev = f.readSensor(1, 9600);
        QVERIFY(dev->ustRead && !dev->ustSound);
        const UstBlock stored = f.bus.sensor(1).ust;
        QTemporaryDir dir;

        const ops::Result result = runWrite(f, Write(write), dev, dir);

        QVERIFY(!result.done());
        QVERIFY2(result.text.contains(says), qPrintable(result.text));
        // Read again up to the usual attempts, then nothing more of the settings or the loader.
        QCOMPARE(f.settingsReads(), ops::usualAttempts);
        for (quint8 function : f.functions())
            QVERIFY2(function != rtu::code(rtu::Function::WriteRegisters) &&
                         function != rtu::code(rtu::Function::GoToLoader) &&
                         function != rtu::code(rtu::Function::ErasePages),
                     qPrintable(QString::number(function, 16)));
        QCOMPARE(blockBytes(f.bus.sensor(1).ust), blockBytes(stored));
        QVERIFY(!f.bus.sensor(1).inLoader);
    }

    // A block damaged on the way once is read again, and the write goes on with the sound one.
    void blockDamagedOnceIsReadAgain()
    {
        Fixture f;
        f.bus.addSensor(named(1, 9600, QStringLiteral("Ввод А")));
        // The first byte of the name, in the answer of the record's first read.
        f.bus.setFault(1, rtu::Function::ReadRegisters, {sim::Fault::BitFlip, 3 + 16, 1});
        DeviceVEL_DUO300* dev = f.readSensor(1, 9600);
        QVERIFY(!dev->ustSound);

        const ops::Result result = ops::ChangeAddress(f.line, f.host).run(dev, 7);

        QVERIFY2(result.done(), qPrintable(result.text));
        QCOMPARE(f.bus.sensor(7).ust.mbAddr, quint16(7));
        QCOMPARE(nameText(f.bus.sensor(7).ust), QStringLiteral("Ввод А"));
    }

    void portLostDuringUploadEndsAsFailed()
    {
        Fixture f(115200);
        f.bus.addSensor(1, 115200, SensorType::Voltage);
        DeviceVEL_DUO300* dev = f.readSensor(1, 115200);
        QTemporaryDir dir;
        f.host.answers[QStringLiteral("flash")] = ops::Yes;
        // The adapter is pulled out part-way through the chunks.
        f.host.onProgress = [&](int value, int) {
            if (value == 20)
                f.bus.hangUp();
        };
        QElapsedTimer clock;
        clock.start();

        const ops::Result result = ops::Reprogram(f.line, f.host).run(dev, writeImage(dir, 10240));

        QCOMPARE(int(result.kind), int(ops::Result::Failed));
        QCOMPARE(result.title, QStringLiteral("Ошибка"));
        QVERIFY(result.error != 0);
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
    }
};

QTEST_MAIN(TestOperations)
#include "tst_operations.moc"
