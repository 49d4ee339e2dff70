// What putting a line file's entry onto a sensor changes and writes, which entries cannot be
// put at all, and how a comparison names what differs.
#include "core/ops/lineops.h"

#include <QtTest>

namespace {

// The entry of a sensor read at 5@9600.
linefile::Sensor entry()
{
    linefile::Sensor s;
    s.address = 5;
    s.speed = 9600;
    s.name = QStringLiteral("Шина Б");
    s.setpoint = 120;
    s.zeroAdc = 2000;
    s.nomAdc = 3900;
    s.version = QStringLiteral("VEL-1.0.2");
    return s;
}

// A sensor with the factory settings, its own calibration, and a reserved word of its own.
DeviceVEL_DUO300 factorySensor()
{
    DeviceVEL_DUO300 dev{};
    dev.ust = defaultUstBlock();
    dev.ust.zeroAdc = 1500;
    dev.ust.nomAdc = 3500;
    dev.ust.reserved[1] = 0xBEEF;
    sealChecksum(dev.ust);
    dev.addr = dev.ust.mbAddr;
    dev.baudrate = dev.ust.speed * 100;
    dev.ustRead = true;
    return dev;
}

// The entry's sensor as it would read back.
DeviceVEL_DUO300 entrySensor()
{
    DeviceVEL_DUO300 dev = factorySensor();
    dev.ust = ops::restoredBlock(dev.ust, entry(), true);
    dev.addr = 5;
    dev.baudrate = 9600;
    return dev;
}

QStringList rows(const QVector<ops::Change>& changes)
{
    QStringList list;
    for (const ops::Change& c : changes)
        list << c.field + ": " + c.now + " -> " + c.after;
    return list;
}

} // namespace

Q_DECLARE_METATYPE(DeviceVEL_DUO300)
Q_DECLARE_METATYPE(linefile::Sensor)

class TestLineOps : public QObject
{
    Q_OBJECT

private slots:
    void restoreChanges_data()
    {
        QTest::addColumn<DeviceVEL_DUO300>("now");
        QTest::addColumn<bool>("calibration");
        QTest::addColumn<QStringList>("expected");

        const QStringList settings{"Адрес: 1 -> 5", "Скорость: 115200 -> 9600",
                                   "Название:  -> Шина Б", "Уставка: 100 -> 120"};
        QTest::newRow("factory sensor, calibration kept") << factorySensor() << false << settings;
        QTest::newRow("factory sensor, calibration too")
            << factorySensor() << true
            << settings + QStringList{"Точка нуля (АЦП): 1500 -> 2000",
                                      "Номинальная точка (АЦП): 3500 -> 3900"};
        QTest::newRow("sensor holds the entry") << entrySensor() << true << QStringList();
        DeviceVEL_DUO300 otherPoints = entrySensor();
        otherPoints.ust.nomAdc = 3000;
        QTest::newRow("other points, calibration kept") << otherPoints << false << QStringList();
        QTest::newRow("other points, calibration too")
            << otherPoints << true << QStringList{"Номинальная точка (АЦП): 3000 -> 3900"};
    }

    void restoreChanges()
    {
        QFETCH(DeviceVEL_DUO300, now);
        QFETCH(bool, calibration);
        QFETCH(QStringList, expected);
        QCOMPARE(rows(ops::restoreChanges(entry(), now, calibration)), expected);
    }

    void restoredBlock_data()
    {
        QTest::addColumn<bool>("calibration");
        QTest::addColumn<int>("zeroAdc");
        QTest::addColumn<int>("nomAdc");
        QTest::newRow("calibration kept") << false << 1500 << 3500;
        QTest::newRow("calibration too") << true << 2000 << 3900;
    }

    void restoredBlock()
    {
        QFETCH(bool, calibration);
        QFETCH(int, zeroAdc);
        QFETCH(int, nomAdc);
        const UstBlock now = factorySensor().ust;
        const UstBlock block = ops::restoredBlock(now, entry(), calibration);
        QCOMPARE(nameText(block), QStringLiteral("Шина Б"));
        QCOMPARE(int(block.speed), 96);
        QCOMPARE(int(block.threshold), 120);
        QCOMPARE(int(block.zeroAdc), zeroAdc);
        QCOMPARE(int(block.nomAdc), nomAdc);
        // The address goes in the same write; the words not interpreted are the sensor's own.
        QCOMPARE(int(block.mbAddr), 5);
        QCOMPARE(int(block.reserved[1]), 0xBEEF);
        QCOMPARE(block.checksum, ustChecksum(block));
    }

    void restoreRefusal_data()
    {
        QTest::addColumn<linefile::Sensor>("sensor");
        QTest::addColumn<QString>("fragment"); // empty: the entry can be put onto a sensor

        QTest::newRow("read entry") << entry() << QString();
        linefile::Sensor silent;
        silent.address = 3;
        silent.speed = 38400;
        silent.answered = false;
        QTest::newRow("not read") << silent << QStringLiteral("3@38400 не был считан");
        linefile::Sensor far = entry();
        far.address = 40;
        QTest::newRow("address the change does not write")
            << far << QStringLiteral("Адрес 40 вне диапазона от 1 до 31");
        linefile::Sensor odd = entry();
        odd.speed = 1234;
        QTest::newRow("unlisted speed") << odd << QStringLiteral("«Скорость»");
        linefile::Sensor high = entry();
        high.setpoint = 30001;
        QTest::newRow("setpoint the sensor refuses") << high << QStringLiteral("«Уставка»");
    }

    void restoreRefusal()
    {
        QFETCH(linefile::Sensor, sensor);
        QFETCH(QString, fragment);
        const QString refusal = ops::restoreRefusal(sensor);
        if (fragment.isEmpty())
            QCOMPARE(refusal, QString());
        else
            QVERIFY2(refusal.contains(fragment), qPrintable(refusal));
    }

    void matchingEntry_data()
    {
        QTest::addColumn<QVector<linefile::Sensor>>("entries");
        QTest::addColumn<int>("address"); // of the selected sensor, read at 38400 as "Шина Б"
        QTest::addColumn<int>("matched");

        linefile::Sensor first = entry();
        first.address = 1;
        first.speed = 115200;
        first.name = QStringLiteral("Ввод 1");
        linefile::Sensor eighth = entry();
        eighth.address = 8;
        eighth.speed = 38400;
        eighth.name = QStringLiteral("Ввод 8");
        linefile::Sensor sameAddress = eighth;
        sameAddress.speed = 9600;
        sameAddress.name = QStringLiteral("Ввод 8 (9600)");
        linefile::Sensor named = entry();
        named.address = 12;
        linefile::Sensor unread;
        unread.address = 8;
        unread.speed = 38400;
        unread.answered = false;

        QTest::newRow("address and speed, not the first entry")
            << QVector<linefile::Sensor>{first, sameAddress, eighth, named} << 8 << 2;
        QTest::newRow("the name when nothing stands at its place")
            << QVector<linefile::Sensor>{first, named} << 8 << 1;
        QTest::newRow("the same address at another speed is not it")
            << QVector<linefile::Sensor>{first, sameAddress} << 8 << -1;
        QTest::newRow("a name two entries share names none")
            << QVector<linefile::Sensor>{named, first, named} << 8 << -1;
        // Not read when the file was saved: it cannot be put, so the name decides.
        QTest::newRow("its place holds an entry without settings")
            << QVector<linefile::Sensor>{unread, named} << 8 << 1;
        QTest::newRow("an empty file") << QVector<linefile::Sensor>() << 8 << -1;
    }

    void matchingEntry()
    {
        QFETCH(QVector<linefile::Sensor>, entries);
        QFETCH(int, address);
        QFETCH(int, matched);
        DeviceVEL_DUO300 now = factorySensor();
        setNameText(now.ust, QStringLiteral("Шина Б"));
        now.addr = address;
        now.baudrate = 38400;
        QCOMPARE(ops::matchingEntry(entries, now), matched);
    }

    void compareRows_data()
    {
        QTest::addColumn<linefile::Sensor>("now");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("all agree") << entry() << QStringList();
        linefile::Sensor renamed = entry();
        renamed.name = QStringLiteral("Шина В");
        QTest::newRow("one field")
            << renamed << QStringList{"5@9600 «Шина Б» | Название | Шина Б | Шина В"};
        linefile::Sensor silent;
        silent.address = 5;
        silent.speed = 9600;
        silent.answered = false;
        QTest::newRow("silent sensor is one row")
            << silent << QStringList{"5@9600 «Шина Б» | Ответ | считан | не ответил"};
    }

    void compareRows()
    {
        QFETCH(linefile::Sensor, now);
        QFETCH(QStringList, expected);
        linefile::Line file, read;
        file.sensors = {entry()};
        read.sensors = {now};
        QStringList shown;
        for (const ops::CompareRow& row : ops::compareRows(file, read))
            shown << QStringList{row.sensor, row.field, row.inFile, row.onSensor}.join(" | ");
        QCOMPARE(shown, expected);
    }
};

QTEST_APPLESS_MAIN(TestLineOps)
#include "tst_lineops.moc"
