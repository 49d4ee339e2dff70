// velduo report as a process against a simulated bus: the PDF's text and the JSON hold every
// sensor, the differences and the summary, and nothing but reads goes on the wire.
#include "codec/linefile.h"
#include "sim/sensorbus.h"
#include "sim/sensorlogic.h"

#include <QtTest>

namespace {

struct Run
{
    int code = -1;
    QString out;
    QString err;
};

Run velduo(const QStringList& args)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("VELDUO_PORT"));
    // velduo draws its pages without a display whatever the environment says.
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("DISPLAY"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(VEL_VELDUO), args);
    process.closeWriteChannel();
    Run run;
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.code = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// The PDF's text as laid out, a row a line, its line breaks and runs of spaces made single
// spaces.
QString pdfText(const QString& path)
{
    QProcess process;
    process.start(QStringLiteral("pdftotext"),
                  {QStringLiteral("-layout"), path, QStringLiteral("-")});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return QString();
    return QString::fromUtf8(process.readAllStandardOutput()).simplified();
}

sim::Sensor named(quint8 addr, int baud, SensorType type, const QString& name)
{
    sim::Sensor sensor = sim::makeSensor(addr, baud, type);
    setNameText(sensor.ust, name);
    sealChecksum(sensor.ust);
    return sensor;
}

linefile::Sensor asSaved(const sim::Sensor& sensor)
{
    return linefile::fromBlocks(sensor.addr, sensor.baud, sensor.ust, sensor.param,
                                QDateTime::currentDateTime());
}

} // namespace

class TestReport : public QObject
{
    Q_OBJECT

    sim::SensorBus bus;
    QTemporaryDir dir;

    QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(bus.open(&error), qPrintable(error));
        QVERIFY(dir.isValid());
    }

    // A line as saved, then: a voltage sensor whose setpoint was changed since, a temperature
    // sensor as saved, a sensor left in its loader and one that is gone.
    void reportOfALineWithFaults()
    {
        const sim::Sensor voltage =
            named(1, 9600, SensorType::Voltage, QStringLiteral("Ввод 1 секции АБ"));
        const sim::Sensor temperature =
            named(2, 38400, SensorType::Temperature, QStringLiteral("Шина А"));
        sim::Sensor loader = named(3, 9600, SensorType::Voltage, QStringLiteral("Ввод 3"));
        const sim::Sensor gone = named(4, 9600, SensorType::Voltage, QStringLiteral("Ввод 4"));
        linefile::Line file;
        file.port = QStringLiteral("/dev/ttyUSB7");
        linefile::Sensor changed = asSaved(voltage);
        changed.setpoint = 250;
        file.sensors = {changed, asSaved(temperature), asSaved(loader), asSaved(gone)};
        QCOMPARE(linefile::save(file, path("line.json")), QString());
        loader.inLoader = true;
        bus.addSensor(voltage);
        bus.addSensor(temperature);
        bus.addSensor(loader);
        bus.clearLog();

        const QStringList args = {"report",     path("line.json"), "--out",  path("r.pdf"),
                                  "--port",     bus.slavePath(),   "--site", "ПС «Северная»",
                                  "--engineer", "Иванов И. И."};
        const Run run = velduo(args);
        // Written, but not everything answered and matches.
        QCOMPARE(run.code, 5);
        const QString text = pdfText(path("r.pdf"));
        QVERIFY2(text.contains(QStringLiteral("Протокол наладки линии")), qPrintable(text));
        for (const QString& wanted :
             {QStringLiteral("ПС «Северная»"), QStringLiteral("/dev/ttyUSB7"),
              QStringLiteral("Иванов И. И."), QStringLiteral("Ввод 1 секции АБ"),
              QStringLiteral("Шина А"), QStringLiteral("23.45 °С"), QStringLiteral("230 В"),
              QStringLiteral("В загрузчике"), QStringLiteral("Не ответил: Нет ответа"),
              QStringLiteral("Расхождения с файлом линии"),
              QStringLiteral("1@9600 «Ввод 1 секции АБ» Уставка 250 100"),
              QStringLiteral("Итог: Ответили 2 из 4 датчиков; не ответили: 4@9600 «Ввод 4»; в "
                             "загрузчике: 3@9600 «Ввод 3»; расходятся с файлом линии: 1@9600 "
                             "«Ввод 1 секции АБ» (Уставка)."),
              QStringLiteral("стр. 1 из 1")})
            QVERIFY2(text.contains(wanted), qPrintable(wanted + QStringLiteral("\n") + text));
        // A row a sensor, in the file's order.
        int at = 0;
        for (const char* address : {"1 9600", "2 38400", "3 9600", "4 9600"}) {
            at = text.indexOf(QLatin1String(address), at);
            QVERIFY2(at >= 0, address);
        }

        // The same in JSON.
        const Run json = velduo(args + QStringList{"--json"});
        QCOMPARE(json.code, 5);
        const QJsonObject report = QJsonDocument::fromJson(json.out.toUtf8()).object();
        QCOMPARE(report.value("format").toString(), QStringLiteral("velduo-report"));
        QCOMPARE(report.value("engineer").toString(), QStringLiteral("Иванов И. И."));
        QCOMPARE(report.value("line").toString(), QStringLiteral("/dev/ttyUSB7"));
        const QJsonArray sensors = report.value("sensors").toArray();
        QCOMPARE(sensors.size(), 4);
        QStringList states;
        for (const QJsonValue& sensor : sensors)
            states << sensor.toObject().value("state").toString();
        QCOMPARE(states, (QStringList{"answered", "answered", "loader", "silent"}));
        QCOMPARE(sensors[1].toObject().value("measure").toDouble(), 23.45);
        QVERIFY(!sensors[1].toObject().contains("zeroAdc"));
        const QJsonArray differences = report.value("differences").toArray();
        QCOMPARE(differences.size(), 1);
        QCOMPARE(differences[0].toObject().value("key").toString(), QStringLiteral("setpoint"));
        QVERIFY(text.contains(report.value("summary").toObject().value("text").toString()));

        // Reads only: the settings and parameters registers and the coil, never address 0.
        const QList<sim::Received> received = bus.received();
        QVERIFY(!received.isEmpty());
        for (const sim::Received& request : received) {
            QVERIFY2(request.bytes.size() > 1 && quint8(request.bytes[0]) != 0 &&
                         (quint8(request.bytes[1]) == rtu::code(rtu::Function::ReadRegisters) ||
                          quint8(request.bytes[1]) == rtu::code(rtu::Function::ReadCoils)),
                     request.bytes.toHex().constData());
        }
        for (quint8 address : {1, 2, 3})
            bus.updateSensor(address, [](sim::Sensor& s) { s.addr = 200; });
    }

    // Everything as the file says: code 0; a plan compares what it holds.
    void reportOfAMatchingPlan()
    {
        bus.addSensor(named(5, 115200, SensorType::Voltage, QStringLiteral("Ввод 5")));
        QFile plan(path("plan.json"));
        QVERIFY(plan.open(QIODevice::WriteOnly));
        plan.write(R"({"format": "velduo-line", "version": 1, "sensors": [
            {"address": 5, "speed": 115200, "name": "Ввод 5", "setpoint": 100}]})");
        plan.close();
        const Run run = velduo({"report", path("plan.json"), "--out", path("plan.pdf"), "--port",
                                bus.slavePath(), "--line", "Линия 5"});
        QCOMPARE(run.code, 0);
        const QString text = pdfText(path("plan.pdf"));
        QVERIFY2(text.contains(QStringLiteral("Линия 5")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral(
                     "Итог: Все датчики (1) ответили, их значения совпадают с файлом линии.")),
                 qPrintable(text));
        bus.updateSensor(5, [](sim::Sensor& s) { s.addr = 200; });
    }

    // At the end of a commissioning, from the line as commissioned, set against the plan: the
    // position that failed (its place was taken) is a row that says so.
    void commissionEndsWithTheReport()
    {
        bus.queueFactorySensors(1);
        bus.addSensor(named(7, 9600, SensorType::Voltage, QStringLiteral("Чужой")));
        QFile plan(path("commission.json"));
        QVERIFY(plan.open(QIODevice::WriteOnly));
        plan.write(R"({"format": "velduo-line", "version": 1, "sensors": [
            {"address": 6, "speed": 9600, "name": "Ввод 6", "setpoint": 250},
            {"address": 7, "speed": 9600, "name": "Ввод 7", "setpoint": 250}]})");
        plan.close();
        const Run run = velduo({"commission", path("commission.json"), "--out",
                                path("commissioned.json"), "--yes", "--port", bus.slavePath(),
                                "--report", path("commission.pdf"), "--engineer", "Петров"});
        QCOMPARE(run.code, 5);
        const QString text = pdfText(path("commission.pdf"));
        for (const QString& wanted :
             {QStringLiteral("Ввод 6"), QStringLiteral("250 В"), QStringLiteral("Петров"),
              QStringLiteral("commission.json"),
              QStringLiteral("Итог: Ответили 2 из 2 датчиков; расходятся с файлом линии: 7@9600 "
                             "«Ввод 7» (Название, Уставка).")})
            QVERIFY2(text.contains(wanted), qPrintable(wanted + QStringLiteral("\n") + text));
        QVERIFY2(run.out.contains(QStringLiteral("Протокол записан: ")), qPrintable(run.out));
        for (quint8 address : {6, 7})
            bus.updateSensor(address, [](sim::Sensor& s) { s.addr = 200; });
    }

    // Told before the wire: no file of the line, a place where no PDF can be written.
    void refusedBeforeTheWire()
    {
        bus.clearLog();
        const Run missing =
            velduo({"report", path("none.json"), "--out", path("x.pdf"), "--port", "/dev/null"});
        QCOMPARE(missing.code, 4);
        const Run unwritable = velduo({"report", path("plan.json"), "--out", path("no/such/x.pdf"),
                                       "--port", bus.slavePath()});
        QCOMPARE(unwritable.code, 4);
        QVERIFY2(unwritable.err.contains(QStringLiteral("не записан")), qPrintable(unwritable.err));
        QVERIFY(bus.received().isEmpty());
        const Run noOut = velduo({"report", path("plan.json"), "--port", bus.slavePath()});
        QCOMPARE(noOut.code, 2);
    }
};

QTEST_GUILESS_MAIN(TestReport)
#include "tst_report.moc"
