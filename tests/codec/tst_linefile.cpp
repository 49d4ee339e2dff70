// The line file: reading, writing, the plan check and the conversions from and to the
// sensor's blocks.
#include "codec/linefile.h"

#include <QtTest>
#include <cstring>

using linefile::Line;
using linefile::Mode;
using linefile::Sensor;

Q_DECLARE_METATYPE(linefile::Line)
Q_DECLARE_METATYPE(linefile::Sensor)

namespace {

UstBlock sampleUst()
{
    UstBlock ust = defaultUstBlock();
    ust.speed = 96;
    ust.threshold = 250;
    ust.mbAddr = 5;
    ust.zeroAdc = 2000;
    ust.nomAdc = 3000;
    ust.reserved[1] = 0xBEEF;
    setNameText(ust, QStringLiteral("Ввод 1"));
    sealChecksum(ust);
    return ust;
}

ParamBlock sampleParam()
{
    ParamBlock param{};
    param.sensorType = 2;
    qstrncpy(param.version, "1.07", sizeof param.version);
    return param;
}

const QDateTime readTime(QDate(2024, 3, 5), QTime(14, 30, 15, 250), Qt::OffsetFromUTC, 3 * 3600);

Sensor readSensor(int address = 5)
{
    return linefile::fromBlocks(address, 9600, sampleUst(), sampleParam(), readTime);
}

Sensor planEntry(int address, int speed, const QString& name = QStringLiteral("Ввод"),
                 int setpoint = 100)
{
    Sensor sensor;
    sensor.address = address;
    sensor.speed = speed;
    sensor.name = name;
    sensor.setpoint = setpoint;
    return sensor;
}

Line lineOf(const QVector<Sensor>& sensors)
{
    Line line;
    line.sensors = sensors;
    return line;
}

// A complete entry as a person or another program would write it.
QJsonObject fileEntry(int address)
{
    return {{"address", address}, {"speed", 9600},     {"type", 2},
            {"name", "Ввод 1"},   {"setpoint", 250},   {"zeroAdc", 2000},
            {"nomAdc", 3000},     {"version", "1.07"}, {"block", QString(80, QLatin1Char('0'))}};
}

// The object with key set to value, or without key when value is undefined.
QJsonObject with(QJsonObject object, const QString& key, const QJsonValue& value)
{
    if (value.isUndefined())
        object.remove(key);
    else
        object.insert(key, value);
    return object;
}

QByteArray document(const QJsonArray& sensors, const QString& key = QString(),
                    const QJsonValue& value = QJsonValue())
{
    QJsonObject top{
        {"format", "velduo-line"}, {"version", 1}, {"port", "/dev/ttyUSB0"}, {"sensors", sensors}};
    if (!key.isEmpty())
        top = with(top, key, value);
    return QJsonDocument(top).toJson();
}

// Two complete entries, the second changed in one key.
QByteArray secondEntry(const QString& key, const QJsonValue& value)
{
    return document({fileEntry(5), with(fileEntry(6), key, value)});
}

const QJsonValue absent(QJsonValue::Undefined);

// Every file and folder under root, as paths relative to it.
QStringList everything(const QString& root)
{
    QStringList paths;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        paths << QDir(root).relativeFilePath(it.next());
    paths.sort();
    return paths;
}

QStringList lines(const QVector<linefile::Difference>& rows)
{
    QStringList texts;
    for (const linefile::Difference& row : rows)
        texts << row.key + QLatin1Char('|') + row.expected + QLatin1Char('|') + row.actual;
    return texts;
}

} // namespace

class TestLineFile : public QObject
{
    Q_OBJECT

private slots:
    void roundTripKeepsUnknownKeys()
    {
        Line line;
        line.port = QStringLiteral("/dev/ttyUSB0");
        line.unknown.insert(QStringLiteral("site"), QStringLiteral("ПС Северная, щит 2"));
        Sensor read = readSensor();
        read.unknown.insert(QStringLiteral("position"),
                            QJsonObject{{"cabinet", 3}, {"tags", QJsonArray{"a", 1.5, true}}});
        Sensor silent;
        silent.address = 7;
        silent.speed = 38400;
        silent.answered = false;
        silent.readAt = readTime;
        line.sensors = {read, silent};

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("line.json"));
        QCOMPARE(linefile::save(line, path), QString());
        const linefile::ReadResult back = linefile::readFile(path, Mode::File);
        QVERIFY2(back.ok(), qPrintable(back.refusal));
        QCOMPARE(back.line, line);

        // Written again, the file is the same byte for byte.
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray written = file.readAll();
        QCOMPARE(linefile::toJson(back.line), written);
        // The silent sensor is kept with what is known of it and nothing made up.
        const QJsonObject silentObject =
            QJsonDocument::fromJson(written).object()["sensors"].toArray()[1].toObject();
        QCOMPARE(silentObject.keys(), (QStringList{"address", "answered", "readAt", "speed"}));
        QCOMPARE(silentObject["answered"], QJsonValue(false));
    }

    void planReadsOnlyWhatItNeeds()
    {
        const QByteArray plan = R"({"format": "velduo-line", "version": 1, "sensors": [
            {"address": 3, "speed": 9600, "name": "Ввод 3", "setpoint": -40,
             "calibrate": ["zero", "nominal"], "flash": true}]})";
        const linefile::ReadResult read = linefile::parse(plan, Mode::Plan);
        QVERIFY2(read.ok(), qPrintable(read.refusal));
        QCOMPARE(read.line.sensors.size(), 1);
        const Sensor& entry = read.line.sensors[0];
        QCOMPARE(entry.name, std::optional<QString>(QStringLiteral("Ввод 3")));
        QCOMPARE(entry.setpoint, std::optional<int>(-40));
        QCOMPARE(entry.calibrate, (QStringList{"zero", "nominal"}));
        QVERIFY(entry.flash);
        QVERIFY(!entry.type && !entry.zeroAdc && entry.block.isEmpty());
        QVERIFY(linefile::checkPlan(read.line).isEmpty());
    }

    void fileOrPlan_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<int>("readAs");    // the mode that reads it the same; -1: refused
        QTest::addColumn<QString>("named"); // what the refusal names
        const QJsonObject silent{{"address", 7}, {"speed", 9600}, {"answered", false}};
        const QJsonObject planned{
            {"address", 3}, {"speed", 19200}, {"name", "Ввод 3"}, {"setpoint", -40}};
        QTest::newRow("line file")
            << document({fileEntry(5), silent}) << int(Mode::File) << QString();
        QTest::newRow("line file of silent sensors")
            << document({silent}) << int(Mode::File) << QString();
        QTest::newRow("plan without port")
            << document({planned, with(planned, "address", 4)}, "port", absent) << int(Mode::Plan)
            << QString();
        QTest::newRow("plan entry without name")
            << document({with(planned, "name", absent)}) << -1 << "нет ключа \"name\"";
        QTest::newRow("line file entry without block")
            << secondEntry("block", absent) << -1 << "нет ключа \"block\"";
    }

    void fileOrPlan()
    {
        QFETCH(QByteArray, json);
        QFETCH(int, readAs);
        QFETCH(QString, named);
        const linefile::ReadResult read = linefile::parse(json, Mode::FileOrPlan);
        if (readAs < 0) {
            QVERIFY(!read.ok());
            QVERIFY2(read.refusal.contains(named), qPrintable(read.refusal));
            return;
        }
        QVERIFY2(read.ok(), qPrintable(read.refusal));
        const linefile::ReadResult same = linefile::parse(json, Mode(readAs));
        QVERIFY(same.ok());
        QVERIFY(read.line == same.line);
    }

    void refusals_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("json");
        // What the refusal must name: the entry, its address when known, the key, the value.
        QTest::addColumn<QStringList>("named");
        const int file = int(Mode::File);
        const int plan = int(Mode::Plan);

        QTest::newRow("not JSON") << file << QByteArray(R"({"format": "velduo-line",)")
                                  << QStringList{"JSON", "смещение 25"};
        QTest::newRow("list not closed")
            << file << QByteArray(R"({"format": "velduo-line", "sensors": [1, 2 )")
            << QStringList{"JSON", "список не закрыт «]»"};
        QTest::newRow("text after the document")
            << file << QByteArray(R"({"format": "velduo-line"} x)")
            << QStringList{"JSON", "лишний текст"};
        // Valid but for the raw character: it would come back as a key nobody can find.
        QTest::newRow("control character in a key")
            << file << document({}, "s@", 1).replace('@', '\0')
            << QStringList{"JSON", "0x00", "смещение"};
        QTest::newRow("not an object") << file << QByteArray("[1, 2]") << QStringList{"объекта"};
        // Refused before Qt's parser, which would lose the memory of the first entry's list.
        QTest::newRow("a key twice in one entry")
            << file
            << QByteArray(R"({"format": "velduo-line", "version": 1, "port": "/dev/ttyUSB0",)"
                          R"( "sensors": [{"address": 5, "calibrate": ["zero"],)"
                          R"( "calibrate": ["nominal"]}]})")
            << QStringList{"JSON", "\"calibrate\"", "повторяется"};
        QTest::newRow("no format")
            << file << document({}, "format", absent) << QStringList{"\"format\""};
        QTest::newRow("another format") << file << document({}, "format", "velduo-plan")
                                        << QStringList{"\"format\"", "velduo-plan"};
        QTest::newRow("newer version")
            << file << document({}, "version", 2) << QStringList{"\"version\"", "2", "новее"};
        QTest::newRow("line file without port")
            << file << document({}, "port", absent) << QStringList{"\"port\""};
        QTest::newRow("sensors not a list")
            << file << document({}, "sensors", QJsonObject{}) << QStringList{"\"sensors\""};
        QTest::newRow("entry not an object")
            << file << document({fileEntry(5), 7}) << QStringList{"Запись 2", "7"};
        QTest::newRow("no address") << file << document({with(fileEntry(5), "address", absent)})
                                    << QStringList{"Запись 1", "\"address\""};
        QTest::newRow("missing key of a read sensor")
            << file << secondEntry("block", absent)
            << QStringList{"Запись 2 (адрес 6)", "нет ключа \"block\""};
        QTest::newRow("plan entry as a line file")
            << file
            << QByteArray(document({QJsonObject{
                   {"address", 3}, {"speed", 9600}, {"name", "Ввод"}, {"setpoint", 5}}}))
            << QStringList{"Запись 1 (адрес 3)", "\"type\""};
        QTest::newRow("plan entry without name")
            << plan << secondEntry("name", absent)
            << QStringList{"Запись 2 (адрес 6)", "нет ключа \"name\""};
        QTest::newRow("string for a number")
            << file << secondEntry("speed", "9600")
            << QStringList{"Запись 2 (адрес 6)", "\"speed\"", "целым числом", "\"9600\""};
        QTest::newRow("fractional number")
            << plan << secondEntry("setpoint", 12.5)
            << QStringList{"Запись 2 (адрес 6)", "\"setpoint\"", "целым числом", "12.5"};
        QTest::newRow("answered not true or false")
            << file << secondEntry("answered", "no")
            << QStringList{"Запись 2 (адрес 6)", "\"answered\""};
        QTest::newRow("calibrate not a list of texts")
            << plan << secondEntry("calibrate", QJsonArray{"zero", 1})
            << QStringList{"Запись 2 (адрес 6)", "\"calibrate\""};
        QTest::newRow("read time not a time")
            << file << secondEntry("readAt", "вчера")
            << QStringList{"Запись 2 (адрес 6)", "\"readAt\"", "вчера"};
        QTest::newRow("address out of range")
            << file << secondEntry("address", 248) << QStringList{"Запись 2", "\"address\"", "248"};
        QTest::newRow("speed zero")
            << file << secondEntry("speed", 0) << QStringList{"Запись 2 (адрес 6)", "\"speed\""};
        QTest::newRow("setpoint beyond the register")
            << file << secondEntry("setpoint", 32768)
            << QStringList{"Запись 2 (адрес 6)", "\"setpoint\"", "32768"};
        QTest::newRow("ADC point beyond 16 bits")
            << file << secondEntry("nomAdc", 65536)
            << QStringList{"Запись 2 (адрес 6)", "\"nomAdc\"", "65536"};
        QTest::newRow("name outside Windows-1251")
            << plan << secondEntry("name", "Ввод ☃")
            << QStringList{"Запись 2 (адрес 6)", "\"name\"", "Windows-1251"};
        QTest::newRow("name over 16 bytes")
            << file << secondEntry("name", "Ввод номер семнадцать")
            << QStringList{"Запись 2 (адрес 6)", "\"name\"", "16 байт"};
        // Of the right length, with a character that is no hex digit.
        QTest::newRow("block not hex")
            << file << secondEntry("block", QString(78, QLatin1Char('0')) + "0g")
            << QStringList{"Запись 2 (адрес 6)", "\"block\"", "40 байт"};
    }

    void refusals()
    {
        QFETCH(int, mode);
        QFETCH(QByteArray, json);
        QFETCH(QStringList, named);
        const linefile::ReadResult read = linefile::parse(json, Mode(mode));
        QVERIFY(!read.ok());
        for (const QString& part : named)
            QVERIFY2(read.refusal.contains(part), qPrintable(read.refusal + " / " + part));
    }

    void unreadableFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("missing.json"));
        const linefile::ReadResult read = linefile::readFile(path, Mode::File);
        QVERIFY(!read.ok());
        QVERIFY2(read.refusal.contains(path), qPrintable(read.refusal));
    }

    void planCheck_data()
    {
        QTest::addColumn<Line>("plan");
        // Each fault as entry:key, in order.
        QTest::addColumn<QStringList>("faults");

        Sensor calibrated = planEntry(2, 115200);
        calibrated.calibrate = QStringList{"zero", "nominal"};
        calibrated.flash = true;
        QTest::newRow("good: one address at two speeds")
            << lineOf({planEntry(1, 9600), calibrated, planEntry(1, 1200), planEntry(31, 9600)})
            << QStringList();
        QTest::newRow("no entries") << Line() << QStringList{"0:sensors"};
        QTest::newRow("address outside what the change writes")
            << lineOf({planEntry(0, 9600), planEntry(32, 9600)})
            << QStringList{"1:address", "2:address"};
        QTest::newRow("address twice at one speed")
            << lineOf({planEntry(4, 9600), planEntry(4, 38400), planEntry(4, 9600)})
            << QStringList{"3:address"};
        QTest::newRow("unlisted speed")
            << lineOf({planEntry(1, 14400), planEntry(2, 0)}) << QStringList{"1:speed", "2:speed"};
        QTest::newRow("names the sensor cannot hold")
            << lineOf({planEntry(1, 9600, "Ввод ☃"), planEntry(2, 9600, "Ввод номер семнадцать"),
                       planEntry(3, 9600, QString("Ввод") + QChar(0)),
                       planEntry(4, 9600, "Шестнадцать букв")})
            << QStringList{"1:name", "2:name", "3:name"};
        QTest::newRow("setpoints beyond what the sensor takes")
            << lineOf({planEntry(1, 9600, "a", 30001), planEntry(2, 9600, "b", -30001),
                       planEntry(3, 9600, "c", -30000), planEntry(4, 9600, "d", 30000)})
            << QStringList{"1:setpoint", "2:setpoint"};
        Sensor unnamed = planEntry(1, 9600);
        unnamed.name.reset();
        unnamed.setpoint.reset();
        QTest::newRow("no name, no setpoint")
            << lineOf({unnamed}) << QStringList{"1:name", "1:setpoint"};
        Sensor unknownPoint = planEntry(1, 9600);
        unknownPoint.calibrate = QStringList{"zero", "max"};
        Sensor twice = planEntry(2, 9600);
        twice.calibrate = QStringList{"nominal", "nominal"};
        QTest::newRow("unknown or repeated calibration")
            << lineOf({unknownPoint, twice}) << QStringList{"1:calibrate", "2:calibrate"};
        Sensor wrong = planEntry(40, 100, "☃", 99999);
        wrong.calibrate = QStringList{"span"};
        QTest::newRow("every fault of one entry")
            << lineOf({wrong})
            << QStringList{"1:address", "1:speed", "1:name", "1:setpoint", "1:calibrate"};
    }

    // The values a plan may hold wrong are read, so that the check names every fault of every
    // entry, in file order, not the first the reader meets.
    void planFaultsInFileOrder()
    {
        const QByteArray json = document(
            {QJsonObject{{"address", 40}, {"speed", 9601}, {"name", "A"}, {"setpoint", 100}},
             QJsonObject{{"address", 2}, {"speed", 9600}, {"name", "B"}, {"setpoint", 99999}}});
        const linefile::ReadResult read = linefile::parse(json, Mode::Plan);
        QVERIFY2(read.ok(), qPrintable(read.refusal));
        QStringList found;
        for (const linefile::PlanFault& fault : linefile::checkPlan(read.line))
            found << QString::number(fault.entry) + QLatin1Char(':') + fault.key;
        QCOMPARE(found, (QStringList{"1:address", "1:speed", "2:setpoint"}));
    }

    void planCheck()
    {
        QFETCH(Line, plan);
        QFETCH(QStringList, faults);
        QStringList found;
        for (const linefile::PlanFault& fault : linefile::checkPlan(plan)) {
            found << QString::number(fault.entry) + QLatin1Char(':') + fault.key;
            QVERIFY2(fault.text.contains(QLatin1Char('"') + fault.key + QLatin1Char('"')),
                     qPrintable(fault.text));
            if (fault.entry > 0) {
                const QString entry = QStringLiteral("Запись %1 (адрес %2)")
                                          .arg(fault.entry)
                                          .arg(plan.sensors[fault.entry - 1].address);
                QVERIFY2(fault.text.contains(entry), qPrintable(fault.text));
            }
        }
        QCOMPARE(found, faults);
    }

    void fromAndToBlocks()
    {
        const Sensor sensor = readSensor();
        QCOMPARE(sensor.address, 5);
        QCOMPARE(sensor.speed, 9600);
        QVERIFY(sensor.answered);
        QCOMPARE(sensor.type, std::optional<int>(2));
        QCOMPARE(sensor.name, std::optional<QString>(QStringLiteral("Ввод 1")));
        QCOMPARE(sensor.setpoint, std::optional<int>(250));
        QCOMPARE(sensor.zeroAdc, std::optional<int>(2000));
        QCOMPARE(sensor.nomAdc, std::optional<int>(3000));
        QCOMPARE(sensor.version, std::optional<QString>(QStringLiteral("1.07")));
        QCOMPARE(sensor.readAt, readTime);
        const std::optional<UstBlock> ust = linefile::ustBlock(sensor);
        QVERIFY(ust);
        QCOMPARE(blockBytes(*ust), blockBytes(sampleUst()));
        QVERIFY(!linefile::ustBlock(planEntry(1, 9600)));
    }

    // Whatever a sensor holds can be saved and opened again, even values the window would
    // not write.
    void sensorAtTheLimitsIsKept()
    {
        UstBlock ust = sampleUst();
        ust.threshold = -32768;
        ust.zeroAdc = 0;
        ust.nomAdc = 65535;
        for (char& byte : ust.name)
            byte = char(0x98); // no letter in Windows-1251, still one byte of a name
        ParamBlock param = sampleParam();
        param.sensorType = 65535;
        std::memset(param.version, 0xE9, sizeof param.version);
        const Line line = lineOf({linefile::fromBlocks(247, 115200, ust, param, QDateTime())});
        const linefile::ReadResult back = linefile::parse(linefile::toJson(line), Mode::File);
        QVERIFY2(back.ok(), qPrintable(back.refusal));
        QCOMPARE(back.line, line);
    }

    void differences_data()
    {
        QTest::addColumn<Sensor>("expected");
        QTest::addColumn<Sensor>("actual");
        QTest::addColumn<QStringList>("rows"); // key|expected|actual

        QTest::newRow("same sensor") << readSensor() << readSensor() << QStringList();
        Sensor renamed = readSensor();
        renamed.name = QStringLiteral("Ввод 2");
        renamed.setpoint = -5;
        QTest::newRow("name and setpoint")
            << readSensor() << renamed << QStringList{"name|Ввод 1|Ввод 2", "setpoint|250|-5"};
        Sensor moved = readSensor(6);
        moved.speed = 115200;
        QTest::newRow("address and speed")
            << readSensor() << moved << QStringList{"address|5|6", "speed|9600|115200"};
        Sensor recalibrated = readSensor();
        recalibrated.zeroAdc = 1990;
        recalibrated.nomAdc = 3100;
        recalibrated.version = QStringLiteral("1.08");
        QTest::newRow("calibration points and version")
            << readSensor() << recalibrated
            << QStringList{"zeroAdc|2000|1990", "nomAdc|3000|3100", "version|1.07|1.08"};
        QTest::newRow("plan entry against what was read")
            << planEntry(5, 9600, "Ввод 1", 250) << readSensor() << QStringList();
        QTest::newRow("plan entry against another name")
            << planEntry(5, 9600, "Ввод 9", 250) << readSensor()
            << QStringList{"name|Ввод 9|Ввод 1"};
        QTest::newRow("entry lacking a value the sensor has")
            << readSensor() << planEntry(5, 9600, "Ввод 1", 250)
            << QStringList{"zeroAdc|2000|—", "nomAdc|3000|—", "version|1.07|—"};
        Sensor silent;
        silent.address = 5;
        silent.speed = 9600;
        silent.answered = false;
        QTest::newRow("sensor that did not answer")
            << readSensor() << silent << QStringList{"answered|считан|не ответил"};
    }

    void differences()
    {
        QFETCH(Sensor, expected);
        QFETCH(Sensor, actual);
        QFETCH(QStringList, rows);
        QCOMPARE(lines(linefile::differences(expected, actual)), rows);
    }

    void failedSaveKeepsOldFile_data()
    {
        QTest::addColumn<QString>("place");
        QTest::newRow("directory without write permission") << "unwritable";
        QTest::newRow("path names a directory") << "directory";
        QTest::newRow("parent is a regular file") << "under a file";
    }

    void failedSaveKeepsOldFile()
    {
        QFETCH(QString, place);
        QTemporaryDir dir;
        const QByteArray old = "{\"format\": \"velduo-line\"} old contents\n";
        const auto writeOld = [&](const QString& path) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(old);
        };
        QString target;
        QString oldFile;
        QDir folder(dir.path());
        if (place == "unwritable") {
            folder.mkdir("locked");
            oldFile = target = dir.filePath("locked/line.json");
            writeOld(oldFile);
            QVERIFY(
                QFile::setPermissions(dir.filePath("locked"), QFile::ReadOwner | QFile::ExeOwner));
        } else if (place == "directory") {
            folder.mkdir("line.json");
            target = dir.filePath("line.json");
            oldFile = dir.filePath("line.json/inside");
            writeOld(oldFile);
        } else {
            oldFile = dir.filePath("line.json");
            target = oldFile + "/line.json";
            writeOld(oldFile);
        }
        const QStringList before = everything(dir.path());

        // Permissions do not bind every user (root); a probe shows whether they bind this one.
        QFile probe(QFileInfo(oldFile).path() + "/probe");
        const bool permissionsIgnored = place == "unwritable" && probe.open(QIODevice::WriteOnly);
        const QString refusal =
            permissionsIgnored ? QString() : linefile::save(lineOf({readSensor()}), target);
        if (place == "unwritable") {
            probe.remove();
            QFile::setPermissions(dir.filePath("locked"),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        if (permissionsIgnored)
            QSKIP("this user writes into a directory without write permission");

        QVERIFY(!refusal.isEmpty());
        QVERIFY2(refusal.contains(target), qPrintable(refusal));
        QFile kept(oldFile);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), old);
        QCOMPARE(everything(dir.path()), before);
    }
};

QTEST_APPLESS_MAIN(TestLineFile)
#include "tst_linefile.moc"
