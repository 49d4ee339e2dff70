// The commissioning report's content, from a line file and what its sensors answered.
#include "codec/rtu.h"
#include "codec/sensortype.h"
#include "core/ops/linereport.h"

#include <QtTest>
#include <cstring>

namespace {

using linereport::Reading;

DeviceVEL_DUO300 sensor(int address, int speed, SensorType type)
{
    DeviceVEL_DUO300 dev{};
    dev.addr = address;
    dev.baudrate = speed;
    dev.ust = defaultUstBlock();
    dev.ust.mbAddr = quint16(address);
    dev.ust.threshold = 100;
    dev.ust.zeroAdc = 1024;
    dev.ust.nomAdc = 3344;
    setNameText(dev.ust, QStringLiteral("Ввод 1 секции АБ"));
    sealChecksum(dev.ust);
    dev.param.sensorType = quint16(type);
    dev.param.measure = type == SensorType::Temperature ? 2487 : 10006;
    dev.param.adc = 2989;
    dev.param.workTime = 2 * 3600 + 5 * 60 + 7;
    std::memcpy(dev.param.version, "VEL-1.0.2", 9);
    dev.coil[0] = 1;
    return dev;
}

Reading answered(const DeviceVEL_DUO300& dev)
{
    Reading reading;
    reading.state = Reading::Answered;
    reading.dev = dev;
    return reading;
}

linefile::Sensor saved(const DeviceVEL_DUO300& dev)
{
    return linefile::fromBlocks(dev.addr, dev.baudrate, dev.ust, dev.param,
                                QDateTime(QDate(2025, 1, 31), QTime(11, 5), Qt::UTC));
}

linefile::Sensor planEntry(int address, int speed, const QString& name, int setpoint)
{
    linefile::Sensor entry;
    entry.address = address;
    entry.speed = speed;
    entry.name = name;
    entry.setpoint = setpoint;
    return entry;
}

} // namespace

Q_DECLARE_METATYPE(linefile::Sensor)
Q_DECLARE_METATYPE(linereport::Reading)

class TestLineReport : public QObject
{
    Q_OBJECT

private slots:
    void oneSensor_data()
    {
        QTest::addColumn<linefile::Sensor>("entry");
        QTest::addColumn<Reading>("reading");
        QTest::addColumn<QStringList>("cells"); // past address and speed; empty: a note row
        QTest::addColumn<QString>("note");
        QTest::addColumn<QStringList>("differs");
        QTest::addColumn<QString>("state"); // as the JSON names it
        QTest::addColumn<QString>("summary");

        const DeviceVEL_DUO300 voltage = sensor(5, 9600, SensorType::Voltage);
        const QStringList voltageCells = {
            "Напряжение", "Ввод 1 секции АБ", "100 В", "VEL-1.0.2", "1024",
            "3344",       "10006 В",          "2989",  "вкл",       "2 ч 05 мин"};
        QTest::newRow("matching line")
            << saved(voltage) << answered(voltage) << voltageCells << QString() << QStringList()
            << "answered"
            << "Все датчики (1) ответили, их значения совпадают с файлом линии.";

        QTest::newRow("differing setpoint")
            << planEntry(5, 9600, "Ввод 1 секции АБ", 250) << answered(voltage) << voltageCells
            << QString() << QStringList{"setpoint"} << "answered"
            << "Ответили 1 из 1 датчиков; расходятся с файлом линии: 5@9600 «Ввод 1 секции АБ» "
               "(Уставка).";

        Reading loader;
        loader.state = Reading::InLoader;
        loader.error = rtu::UnknownCommand;
        QTest::newRow("sensor in its loader")
            << saved(voltage) << loader << QStringList()
            << "В загрузчике: отвечает «несуществующая команда», программы нет; нужно "
               "перепрограммирование"
            << QStringList() << "loader"
            << "Ответили 0 из 1 датчиков; в загрузчике: 5@9600 «Ввод 1 секции АБ».";

        Reading silent;
        silent.state = Reading::Silent;
        silent.error = rtu::NoAnswer;
        QTest::newRow("silent sensor")
            << saved(voltage) << silent << QStringList() << "Не ответил: Нет ответа"
            << QStringList() << "silent"
            << "Ответили 0 из 1 датчиков; не ответили: 5@9600 «Ввод 1 секции АБ».";

        const DeviceVEL_DUO300 temperature = sensor(2, 38400, SensorType::Temperature);
        QTest::newRow("temperature sensor, no calibration points")
            << saved(temperature) << answered(temperature)
            << QStringList{"Температура", "Ввод 1 секции АБ", "100 °С", "VEL-1.0.2", "—",
                           "—",           "24.87 °С",         "2989",   "вкл",       "2 ч 05 мин"}
            << QString() << QStringList() << "answered"
            << "Все датчики (1) ответили, их значения совпадают с файлом линии.";
    }

    void oneSensor()
    {
        QFETCH(linefile::Sensor, entry);
        QFETCH(Reading, reading);
        QFETCH(QStringList, cells);
        QFETCH(QString, note);
        QFETCH(QStringList, differs);
        QFETCH(QString, state);
        QFETCH(QString, summary);

        linefile::Line file;
        file.port = QStringLiteral("/dev/ttyUSB0");
        file.sensors = {entry};
        linereport::Header header;
        header.line = file.port;
        header.at = QDateTime(QDate(2026, 3, 5), QTime(7, 8, 9), Qt::OffsetFromUTC, 3 * 3600);
        const linereport::Report report =
            linereport::make(header, QStringLiteral("line.json"), file, {reading});

        // A row for the sensor whatever it answered.
        QCOMPARE(report.rows.size(), 1);
        const linereport::Row& row = report.rows.first();
        QCOMPARE(row.address, entry.address);
        QCOMPARE(row.speed, entry.speed);
        QCOMPARE(row.note, note);
        if (!cells.isEmpty())
            QCOMPARE(linereport::cells(row), cells);
        QCOMPARE(row.differs, differs);
        QCOMPARE(report.differences.size(), differs.size());
        QCOMPARE(report.summary, summary);
        QCOMPARE(report.matches, summary.startsWith(QStringLiteral("Все")));

        const QJsonObject json = linereport::toJson(report);
        QCOMPARE(json.value("at").toString(), QStringLiteral("2026-03-05T07:08:09+03:00"));
        QCOMPARE(json.value("summary").toObject().value("text").toString(), summary);
        const QJsonObject sensor = json.value("sensors").toArray().first().toObject();
        QCOMPARE(sensor.value("state").toString(), state);
        QCOMPARE(sensor.value("address").toInt(), entry.address);
        // The calibration points only of a sensor that has them.
        QCOMPARE(sensor.contains("zeroAdc"), cells.value(4) == QLatin1String("1024"));
        QCOMPARE(json.value("differences").toArray().size(), differs.size());
        if (!differs.isEmpty()) {
            const QJsonObject d = json.value("differences").toArray().first().toObject();
            QCOMPARE(d.value("inFile").toString(), QStringLiteral("250"));
            QCOMPARE(d.value("onSensor").toString(), QStringLiteral("100"));
        }
    }

    // The header's time says its offset from UTC, whichever side of it.
    void timeText()
    {
        QCOMPARE(linereport::timeText(
                     QDateTime(QDate(2026, 3, 5), QTime(7, 8, 9), Qt::OffsetFromUTC, 3 * 3600)),
                 QStringLiteral("05.03.2026 07:08:09 (UTC+03:00)"));
        QCOMPARE(linereport::timeText(QDateTime(QDate(2026, 3, 5), QTime(7, 8, 9),
                                                Qt::OffsetFromUTC, -(3 * 3600 + 30 * 60))),
                 QStringLiteral("05.03.2026 07:08:09 (UTC-03:30)"));
    }
};

QTEST_GUILESS_MAIN(TestLineReport)
#include "tst_linereport.moc"
