// The operations through the core library alone, against the simulated bus, with a scripted
// host in place of the window.
#include "ops/operations.h"
#include "sim/sensorbus.h"
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
};

QString writeImage(const QTemporaryDir& dir, int size)
{
    const QString path = dir.filePath(QStringLiteral("image.bin"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(QByteArray(size, 'x'));
    return path;
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
        QTest::newRow("address change")
            << QStringLiteral("address") << QList<quint8>{0x03, 0x03, 0x03};
        QTest::newRow("reset") << QStringLiteral("reset") << QList<quint8>{};
        QTest::newRow("flash") << QStringLiteral("flash") << QList<quint8>{};
    }

    void declinedConfirmationSendsNothing()
    {
        QFETCH(QString, operation);
        QFETCH(QList<quint8>, sent);
        Fixture f;
        f.bus.addSensor(1, 9600, 2);
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
        f.bus.addSensor(1, 9600, 2);
        DeviceVEL_DUO300* dev = f.readSensor(1, 9600);
        UstForm form;
        form.name = QStringLiteral("Ввод 1");
        form.speed = speed;
        form.speedLabel = QStringLiteral("Скорость");
        form.threshold = QStringLiteral("100");

        const ops::Result result = ops::WriteSettings(f.line, f.host).run(dev, form);

        QCOMPARE(result.kind == ops::Result::Refused, refused);
        QCOMPARE(f.bus.received().size(), refused ? 0 : 1);
        if (refused)
            QVERIFY2(result.text.contains(QStringLiteral("«Скорость»")), qPrintable(result.text));
        else
            QCOMPARE(dev->baudrate, speed);
    }

    void searchCancelledBetweenProbes()
    {
        Fixture f;
        f.bus.addSensor(1, 38400, 2);
        f.bus.addSensor(2, 9600, 1);
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
            f.bus.addSensor(quint8(addr), 115200, addr % 2 ? 1 : 2);
            addrs << QString::number(addr);
        }
        f.bus.setFault(17, 0, {sim::Fault::Silence, 0, -1});
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

    void portLostDuringUploadEndsAsFailed()
    {
        Fixture f(115200);
        f.bus.addSensor(1, 115200, 2);
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
