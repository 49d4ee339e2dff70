// The bounded buffer of a sensor's readings and the CSV file made of them.
#include "codec/readings.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
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
    r.sensorType = sensorTypeOf(type);
    r.measure = measure;
    r.adc = adc;
    return r;
}

} // namespace

Q_DECLARE_METATYPE(csv::Style)

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

    void csvHeader_data()
    {
        QTest::addColumn<csv::Style>("style");
        QTest::addColumn<QString>("header");
        QTest::newRow("comma") << csv::Style::Comma
                               << "time,port,address,speed,type,name,value,unit,adc,error";
        QTest::newRow("semicolon")
            << csv::Style::Semicolon << "time;port;address;speed;type;name;value;unit;adc;error";
    }

    void csvHeader()
    {
        QFETCH(csv::Style, style);
        QFETCH(QString, header);
        QCOMPARE(csv::header(style), header);
        QCOMPARE(csv::siteHeader(style), header + header.at(4) + QStringLiteral("line"));
    }

    void csvRow_data()
    {
        QTest::addColumn<csv::Style>("style");
        QTest::addColumn<Reading>("reading");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("fields"); // after the time and its separator
        const csv::Style comma = csv::Style::Comma;
        const csv::Style semicolon = csv::Style::Semicolon;
        QTest::newRow("voltage") << comma << reading(0, 5, 9600, 0, 2, -12, 3012) << "Ввод 1"
                                 << port + ",5,9600,2,Ввод 1,-12,V,3012,0";
        QTest::newRow("temperature") << comma << reading(0, 31, 115200, 0, 1, 2345, 17) << ""
                                     << port + ",31,115200,1,,23.45,°C,17,0";
        QTest::newRow("temperature, decimal comma")
            << semicolon << reading(0, 31, 115200, 0, 1, 2345, 17) << "Шина"
            << port + ";31;115200;1;Шина;23,45;°C;17;0";
        QTest::newRow("below zero, decimal comma")
            << semicolon << reading(0, 2, 38400, 0, 1, -50, 0) << ""
            << port + ";2;38400;1;;-0,50;°C;0;0";
        QTest::newRow("undetermined type")
            << comma << reading(0, 3, 9600, 0, 9, 100, 40) << "" << port + ",3,9600,0,,,,40,0";
        QTest::newRow("no answer") << semicolon << reading(0, 4, 9600, 6, 2, 77, 88) << "Ввод"
                                   << port + ";4;9600;;Ввод;;;;6";
        QTest::newRow("name with the separator and a quote")
            << comma << reading(0, 4, 9600, 0, 2, 77, 88) << "Шина \"А\", ввод"
            << port + ",4,9600,2,\"Шина \"\"А\"\", ввод\",77,V,88,0";
        QTest::newRow("name with a comma, decimal comma")
            << semicolon << reading(0, 4, 9600, 0, 2, 77, 88) << "А,Б"
            << port + ";4;9600;2;А,Б;77;V;88;0";
        QTest::newRow("name with a semicolon, decimal comma")
            << semicolon << reading(0, 4, 9600, 0, 2, 77, 88) << "А;Б"
            << port + ";4;9600;2;\"А;Б\";77;V;88;0";
        QTest::newRow("port named with a comma and a quote")
            << comma << reading(0, 4, 9600, 0, 2, 77, 88, QStringLiteral("COM3,\"a\"")) << ""
            << "\"COM3,\"\"a\"\"\",4,9600,2,,77,V,88,0";
    }

    void csvRow()
    {
        QFETCH(csv::Style, style);
        QFETCH(Reading, reading);
        QFETCH(QString, name);
        QFETCH(QString, fields);
        reading.msecs = QDateTime(QDate(2024, 3, 5), QTime(7, 8, 9, 45)).toMSecsSinceEpoch();
        const QString text = csv::row(reading, name, style);
        const QChar separator = style == csv::Style::Comma ? ',' : ';';
        const QString time = text.section(separator, 0, 0);
        QCOMPARE(text.mid(time.size() + 1), fields);
        // Local time with milliseconds and the UTC offset, which names the moment exactly.
        QVERIFY2(
            QRegularExpression(QStringLiteral(R"(^2024-03-05T07:08:09\.045([+-]\d\d:\d\d|Z)$)"))
                .match(time)
                .hasMatch(),
            qPrintable(time));
        QCOMPARE(QDateTime::fromString(time, Qt::ISODateWithMs).toMSecsSinceEpoch(), reading.msecs);
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
        // Each row carries the name of its own sensor.
        const csv::NameOf nameOf = [other](const Reading& r) {
            return r.port == other ? QStringLiteral("Б") : QStringLiteral("А");
        };
        const csv::Style style = csv::Style::Semicolon;
        QString error;
        QVERIFY2(csv::write(path, {&a, &b}, nameOf, style, &error), qPrintable(error));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        // Oldest first across the sensors; the last line ends like the others.
        QCOMPARE(lines.size(), 6);
        QCOMPARE(lines.at(0), csv::header(style));
        QCOMPARE(lines.at(1), csv::row(a.at(0), QStringLiteral("А"), style));
        QCOMPARE(lines.at(2), csv::row(b.at(0), QStringLiteral("Б"), style));
        QCOMPARE(lines.at(3), csv::row(a.at(1), QStringLiteral("А"), style));
        QCOMPARE(lines.at(4), csv::row(b.at(1), QStringLiteral("Б"), style));
        QCOMPARE(lines.at(5), QString());

        // Where no file can be made, none is, and the reason is told.
        const QString blocked = dir.filePath(QStringLiteral("no-such-folder/readings.csv"));
        QVERIFY(!csv::write(blocked, {&a}, nameOf, style, &error));
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

    // A reading a broker held while its subscriber was away comes late: it takes its place by
    // time; one of a time kept already (a duplicate) is refused; a full buffer keeps its newest.
    void storeInsertsLateReadings()
    {
        ReadingStore store;
        for (qint64 at : {1000, 3000, 2000, 500})
            QVERIFY(store.insert(reading(at)));
        QVERIFY(!store.insert(reading(2000)));
        const ReadingBuffer* kept = store.find(port, 5, 9600);
        QCOMPARE(kept->size(), 4);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(kept->timeAt(i), qint64(QList<qint64>{500, 1000, 2000, 3000}.at(i)));
        ReadingBuffer full(port, 5, 9600, 2);
        QVERIFY(full.insert(reading(1000)) && full.insert(reading(3000)));
        QVERIFY(!full.insert(reading(500)));
        QVERIFY(full.insert(reading(2000)));
        QCOMPARE(full.size(), 2);
        QCOMPARE(full.timeAt(0), qint64(2000));
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
        // The name is looked up by the line, not by the serial port written in its place.
        const csv::NameOf nameOf = [](const Reading& r) {
            return r.port == QLatin1String("site/a") ? QStringLiteral("Ввод") : QString();
        };
        const csv::Style style = csv::Style::Comma;
        QString error;
        QVERIFY2(csv::writeSite(path, {&b, &a}, {{QStringLiteral("site/a"), port}}, nameOf, style,
                                &error),
                 qPrintable(error));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines.at(0), csv::siteHeader(style));
        QCOMPARE(lines.at(1),
                 csv::row(reading(1000, 2, 38400, 0, 2, 100, 1), QStringLiteral("Ввод"), style) +
                     QStringLiteral(",site/a"));
        QCOMPARE(lines.at(2),
                 csv::row(reading(1500, 2, 38400, 6, 2, 0, 0, QString()), QString(), style) +
                     QStringLiteral(",\"site/b,east\""));
    }

    // The styles keep their names in the settings and on the command line.
    void csvStyleNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("known");
        QTest::addColumn<csv::Style>("style");
        QTest::newRow("comma") << "comma" << true << csv::Style::Comma;
        QTest::newRow("semicolon") << "semicolon" << true << csv::Style::Semicolon;
        QTest::newRow("unknown") << "tab" << false << csv::Style::Comma;
    }

    void csvStyleNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, known);
        QFETCH(csv::Style, style);
        csv::Style parsed = csv::Style::Comma;
        QCOMPARE(csv::parseStyle(name, &parsed), known);
        QCOMPARE(parsed, style);
        if (known)
            QCOMPARE(csv::styleName(style), name);
    }
};

QTEST_MAIN(TestReadings)
#include "tst_readings.moc"
