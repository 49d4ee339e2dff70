// The bounded buffer of a sensor's readings and the CSV file made of them.
#include "codec/readings.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString port = QStringLiteral("/dev/ttyUSB0");

Reading reading(qint64 msecs, int addr = 5, int baud = 9600, int error = 0, quint16 type = 2,
                qint16 measure = 0, quint16 adc = 0, const QString& on = port)
{
    Reading r;
    r.msecs = msecs;
    r.port = on;
    r.addr = addr;
    r.baudrate = baud;
    r.error = error;
    r.sensorType = type;
    r.measure = measure;
    r.adc = adc;
    return r;
}

} // namespace

class TestReadings : public QObject
{
    Q_OBJECT

private slots:
    void bufferDropsTheOldest_data()
    {
        QTest::addColumn<int>("capacity");
        QTest::addColumn<int>("appended");
        QTest::addColumn<int>("oldest"); // time of the oldest kept
        QTest::newRow("below capacity") << 4 << 3 << 1;
        QTest::newRow("exactly full") << 4 << 4 << 1;
        QTest::newRow("one over") << 4 << 5 << 2;
        QTest::newRow("many times over") << 4 << 1000 << 997;
    }

    void bufferDropsTheOldest()
    {
        QFETCH(int, capacity);
        QFETCH(int, appended);
        QFETCH(int, oldest);
        ReadingBuffer buffer(port, 5, 9600, capacity);
        for (int t = 1; t <= appended; ++t)
            QVERIFY(buffer.append(reading(t, 5, 9600, 0, 2, qint16(t), quint16(t))));
        QCOMPARE(buffer.size(), std::min(capacity, appended));
        QCOMPARE(buffer.at(0).msecs, qint64(oldest));
        QCOMPARE(buffer.at(0).measure, qint16(oldest));
        QCOMPARE(buffer.at(buffer.size() - 1).msecs, qint64(appended));
        QCOMPARE(buffer.firstAtOrAfter(appended), buffer.size() - 1);
        QCOMPARE(buffer.firstAtOrAfter(0), 0);
        QCOMPARE(buffer.firstAtOrAfter(appended + 1), buffer.size());
    }

    void bufferKeepsOneSensor()
    {
        ReadingBuffer buffer(port, 5, 9600, 4);
        QVERIFY(!buffer.append(reading(1, 6, 9600)));
        QVERIFY(!buffer.append(reading(1, 5, 38400)));
        // The same address and speed on another line is another sensor.
        QVERIFY(!buffer.append(reading(1, 5, 9600, 0, 2, 0, 0, QStringLiteral("/dev/ttyUSB1"))));
        QCOMPARE(buffer.size(), 0);
        // A day of readings at the fastest round.
        QCOMPARE(ReadingBuffer().capacity(), 86400);
    }

    void bufferKnowsItsSensorType_data()
    {
        QTest::addColumn<QVector<Reading>>("readings");
        QTest::addColumn<int>("type");
        QTest::newRow("nothing answered yet") << QVector<Reading>{reading(1, 5, 9600, 6, 0)} << 0;
        QTest::newRow("temperature")
            << QVector<Reading>{reading(1, 5, 9600, 6, 0), reading(2, 5, 9600, 0, 1)} << 1;
        // A failed poll carries no type, and an undetermined one says nothing of the sensor.
        QTest::newRow("temperature, then a failed poll and an undetermined type")
            << QVector<Reading>{reading(1, 5, 9600, 0, 1), reading(2, 5, 9600, 6, 0),
                                reading(3, 5, 9600, 0, 9)}
            << 1;
        QTest::newRow("another sensor put in its place")
            << QVector<Reading>{reading(1, 5, 9600, 0, 1), reading(2, 5, 9600, 0, 2)} << 2;
    }

    void bufferKnowsItsSensorType()
    {
        QFETCH(QVector<Reading>, readings);
        QFETCH(int, type);
        ReadingBuffer buffer(port, 5, 9600, 2);
        for (const Reading& r : readings)
            QVERIFY(buffer.append(r));
        QCOMPARE(int(buffer.sensorType()), type);
    }

    void csvRow_data()
    {
        QTest::addColumn<Reading>("reading");
        QTest::addColumn<QStringList>("fields"); // after the time
        QTest::newRow("voltage") << reading(0, 5, 9600, 0, 2, -12, 3012)
                                 << QStringList{"5", "9600", "-12", "3012", "0", port};
        QTest::newRow("temperature") << reading(0, 31, 115200, 0, 1, 2345, 17)
                                     << QStringList{"31", "115200", "23.45", "17", "0", port};
        QTest::newRow("below zero") << reading(0, 2, 38400, 0, 1, -50, 0)
                                    << QStringList{"2", "38400", "-0.50", "0", "0", port};
        QTest::newRow("undetermined type")
            << reading(0, 3, 9600, 0, 9, 100, 40) << QStringList{"3", "9600", "", "40", "0", port};
        QTest::newRow("no answer")
            << reading(0, 4, 9600, 6, 2, 77, 88) << QStringList{"4", "9600", "", "", "6", port};
        QTest::newRow("port named with a comma and a quote")
            << reading(0, 4, 9600, 0, 2, 77, 88, QStringLiteral("COM3,\"a\""))
            << QStringList{"4", "9600", "77", "88", "0", "\"COM3,\"\"a\"\"\""};
    }

    void csvRow()
    {
        QFETCH(Reading, reading);
        QFETCH(QStringList, fields);
        QCOMPARE(csv::header(), QStringLiteral("time,address,speed,value,adc,outcome,port"));
        reading.msecs = QDateTime(QDate(2024, 3, 5), QTime(7, 8, 9, 45)).toMSecsSinceEpoch();
        // The port is the last field and the only one that may hold a comma.
        const QString text = csv::row(reading);
        QStringList row = text.section(QLatin1Char(','), 0, 5).split(QLatin1Char(','));
        row << text.section(QLatin1Char(','), 6);
        QCOMPARE(row.size(), 7);
        QCOMPARE(row.mid(1), fields);
        // Local time with milliseconds and the UTC offset, which names the moment exactly.
        QVERIFY2(
            QRegularExpression(QStringLiteral(R"(^2024-03-05T07:08:09\.045([+-]\d\d:\d\d|Z)$)"))
                .match(row.at(0))
                .hasMatch(),
            qPrintable(row.at(0)));
        QCOMPARE(QDateTime::fromString(row.at(0), Qt::ISODateWithMs).toMSecsSinceEpoch(),
                 reading.msecs);
    }

    void csvFile()
    {
        // The same address and speed on two lines.
        const QString other = QStringLiteral("/dev/ttyUSB1");
        ReadingBuffer a(port, 2, 38400, 10);
        ReadingBuffer b(other, 2, 38400, 10);
        a.append(reading(1000, 2, 38400, 0, 2, 100, 1));
        b.append(reading(1500, 2, 38400, 0, 1, 2000, 2, other));
        a.append(reading(2000, 2, 38400, 6));
        b.append(reading(2000, 2, 38400, 0, 1, 2100, 3, other));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("readings.csv"));
        QString error;
        QVERIFY2(csv::write(path, {&a, &b}, &error), qPrintable(error));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        // Oldest first across the sensors; the last line ends like the others.
        QCOMPARE(lines.size(), 6);
        QCOMPARE(lines.at(0), csv::header());
        QCOMPARE(lines.at(1), csv::row(a.at(0)));
        QVERIFY2(lines.at(1).endsWith(QLatin1Char(',') + port), qPrintable(lines.at(1)));
        QCOMPARE(lines.at(2), csv::row(b.at(0)));
        QVERIFY2(lines.at(2).endsWith(QLatin1Char(',') + other), qPrintable(lines.at(2)));
        QCOMPARE(lines.at(3), csv::row(a.at(1)));
        QCOMPARE(lines.at(4), csv::row(b.at(1)));
        QCOMPARE(lines.at(5), QString());

        // Where no file can be made, none is, and the reason is told.
        const QString blocked = dir.filePath(QStringLiteral("no-such-folder/readings.csv"));
        QVERIFY(!csv::write(blocked, {&a}, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!QFile::exists(blocked));
    }

    // A store keeps each sensor's readings apart, by line, address and speed, and in time
    // order: a message delivered twice, or late, is not kept a second time.
    void storeKeepsTimeOrder()
    {
        ReadingStore store;
        bool first = false;
        QVERIFY(store.add(reading(1000), &first));
        QVERIFY(first);
        QVERIFY(store.add(reading(2000), &first));
        QVERIFY(!first);
        QVERIFY(!store.add(reading(2000)));
        QVERIFY(!store.add(reading(1500)));
        QVERIFY(store.add(reading(1500, 5, 9600, 0, 2, 0, 0, QStringLiteral("site/b")), &first));
        QVERIFY(first);
        QVERIFY(store.add(reading(1500, 5, 38400)));
        QCOMPARE(store.sensorCount(), 3);
        const ReadingBuffer* kept = store.find(port, 5, 9600);
        QVERIFY(kept);
        QCOMPARE(kept->size(), 2);
        QCOMPARE(kept->timeAt(1), qint64(2000));
        QVERIFY(!store.find(port, 6, 9600));
    }

    // A site's CSV: the line's name last, the serial port its line file names in the port
    // column, empty when none is known.
    void siteCsvFile()
    {
        ReadingBuffer a(QStringLiteral("site/a"), 2, 38400, 10);
        ReadingBuffer b(QStringLiteral("site/b,east"), 2, 38400, 10);
        a.append(reading(1000, 2, 38400, 0, 2, 100, 1, QStringLiteral("site/a")));
        b.append(reading(1500, 2, 38400, 6, 2, 0, 0, QStringLiteral("site/b,east")));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("site.csv"));
        QString error;
        QVERIFY2(csv::writeSite(path, {&b, &a}, {{QStringLiteral("site/a"), port}}, &error),
                 qPrintable(error));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines.at(0), QStringLiteral("time,address,speed,value,adc,outcome,port,line"));
        QCOMPARE(lines.at(1),
                 csv::row(reading(1000, 2, 38400, 0, 2, 100, 1)) + QStringLiteral(",site/a"));
        QCOMPARE(lines.at(2), csv::row(reading(1500, 2, 38400, 6, 2, 0, 0, QString())) +
                                  QStringLiteral(",\"site/b,east\""));
    }
};

QTEST_MAIN(TestReadings)
#include "tst_readings.moc"
