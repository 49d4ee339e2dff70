// velduo as a process against a simulated bus that this test serves.
#include "codec/errortext.h"
#include "codec/firmwareimage.h"
#include "codec/linefile.h"
#include "codec/readings.h"
#include "codec/rtu.h"
#include "core/sensor/calibrationstep.h"
#include "sim/sensorbus.h"
#include "sim/sensorlogic.h"
#include "support/lockfiles.h"

#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct Run
{
    int code = -1;
    QString out;
    QString err;
    QJsonObject json() const { return QJsonDocument::fromJson(out.toUtf8()).object(); }
    QString all() const { return out + err; }
};

// The program with a clean environment: no port named by it.
void prepare(QProcess& process, const QStringList& args)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("VELDUO_PORT"));
    env.remove(QStringLiteral("VEL_DUO300_EXTRA_PORTS"));
    process.setProcessEnvironment(env);
    process.setProgram(QStringLiteral(VEL_VELDUO));
    process.setArguments(args);
}

Run finished(QProcess& process)
{
    Run run;
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.code = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

Run velduo(const QStringList& args)
{
    QProcess process;
    prepare(process, args);
    process.start();
    process.closeWriteChannel();
    return finished(process);
}

// Waits until the bus has received a request that the predicate accepts.
bool waitForRequest(const sim::SensorBus& bus, const std::function<bool(const QByteArray&)>& wanted,
                    int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const QList<sim::Received> received = bus.received();
        for (const sim::Received& r : received) {
            if (wanted(r.bytes))
                return true;
        }
        if (deadline.hasExpired() ||
            !bus.waitForReceived(received.size() + 1, int(deadline.remainingTime())))
            return false;
    }
}

int requestCount(const sim::SensorBus& bus, rtu::Function function)
{
    int count = 0;
    for (const sim::Received& r : bus.received())
        count += r.bytes.size() > 1 && quint8(r.bytes.at(1)) == rtu::code(function);
    return count;
}

QByteArray image(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i * 7 + 3);
    return bytes;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray ustHex(const sim::Sensor& sensor)
{
    return blockBytes(sensor.ust).toHex();
}

const QByteArray threeEntryPlan = R"({"format": "velduo-line", "version": 1, "sensors": [
    {"address": 5, "speed": 9600, "name": "Ввод 1", "setpoint": 250, "flash": true,
     "calibrate": ["zero", "nominal"]},
    {"address": 6, "speed": 9600, "name": "Ввод 2", "setpoint": -40, "calibrate": ["nominal"]},
    {"address": 7, "speed": 115200, "name": "Ввод 3", "setpoint": 30000, "flash": true}]})";

enum Setup
{
    OneSensor,       // a voltage sensor at 1@9600
    OccupiedFactory, // one factory sensor waiting, and a sensor at 7@9600 already
    DamagedBlock,    // a voltage sensor at 1@9600 whose settings block names address 37
};

sim::Sensor named(quint8 addr, int baud, const QString& name)
{
    sim::Sensor sensor = sim::makeSensor(addr, baud, SensorType::Voltage);
    setNameText(sensor.ust, name);
    sealChecksum(sensor.ust);
    return sensor;
}

// The name velduo reads at the place, or why it read none.
QString nameAt(const QString& place, const QString& port)
{
    const Run run = velduo({"read", place, "--json", "--port", port});
    return run.code == 0 ? run.json().value("name").toString() : run.all();
}

bool isWriteTo(const QByteArray& request, quint16 reg)
{
    return request.size() > 4 && quint8(request[1]) == rtu::code(rtu::Function::WriteRegisters) &&
           quint16((quint8(request[2]) << 8) | quint8(request[3])) == reg;
}

} // namespace

Q_DECLARE_METATYPE(csv::Style)

class TestCli : public QObject
{
    Q_OBJECT

    sim::SensorBus bus;
    QTemporaryDir dir;

    QString port() const { return bus.slavePath(); }
    QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(bus.open(&error), qPrintable(error));
        QVERIFY(dir.isValid());
    }

    void init()
    {
        // A fresh line for every test: the sensors of the last one are moved out of the way.
        for (int addr = 1; addr <= 31; ++addr) {
            while (bus.hasSensor(quint8(addr)))
                bus.updateSensor(quint8(addr), [](sim::Sensor& s) { s.addr = 200; });
        }
        bus.clearFaults();
        bus.clearLog();
    }

    // A signal before any port is open (here while the plan is read from a pipe nobody writes
    // yet) ends velduo as an interrupted run: 130 and «Прервано», not killed by the signal.
    void endSignalBeforeThePortIsOpen_data()
    {
        QTest::addColumn<int>("signo");
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGTERM") << int(SIGTERM);
    }

    void endSignalBeforeThePortIsOpen()
    {
        QFETCH(int, signo);
        const QString fifo = path("plan.fifo");
        QFile::remove(fifo);
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QProcess process;
        prepare(process, {"commission", fifo, "--out", path("line.json"), "--port", port()});
        process.start();
        // A writer opens without blocking only once velduo has the pipe open for reading.
        int writer = -1;
        QTRY_VERIFY_WITH_TIMEOUT(
            (writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK)) >= 0,
            20000);
        QCOMPARE(::kill(pid_t(process.processId()), signo), 0);
        const Run run = finished(process);
        ::close(writer);
        QFile::remove(fifo);
        QCOMPARE(run.code, 130);
        QVERIFY2(run.err.contains(QStringLiteral("Прервано")), qPrintable(run.err));
        QVERIFY(bus.received().isEmpty());
    }

    // Without --port the first port of the list is used, and velduo says which.
    void portNotGivenIsAnnounced()
    {
        bus.addSensor(1, 9600, SensorType::Voltage);
        QProcess process;
        prepare(process, {"read", "1@9600"});
        QProcessEnvironment env = process.processEnvironment();
        env.insert(QStringLiteral("VEL_DUO300_EXTRA_PORTS"), port());
        process.setProcessEnvironment(env);
        process.start();
        const Run run = finished(process);
        QCOMPARE(run.code, 0);
        QVERIFY2(run.err.contains(QStringLiteral("взят первый из списка: ") + port()),
                 qPrintable(run.err));
    }

    // A confirmation answered on a terminal: Russian and English yes in any case agree, anything
    // else (an empty line included) declines and nothing is written.
    void confirmationOnATerminal_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("agreed");
        QTest::newRow("да") << QByteArray("да") << true;
        QTest::newRow("Д") << QByteArray("Д") << true;
        QTest::newRow("y") << QByteArray("y") << true;
        QTest::newRow("YES") << QByteArray("YES") << true;
        QTest::newRow("нет") << QByteArray("нет") << false;
        QTest::newRow("empty") << QByteArray() << false;
    }

    void confirmationOnATerminal()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, agreed);
        bus.addSensor(1, 9600, SensorType::Voltage);
        int master = -1;
        int slave = -1;
        QVERIFY(::openpty(&master, &slave, nullptr, nullptr, nullptr) == 0);
        const QString terminal = QString::fromLocal8Bit(::ttyname(slave));
        // The answer waits in the terminal until the prompt reads it.
        const QByteArray line = answer + '\n';
        QCOMPARE(::write(master, line.constData(), size_t(line.size())), ssize_t(line.size()));

        QProcess process;
        prepare(process, {"set-address", "1@9600", "5", "--port", port()});
        process.setStandardInputFile(terminal);
        process.start();
        const Run run = finished(process);
        ::close(slave);
        ::close(master);

        QVERIFY2(run.err.contains(QStringLiteral("Продолжить? [да/нет]")), qPrintable(run.err));
        QCOMPARE(run.code, agreed ? 0 : 4);
        QCOMPARE(bus.hasSensor(5), agreed);
        QCOMPARE(bus.hasSensor(1), !agreed);
    }

    // On a terminal the zero calibration waits for the operator to apply 0 V, as the
    // commissioning does; --yes goes on at once.
    void calibrationAsksOnATerminal_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("asked") << false;
        QTest::newRow("--yes") << true;
    }

    void calibrationAsksOnATerminal()
    {
        QFETCH(bool, yes);
        bus.addSensor(sim::factorySensor(SensorType::Voltage));
        const int zero = bus.sensor(1).param.adc;
        int master = -1;
        int slave = -1;
        QVERIFY(::openpty(&master, &slave, nullptr, nullptr, nullptr) == 0);
        const QString terminal = QString::fromLocal8Bit(::ttyname(slave));
        QCOMPARE(::write(master, "\n", 1), ssize_t(1));

        QStringList args{"calibrate", "zero", "1", "--port", port()};
        if (yes)
            args << "--yes";
        QProcess process;
        prepare(process, args);
        process.setStandardInputFile(terminal);
        process.start();
        const Run run = finished(process);
        ::close(slave);
        ::close(master);

        QCOMPARE(run.code, 0);
        QCOMPARE(run.err.contains(QStringLiteral("Подайте 0 В на датчик")), !yes);
        QCOMPARE(int(bus.sensor(1).ust.zeroAdc), zero);
    }

    void infoAndReadDescribeTheSensorWithTheLineFileKeys()
    {
        sim::Sensor sensor = sim::makeSensor(3, 38400, SensorType::Voltage);
        setNameText(sensor.ust, QStringLiteral("Шина А"));
        sensor.ust.threshold = -12;
        sensor.ust.zeroAdc = 111;
        sensor.ust.nomAdc = 3333;
        sensor.param.adc = 2222;
        sensor.param.measure = 231;
        sensor.param.workTime = 3725;
        sealChecksum(sensor.ust);
        bus.addSensor(sensor);

        const Run info = velduo({"info", "3@38400", "--json", "--port", port()});
        QCOMPARE(info.code, 0);
        const QJsonObject live = info.json();
        QCOMPARE(live.value("address").toInt(), 3);
        QCOMPARE(live.value("speed").toInt(), 38400);
        QCOMPARE(live.value("type").toInt(), 2);
        QCOMPARE(live.value("name").toString(), QStringLiteral("Шина А"));
        QCOMPARE(live.value("setpoint").toInt(), -12);
        QCOMPARE(live.value("zeroAdc").toInt(), 111);
        QCOMPARE(live.value("nomAdc").toInt(), 3333);
        QCOMPARE(live.value("version").toString(), versionText(sensor.param));
        QCOMPARE(live.value("measure").toInt(), 231);
        QCOMPARE(live.value("adc").toInt(), 2222);
        QCOMPARE(live.value("workTime").toInt(), 3725);
        QCOMPARE(live.value("block").toString().toLatin1(), ustHex(sensor));

        const Run read = velduo({"read", "3@38400", "--json", "--port", port()});
        QCOMPARE(read.code, 0);
        const QJsonObject settings = read.json();
        QCOMPARE(settings.value("name").toString(), QStringLiteral("Шина А"));
        QCOMPARE(settings.value("setpoint").toInt(), -12);
        QCOMPARE(settings.value("zeroAdc").toInt(), 111);
        QCOMPARE(settings.value("nomAdc").toInt(), 3333);
        QCOMPARE(settings.value("block").toString().toLatin1(), ustHex(sensor));
        // Only the settings were read.
        QVERIFY(!settings.contains("type"));
        QCOMPARE(requestCount(bus, rtu::Function::ReadCoils), 1);

        // The human form of the same.
        const Run text = velduo({"read", "3@38400", "--port", port()});
        QCOMPARE(text.code, 0);
        QVERIFY2(text.out.contains(QStringLiteral("«Шина А»")), qPrintable(text.out));
        QVERIFY2(text.out.contains(QString::fromLatin1(blockBytes(sensor.ust).toHex(' '))),
                 qPrintable(text.out));
    }

    // With --json a line a sensor as each is found, every line an object with the line file's
    // keys, and the line file whole last.
    void scanFindsTheSensorsAtTheListedSpeeds()
    {
        bus.addSensor(1, 9600, SensorType::Voltage);
        bus.addSensor(2, 38400, SensorType::Temperature);
        bus.addSensor(3, 19200, SensorType::Voltage); // at a speed not searched
        const Run run = velduo(
            {"scan", "--speeds", "9600,38400", "--addresses", "1-3", "--json", "--port", port()});
        QCOMPARE(run.code, 0);
        const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        for (const QString& text : lines) {
            QJsonParseError error;
            QJsonDocument::fromJson(text.toUtf8(), &error);
            QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(text));
        }
        const QJsonObject first = QJsonDocument::fromJson(lines[0].toUtf8()).object();
        QCOMPARE(first.value("address").toInt(), 1);
        QCOMPARE(first.value("speed").toInt(), 9600);
        QCOMPARE(first.value("type").toInt(), 2);
        QCOMPARE(QJsonDocument::fromJson(lines[1].toUtf8()).object().value("address").toInt(), 2);
        const linefile::ReadResult line = linefile::parse(lines[2].toUtf8(), linefile::Mode::File);
        QVERIFY2(line.ok(), qPrintable(line.refusal + run.out));
        QCOMPARE(line.line.port, port());
        QCOMPARE(line.line.sensors.size(), 2);
        QCOMPARE(line.line.sensors[0].address, 1);
        QCOMPARE(line.line.sensors[0].speed, 9600);
        QCOMPARE(line.line.sensors[0].type, std::optional<int>(2));
        QCOMPARE(line.line.sensors[1].address, 2);
        QCOMPARE(line.line.sensors[1].speed, 38400);
        QCOMPARE(line.line.sensors[1].type, std::optional<int>(1));
        QCOMPARE(line.line.sensors[1].version,
                 std::optional<QString>(versionText(bus.sensor(2).param)));
    }

    // A sensor found is told at once, not when the whole list has been probed.
    void scanTellsEachSensorAsItIsFound_data()
    {
        QTest::addColumn<bool>("json");
        QTest::newRow("text") << false;
        QTest::newRow("--json") << true;
    }

    void scanTellsEachSensorAsItIsFound()
    {
        QFETCH(bool, json);
        bus.addSensor(1, 9600, SensorType::Voltage);
        QStringList args{"scan", "--speeds", "9600", "--addresses", "1-31", "--port", port()};
        if (json)
            args << "--json";
        QProcess process;
        prepare(process, args);
        process.start();
        process.closeWriteChannel();
        QVERIFY(process.waitForReadyRead(30000));
        while (!process.canReadLine())
            QVERIFY(process.waitForReadyRead(30000));
        const QString line = QString::fromUtf8(process.readLine());
        // The last address is still to be probed.
        for (const sim::Received& r : bus.received())
            QVERIFY2(r.bytes.isEmpty() || quint8(r.bytes.at(0)) != 31, qPrintable(line));
        if (json)
            QCOMPARE(QJsonDocument::fromJson(line.toUtf8()).object().value("address").toInt(), 1);
        else
            QVERIFY2(line.startsWith(QStringLiteral("1@9600")), qPrintable(line));
        const Run run = finished(process);
        QCOMPARE(run.code, 0);
        if (!json)
            QCOMPARE(run.out, QStringLiteral("Найдено устройств: 1\n"));
    }

    void writeChangesOnlyWhatIsGivenAndFollowsTheSpeed()
    {
        bus.addSensor(1, 9600, SensorType::Voltage);
        bus.updateSensor(1, [](sim::Sensor& s) {
            setNameText(s.ust, QStringLiteral("Старое"));
            sealChecksum(s.ust);
        });
        const Run run = velduo({"write", "1@9600", "--speed", "19200", "--setpoint", "250",
                                "--json", "--port", port()});
        QCOMPARE(run.code, 0);
        const sim::Sensor sensor = bus.sensor(1);
        QCOMPARE(sensor.baud, 19200);
        QCOMPARE(int(sensor.ust.threshold), 250);
        QCOMPARE(nameText(sensor.ust), QStringLiteral("Старое"));
        const QJsonObject json = run.json();
        QCOMPARE(json.value("speed").toInt(), 19200);
        QCOMPARE(json.value("setpoint").toInt(), 250);
        QCOMPARE(json.value("name").toString(), QStringLiteral("Старое"));
        QCOMPARE(json.value("block").toString().toLatin1(), ustHex(sensor));
        // Read back at the new speed.
        QCOMPARE(bus.received().last().baud, 19200);
    }

    void setAddressThenReset()
    {
        bus.addSensor(1, 9600, SensorType::Voltage);
        Run run = velduo({"set-address", "1@9600", "7", "--yes", "--json", "--port", port()});
        QCOMPARE(run.code, 0);
        QCOMPARE(run.json().value("address").toInt(), 7);
        QVERIFY(bus.hasSensor(7));
        QCOMPARE(int(bus.sensor(7).ust.mbAddr), 7);

        run = velduo({"reset", "7@9600", "--yes", "--json", "--port", port()});
        QCOMPARE(run.code, 0);
        QCOMPARE(run.json().value("address").toInt(), 1);
        QCOMPARE(run.json().value("speed").toInt(), 115200);
        QCOMPARE(blockBytes(bus.sensor(1).ust), blockBytes(defaultUstBlock()));
        QCOMPARE(bus.sensor(1).baud, 115200);
    }

    void calibrationStepsTheGainAndStoresThePoints()
    {
        bus.addSensor(sim::factorySensor(SensorType::Voltage));
        const int zero = bus.sensor(1).param.adc;
        Run run = velduo({"calibrate", "zero", "1", "--json", "--port", port()});
        QCOMPARE(run.code, 0);
        QCOMPARE(int(bus.sensor(1).ust.zeroAdc), zero);
        QCOMPARE(run.json().value("zeroAdc").toInt(), zero);

        run = velduo({"calibrate", "nominal", "1", "--json", "--port", port()});
        QCOMPARE(run.code, 0);
        const sim::Sensor sensor = bus.sensor(1);
        QCOMPARE(run.json().value("nomAdc").toInt(), int(sensor.ust.nomAdc));
        QVERIFY(!calibration::beyondWindow(calibration::Phase::Raise, sensor.ust.nomAdc));
        QVERIFY(sensor.potent > 64);
        QCOMPARE(int(sensor.ust.zeroAdc), zero);

        // A temperature sensor is not calibrated.
        bus.addSensor(2, 115200, SensorType::Temperature);
        bus.clearLog();
        run = velduo({"calibrate", "nominal", "2", "--port", port()});
        QCOMPARE(run.code, 4);
        QCOMPARE(requestCount(bus, rtu::Function::WriteRegisters), 0);
    }

    void flashWritesTheImage()
    {
        bus.addSensor(1, 9600, SensorType::Voltage);
        const QByteArray bytes = image(5000);
        QVERIFY(writeFile(path("app.bin"), bytes));
        const Run run =
            velduo({"flash", "1@9600", path("app.bin"), "--yes", "--json", "--port", port()});
        QCOMPARE(run.code, 0);
        QCOMPARE(run.json().value("bytes").toInt(), 5000);
        const sim::Sensor sensor = bus.sensor(1);
        QCOMPARE(sensor.flash.left(bytes.size()), bytes);
        QVERIFY(!sensor.inLoader);
    }

    void watchPollsBySpeedUntilInterrupted()
    {
        bus.addSensor(1, 9600, SensorType::Voltage);
        bus.addSensor(2, 38400, SensorType::Temperature);
        bus.addSensor(3, 9600, SensorType::Voltage);
        QProcess process;
        prepare(process, {"watch", "1@9600", "2@38400", "3@9600", "--interval", "0.05", "--json",
                          "--port", port()});
        process.start();
        QString out;
        QTRY_VERIFY_WITH_TIMEOUT(
            (out += QString::fromUtf8(process.readAllStandardOutput()), out.count('\n') >= 6),
            20000);
        QCOMPARE(::kill(pid_t(process.processId()), SIGINT), 0);
        const Run run = finished(process);
        QCOMPARE(run.code, 130);
        out += run.out;
        const QStringList lines = out.split('\n', Qt::SkipEmptyParts);
        // The sensors at 9600 one after the other, then the one at 38400; the next round starts
        // at the speed the port is open at.
        const int order[] = {1, 3, 2, 2, 1, 3};
        for (int i = 0; i < 6; ++i) {
            const QJsonObject reading = QJsonDocument::fromJson(lines[i].toUtf8()).object();
            QCOMPARE(reading.value("address").toInt(), order[i]);
            QCOMPARE(reading.value("error").toInt(), 0);
            QVERIFY(QDateTime::fromString(reading.value("time").toString(), Qt::ISODateWithMs)
                        .isValid());
            QVERIFY(reading.contains("measure"));
        }
    }

    // watch --csv writes the overview's columns, with the sensor's name, in either style.
    void watchWritesCsv_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<csv::Style>("style");
        QTest::newRow("--csv") << QStringList{"--csv"} << csv::Style::Comma;
        QTest::newRow("--csv-style semicolon")
            << QStringList{"--csv-style", "semicolon"} << csv::Style::Semicolon;
    }

    void watchWritesCsv()
    {
        QFETCH(QStringList, options);
        QFETCH(csv::Style, style);
        bus.addSensor(named(1, 9600, QStringLiteral("Ввод; \"А\"")));
        bus.updateSensor(1, [](sim::Sensor& s) {
            s.param.measure = 231;
            s.param.adc = 2222;
        });
        QProcess process;
        prepare(process,
                QStringList{"watch", "1@9600", "--interval", "0.05", "--port", port()} + options);
        process.start();
        QString out;
        QTRY_VERIFY_WITH_TIMEOUT(
            (out += QString::fromUtf8(process.readAllStandardOutput()), out.count('\n') >= 2),
            20000);
        QCOMPARE(::kill(pid_t(process.processId()), SIGINT), 0);
        const Run run = finished(process);
        QCOMPARE(run.code, 130);
        const QStringList lines = out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.at(0), csv::header(style));
        const QChar separator = style == csv::Style::Comma ? ',' : ';';
        const QString quotedName = "\"Ввод; \"\"А\"\"\"";
        const QStringList fields{port(), "1", "9600", "2", quotedName, "231", "V", "2222", "0"};
        QCOMPARE(lines.at(1).section(separator, 1), fields.join(separator));
        // The time names its offset from UTC.
        const QString time = lines.at(1).section(separator, 0, 0);
        QVERIFY2(QRegularExpression(QStringLiteral(R"(\.\d{3}([+-]\d\d:\d\d|Z)$)"))
                     .match(time)
                     .hasMatch(),
                 qPrintable(time));
    }

    // A usage error names the command once: "velduo write: ...", not "velduo write: write: ...".
    void usageErrorNamesTheCommandOnce_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("write") << QStringList{"write", "1@9600"};
        QTest::newRow("calibrate") << QStringList{"calibrate", "foo", "1@9600"};
        QTest::newRow("watch") << QStringList{"watch"};
    }

    void usageErrorNamesTheCommandOnce()
    {
        QFETCH(QStringList, args);
        const Run run = velduo(args);
        QCOMPARE(run.code, 2);
        const QString command = args.first();
        QVERIFY2(run.err.startsWith(QStringLiteral("velduo %1: ").arg(command)),
                 qPrintable(run.err));
        QVERIFY2(!run.err.contains(QStringLiteral("%1: %1:").arg(command)), qPrintable(run.err));
    }

    // With --json a wrong command line prints one JSON object too, whether the command itself
    // or its options are wrong.
    void usageErrorInJson_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("unknown command") << QStringList{"bogus", "--json"};
        QTest::newRow("unknown option") << QStringList{"read", "1@9600", "--bogus", "--json"};
        QTest::newRow("sensor not in its form") << QStringList{"read", "1@96O0", "--json"};
    }

    void usageErrorInJson()
    {
        QFETCH(QStringList, args);
        const Run run = velduo(args);
        QCOMPARE(run.code, 2);
        const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1);
        const QJsonObject object = QJsonDocument::fromJson(lines.first().toUtf8()).object();
        QCOMPARE(object.value("status").toString(), QStringLiteral("usage"));
        QVERIFY(!object.value("text").toString().isEmpty());
    }

    void exitCodes_data()
    {
        QTest::addColumn<int>("setup");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("interrupt");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        QTest::addColumn<bool>("written"); // a write may reach the sensor

        QTest::newRow("1 silent sensor")
            << int(OneSensor) << QStringList{"read", "2@9600", "--json", "--port", "%port"} << false
            << 1 << errorTextFor(rtu::NoAnswer) << false;
        QTest::newRow("1 silent sensor, its port named")
            << int(OneSensor) << QStringList{"read", "2@9600", "--port", "%port"} << false << 1
            << "Датчик 2@9600 на порту %port: ошибка 6" << false;
        QTest::newRow("2 bad arguments")
            << int(OneSensor) << QStringList{"read", "1@96O0", "--port", "%port"} << false << 2
            << "1@96O0" << false;
        // A value outside what it may be is refused (4), whichever option or argument gives it.
        QTest::newRow("4 speed no sensor can have, in SENSOR")
            << int(OneSensor) << QStringList{"read", "1@1234", "--port", "%port"} << false << 4
            << "1234" << false;
        QTest::newRow("4 address no sensor can have, in SENSOR")
            << int(OneSensor) << QStringList{"info", "300@9600", "--port", "%port"} << false << 4
            << "адрес вне диапазона" << false;
        QTest::newRow("4 scan speed no sensor can have")
            << int(OneSensor) << QStringList{"scan", "--speeds", "9600,12345", "--port", "%port"}
            << false << 4 << "12345" << false;
        QTest::newRow("4 scan address out of range")
            << int(OneSensor) << QStringList{"scan", "--addresses", "1-300", "--port", "%port"}
            << false << 4 << "1-300" << false;
        QTest::newRow("2 scan addresses not a list")
            << int(OneSensor) << QStringList{"scan", "--addresses", "1..3", "--port", "%port"}
            << false << 2 << "--addresses" << false;
        QTest::newRow("4 setpoint out of range")
            << int(OneSensor)
            << QStringList{"write", "1@9600", "--setpoint", "99999", "--port", "%port"} << false
            << 4 << "должно быть от -30000 до 30000" << false;
        QTest::newRow("2 help for a command there is not")
            << int(OneSensor) << QStringList{"help", "bogus"} << false << 2 << "bogus" << false;
        QTest::newRow("2 unknown option, in Russian")
            << int(OneSensor) << QStringList{"read", "1@9600", "--bogus", "--port", "%port"}
            << false << 2 << "Неизвестный параметр «bogus»" << false;
        QTest::newRow("4 speed no sensor can have")
            << int(OneSensor)
            << QStringList{"write", "1@9600", "--speed", "12345", "--port", "%port"} << false << 4
            << "12345" << false;
        QTest::newRow("2 speed not a number")
            << int(OneSensor)
            << QStringList{"write", "1@9600", "--speed", "fast", "--port", "%port"} << false << 2
            << "--speed" << false;
        QTest::newRow("4 new address out of range, in --json")
            << int(OneSensor)
            << QStringList{"set-address", "1@9600", "40", "--yes", "--json", "--port", "%port"}
            << false << 4 << "новый адрес 40 вне диапазона от 1 до 31" << false;
        QTest::newRow("0 the address it has already")
            << int(OneSensor)
            << QStringList{"set-address", "1@9600", "1", "--yes", "--port", "%port"} << false << 0
            << "Датчик 1@9600 уже отвечает по адресу 1: ничего не записано" << false;
        QTest::newRow("4 plan that is not JSON, in Russian")
            << int(OneSensor)
            << QStringList{"commission", "%dir/broken.json", "--out", "%dir/line.json",
                           "--yes",      "--port",           "%port"}
            << false << 4 << "список не закрыт «]»" << false;
        QTest::newRow("2 log in a missing folder, in Russian")
            << int(OneSensor)
            << QStringList{"info", "1@9600", "--log", "%dir/none/log.txt", "--port", "%port"}
            << false << 2 << "%dir/none/log.txt» не открыт: нет такого файла или папки" << false;
        QTest::newRow("3 missing port")
            << int(OneSensor) << QStringList{"info", "1@9600", "--port", "/dev/velduo-none"}
            << false << 3 << "/dev/velduo-none" << false;
        QTest::newRow("3 missing port, what to do in velduo's words")
            << int(OneSensor)
            << QStringList{"info", "1@9600", "--json", "--port", "/dev/velduo-none"} << false << 3
            << "Порт /dev/velduo-none: Порт не найден: адаптер не подключён или имя порта неверно. "
               "Подключите адаптер; порты системы перечисляет velduo ports."
            << false;
        QTest::newRow("4 oversize image")
            << int(OneSensor)
            << QStringList{"flash", "1@9600", "%dir/big.bin", "--yes", "--port", "%port"} << false
            << 4 << "10241" << false;
        QTest::newRow("4 image file missing")
            << int(OneSensor)
            << QStringList{"flash", "1@9600", "%dir/none.bin", "--yes", "--port", "%port"} << false
            << 4 << "нет файла образа" << false;
        QTest::newRow("4 name outside Windows-1251")
            << int(OneSensor) << QStringList{"write", "1@9600", "--name", "名", "--port", "%port"}
            << false << 4 << "Windows-1251" << false;
        QTest::newRow("4 declined confirmation")
            << int(OneSensor) << QStringList{"set-address", "1@9600", "7", "--port", "%port"}
            << false << 4 << "--yes" << false;
        QTest::newRow("5 commission with one failing sensor")
            << int(OccupiedFactory)
            << QStringList{"commission", "%dir/plan.json", "--out",  "%dir/line.json",
                           "--yes",      "--json",         "--port", "%port"}
            << false << 5 << "7@9600" << true;
        QTest::newRow("1 damaged settings block")
            << int(DamagedBlock)
            << QStringList{"set-address", "1@9600", "7", "--yes", "--port", "%port"} << false << 1
            << QStringLiteral("в блоке адрес 37") << false;
        QTest::newRow("130 SIGINT during a flash")
            << int(OneSensor) << QStringList{"flash", "1@9600",       "%dir/app.bin", "--yes",
                                             "--log", "%dir/log.txt", "--port",       "%port"}
            << true << 130 << "" << true;
    }

    void exitCodes()
    {
        QFETCH(int, setup);
        QFETCH(QStringList, args);
        QFETCH(bool, interrupt);
        QFETCH(int, code);
        QFETCH(QString, says);
        QFETCH(bool, written);
        QTemporaryDir scratch;
        QVERIFY(writeFile(scratch.filePath("big.bin"), image(firmware::areaSize + 1)));
        // A whole area, its last word blank for the checksum.
        QVERIFY(writeFile(scratch.filePath("app.bin"),
                          image(firmware::checksumOffset) + QByteArray(4, char(0xFF))));
        QVERIFY(writeFile(scratch.filePath("broken.json"), R"({"format": "velduo-line",
            "version": 1, "sensors": [{"address": 5} )"));
        QVERIFY(writeFile(scratch.filePath("plan.json"), R"({"format": "velduo-line",
            "version": 1, "sensors": [
            {"address": 5, "speed": 9600, "name": "A", "setpoint": 1},
            {"address": 7, "speed": 9600, "name": "B", "setpoint": 2}]})"));
        args.replaceInStrings("%port", port());
        args.replaceInStrings("%dir", scratch.path());
        if (setup == OneSensor) {
            bus.addSensor(1, 9600, SensorType::Voltage);
        } else if (setup == DamagedBlock) {
            bus.addSensor(1, 9600, SensorType::Voltage);
            bus.updateSensor(1, [](sim::Sensor& s) {
                s.ust.mbAddr = 37;
                sealChecksum(s.ust);
            });
        } else {
            bus.addSensor(7, 9600, SensorType::Voltage);
            bus.queueFactorySensors(1);
        }

        QProcess process;
        prepare(process, args);
        process.start();
        process.closeWriteChannel();
        if (interrupt) {
            // An upload chunk goes unanswered; the signal comes while its exchange is in flight.
            const quint16 chunk = firmware::areaStart + 10 * firmware::chunkSize;
            bus.setFault(1, rtu::Function::WriteRegisters, {sim::Fault::Silence, 0, -1, 0, chunk});
            QVERIFY(waitForRequest(
                bus,
                [chunk](const QByteArray& r) {
                    return r.size() > 4 &&
                           quint8(r[1]) == rtu::code(rtu::Function::WriteRegisters) &&
                           quint16((quint8(r[2]) << 8) | quint8(r[3])) == chunk;
                },
                30000));
            QVERIFY2(!lockFiles(port()).isEmpty(), "no lock file while the port is open");
            QCOMPARE(::kill(pid_t(process.processId()), SIGINT), 0);
        }
        const Run run = finished(process);
        QVERIFY2(run.code == code, qPrintable(QString::number(run.code) + '\n' + run.all()));
        says.replace("%port", port());
        says.replace("%dir", scratch.path());
        QVERIFY2(run.all().contains(says), qPrintable(run.all()));
        // With --json a fault is one object, its text the same.
        if (args.contains("--json") && code != 0 && code != 5 && !interrupt) {
            const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
            QCOMPARE(lines.size(), 1);
            const QJsonObject object = QJsonDocument::fromJson(lines.first().toUtf8()).object();
            QVERIFY2(object.value("text").toString().contains(says), qPrintable(run.out));
        }
        if (!written)
            QCOMPARE(requestCount(bus, rtu::Function::WriteRegisters), 0);
        if (code == 5) {
            const linefile::ReadResult line =
                linefile::readFile(scratch.filePath("line.json"), linefile::Mode::File);
            QVERIFY2(line.ok(), qPrintable(line.refusal));
            QCOMPARE(line.line.sensors.size(), 1);
            QCOMPARE(line.line.sensors[0].address, 5);
        }
        if (interrupt) {
            QCOMPARE(lockFiles(port()), QStringList());
            // The log's last request is the last one on the line; no answer follows it.
            QFile log(scratch.filePath("log.txt"));
            QVERIFY(log.open(QIODevice::ReadOnly));
            const QStringList lines =
                QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
            const QString lastRequest =
                QStringLiteral("| << ") + rtu::hexText(bus.received().last().bytes);
            int at = lines.size() - 1;
            while (at >= 0 && !lines.at(at).endsWith(lastRequest))
                --at;
            QVERIFY2(at >= 0 && at >= lines.size() - 2, qPrintable(lines.join('\n')));
            for (int i = at + 1; i < lines.size(); ++i)
                QVERIFY2(!lines.at(i).contains(QLatin1String("| >> ")), qPrintable(lines.at(i)));
        }
    }

    // Every command that moves a sensor, with another sensor where it would land: nothing is
    // written, the refusal names that sensor, and both still answer where they were.
    void moveOntoATakenPlace_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("holderAddress"); // where the other sensor answers
        QTest::addColumn<int>("holderSpeed");
        QTest::addColumn<int>("code");

        QTest::newRow("set-address")
            << QStringList{"set-address", "3@9600", "5", "--yes"} << 5 << 9600 << 4;
        QTest::newRow("write with a new speed")
            << QStringList{"write", "3@9600", "--speed", "38400"} << 3 << 38400 << 4;
        QTest::newRow("reset") << QStringList{"reset", "3@9600", "--yes"} << 1 << 115200 << 4;
        // The factory sensor waits at 1@115200 for the entry's place.
        QTest::newRow("commission entry")
            << QStringList{"commission", "%dir/plan.json", "--out", "%dir/line.json", "--yes"} << 5
            << 9600 << 5;
    }

    void moveOntoATakenPlace()
    {
        QFETCH(QStringList, args);
        QFETCH(int, holderAddress);
        QFETCH(int, holderSpeed);
        QFETCH(int, code);
        QTemporaryDir scratch;
        QVERIFY(writeFile(scratch.filePath("broken.json"), R"({"format": "velduo-line",
            "version": 1, "sensors": [{"address": 5} )"));
        QVERIFY(writeFile(scratch.filePath("plan.json"), R"({"format": "velduo-line",
            "version": 1, "sensors": [{"address": 5, "speed": 9600, "name": "Ввод В",
            "setpoint": 1}]})"));
        bus.addSensor(named(quint8(holderAddress), holderSpeed, QStringLiteral("Ввод Б")));
        const QString holder = QStringLiteral("%1@%2").arg(holderAddress).arg(holderSpeed);
        QString moved = QStringLiteral("3@9600");
        if (args.first() == QLatin1String("commission")) {
            bus.queueFactorySensors(1);
            QTRY_VERIFY(bus.hasSensor(1));
            bus.updateSensor(1, [](sim::Sensor& s) {
                setNameText(s.ust, QStringLiteral("Ввод А"));
                sealChecksum(s.ust);
            });
            moved = QStringLiteral("1@115200");
        } else {
            bus.addSensor(named(3, 9600, QStringLiteral("Ввод А")));
        }
        bus.clearLog();

        args.replaceInStrings("%dir", scratch.path());
        const Run run = velduo(args + QStringList{"--port", port()});

        QVERIFY2(run.code == code, qPrintable(QString::number(run.code) + '\n' + run.all()));
        QVERIFY2(run.all().contains(QStringLiteral("«Ввод Б»")), qPrintable(run.all()));
        QCOMPARE(requestCount(bus, rtu::Function::WriteRegisters), 0);
        QCOMPARE(nameAt(moved, port()), QStringLiteral("Ввод А"));
        QCOMPARE(nameAt(holder, port()), QStringLiteral("Ввод Б"));
    }

    // Two new sensors commissioned to two addresses at one speed: the second one's write goes
    // from the factory place straight to its own, never through the first one's.
    void commissionOfTwoFactorySensorsAtOneSpeed()
    {
        QVERIFY(writeFile(path("plan2.json"), R"({"format": "velduo-line", "version": 1,
            "sensors": [{"address": 1, "speed": 9600, "name": "Ввод A", "setpoint": 1},
                        {"address": 2, "speed": 9600, "name": "Ввод B", "setpoint": 2}]})"));
        bus.queueFactorySensors(2);
        const Run run = velduo({"commission", path("plan2.json"), "--out", path("line2.json"),
                                "--yes", "--port", port()});
        QVERIFY2(run.code == 0, qPrintable(run.all()));
        QCOMPARE(bus.factorySensorsWaiting(), 0);
        QCOMPARE(nameAt("1@9600", port()), QStringLiteral("Ввод A"));
        QCOMPARE(nameAt("2@9600", port()), QStringLiteral("Ввод B"));
        const linefile::Line line =
            linefile::readFile(path("line2.json"), linefile::Mode::File).line;
        QCOMPARE(line.sensors.size(), 2);
        QCOMPARE(line.sensors[0].name, std::optional<QString>(QStringLiteral("Ввод A")));
        QCOMPARE(line.sensors[1].name, std::optional<QString>(QStringLiteral("Ввод B")));
    }

    // A flash cut short leaves the sensor in its loader: info and read say so and name the way
    // back, and flashing it again brings it back.
    void flashCutShortLeavesTheSensorInItsLoader_data()
    {
        QTest::addColumn<bool>("portLoss"); // else a signal
        QTest::newRow("signal") << false;
        QTest::newRow("port lost") << true;
    }

    void flashCutShortLeavesTheSensorInItsLoader()
    {
        QFETCH(bool, portLoss);
        QTemporaryDir scratch;
        const QByteArray bytes = image(2000);
        QVERIFY(writeFile(scratch.filePath("app.bin"), bytes));
        // The adapter the port loss unplugs, under a fixed name.
        sim::SensorBus local;
        const QString adapter = scratch.filePath("ttyADAPTER");
        QString error;
        QVERIFY2(local.open(&error, adapter), qPrintable(error));
        sim::SensorBus& line = portLoss ? local : bus;
        const QString linePort = portLoss ? adapter : port();
        line.addSensor(1, 38400, SensorType::Voltage);
        const quint16 chunk = firmware::areaStart + 3 * firmware::chunkSize;
        line.setFault(1, rtu::Function::WriteRegisters, {sim::Fault::Silence, 0, -1, 0, chunk});

        QProcess process;
        prepare(process,
                {"flash", "1@38400", scratch.filePath("app.bin"), "--yes", "--port", linePort});
        process.start();
        process.closeWriteChannel();
        QVERIFY(waitForRequest(
            line, [chunk](const QByteArray& r) { return isWriteTo(r, chunk); }, 30000));
        if (portLoss)
            line.hangUp();
        else
            QCOMPARE(::kill(pid_t(process.processId()), SIGINT), 0);
        const Run cut = finished(process);
        QCOMPARE(cut.code, portLoss ? 3 : 130);
        QVERIFY2(cut.err.contains(QStringLiteral("остался в загрузчике")), qPrintable(cut.err));

        // The adapter back, with the sensor as the cut left it.
        sim::SensorBus again;
        if (portLoss) {
            QVERIFY2(again.open(&error, adapter), qPrintable(error));
            again.addSensor(local.sensor(1));
        }
        sim::SensorBus& now = portLoss ? again : bus;
        QVERIFY(now.sensor(1).inLoader);
        now.clearFaults();
        const QString wayBack = QStringLiteral("velduo flash 1@38400 ОБРАЗ");
        for (const char* command : {"info", "read"}) {
            const Run run = velduo({command, "1@38400", "--port", linePort});
            QCOMPARE(run.code, 1);
            QVERIFY2(run.err.contains(QStringLiteral("остался в загрузчике")) &&
                         run.err.contains(wayBack),
                     qPrintable(run.err));
        }

        const Run back =
            velduo({"flash", "1@38400", scratch.filePath("app.bin"), "--yes", "--port", linePort});
        QVERIFY2(back.code == 0, qPrintable(back.all()));
        QVERIFY(!now.sensor(1).inLoader);
        QCOMPARE(now.sensor(1).flash.left(bytes.size()), bytes);
        QCOMPARE(velduo({"info", "1@38400", "--port", linePort}).code, 0);
    }

    // A commission cut short during a flash leaves the factory sensor in its loader; the resumed
    // run finds it there and flashes it as its plan says, or says how to bring it back.
    void resumeFindsAFactorySensorInItsLoader_data()
    {
        QTest::addColumn<bool>("planFlashes");
        QTest::newRow("the plan flashes it") << true;
        QTest::newRow("the plan does not") << false;
    }

    void resumeFindsAFactorySensorInItsLoader()
    {
        QFETCH(bool, planFlashes);
        QTemporaryDir scratch;
        const QByteArray bytes = image(3000);
        QVERIFY(writeFile(scratch.filePath("app.bin"), bytes));
        QVERIFY(writeFile(scratch.filePath("flash.json"), R"({"format": "velduo-line",
            "version": 1, "sensors": [{"address": 5, "speed": 9600, "name": "Ввод 5",
            "setpoint": 5, "flash": true}]})"));
        QVERIFY(writeFile(scratch.filePath("noflash.json"), R"({"format": "velduo-line",
            "version": 1, "sensors": [{"address": 5, "speed": 9600, "name": "Ввод 5",
            "setpoint": 5}]})"));
        const QString out = scratch.filePath("line.json");
        bus.queueFactorySensors(1);
        const quint16 chunk = firmware::areaStart + 3 * firmware::chunkSize;
        bus.setFault(1, rtu::Function::WriteRegisters, {sim::Fault::Silence, 0, -1, 0, chunk});
        QProcess process;
        prepare(process, {"commission", scratch.filePath("flash.json"), "--out", out, "--image",
                          scratch.filePath("app.bin"), "--yes", "--port", port()});
        process.start();
        process.closeWriteChannel();
        QVERIFY(waitForRequest(
            bus, [chunk](const QByteArray& r) { return isWriteTo(r, chunk); }, 30000));
        QCOMPARE(::kill(pid_t(process.processId()), SIGINT), 0);
        QCOMPARE(finished(process).code, 130);
        QVERIFY(bus.sensor(1).inLoader);
        bus.clearFaults();
        bus.clearLog();

        QStringList args{
            "commission", scratch.filePath(planFlashes ? "flash.json" : "noflash.json"),
            "--out",      out,
            "--resume",   "--yes",
            "--port",     port()};
        if (planFlashes)
            args << "--image" << scratch.filePath("app.bin");
        const Run run = velduo(args);
        if (planFlashes) {
            QVERIFY2(run.code == 0, qPrintable(run.all()));
            const sim::Sensor sensor = bus.sensor(5);
            QVERIFY(!sensor.inLoader);
            QCOMPARE(sensor.baud, 9600);
            QCOMPARE(nameText(sensor.ust), QStringLiteral("Ввод 5"));
            QCOMPARE(sensor.flash.left(bytes.size()), bytes);
        } else {
            QVERIFY2(run.code == 5, qPrintable(run.all()));
            QVERIFY2(run.out.contains(QStringLiteral("остался в загрузчике")) &&
                         run.out.contains(QStringLiteral("velduo flash 1@115200 ОБРАЗ")),
                     qPrintable(run.out));
            QVERIFY(bus.sensor(1).inLoader);
            QCOMPARE(requestCount(bus, rtu::Function::WriteRegisters), 0);
        }
    }

    // The image is read once, before the first byte: taken away once the first sensor is done,
    // the second is flashed all the same, with the bytes read at the start.
    void commissionFlashesTheImageReadAtTheStart()
    {
        QTemporaryDir scratch;
        const QByteArray bytes = image(2000);
        QVERIFY(writeFile(scratch.filePath("app.bin"), bytes));
        QVERIFY(writeFile(scratch.filePath("plan.json"), R"({"format": "velduo-line",
            "version": 1, "sensors": [
            {"address": 5, "speed": 115200, "name": "A", "setpoint": 1, "flash": true},
            {"address": 6, "speed": 115200, "name": "B", "setpoint": 2, "flash": true}]})"));
        const QString out = scratch.filePath("line.json");
        bus.queueFactorySensors(1);
        QProcess process;
        prepare(process, {"commission", scratch.filePath("plan.json"), "--out", out, "--image",
                          scratch.filePath("app.bin"), "--yes", "--port", port()});
        process.start();
        process.closeWriteChannel();
        // The line file is saved after each sensor; the second is plugged in only then.
        QTRY_VERIFY_WITH_TIMEOUT(
            linefile::readFile(out, linefile::Mode::File).line.sensors.size() == 1, 60000);
        QVERIFY(QFile::remove(scratch.filePath("app.bin")));
        bus.queueFactorySensors(1);
        const Run run = finished(process);
        QVERIFY2(run.code == 0, qPrintable(run.all()));
        for (quint8 address : {5, 6})
            QCOMPARE(bus.sensor(address).flash.left(bytes.size()), bytes);
    }

    void commissionChecksThePlanBeforeTheFirstByte()
    {
        QVERIFY(writeFile(path("bad.json"), R"({"format": "velduo-line", "version": 1,
            "sensors": [{"address": 40, "speed": 9600, "name": "A", "setpoint": 1},
                        {"address": 2, "speed": 1234, "name": "B", "setpoint": 2}]})"));
        const Run run = velduo({"commission", path("bad.json"), "--out", path("never.json"),
                                "--yes", "--port", port()});
        QCOMPARE(run.code, 4);
        QVERIFY2(run.err.contains(QStringLiteral("Запись 1 (адрес 40), ключ \"address\"")),
                 qPrintable(run.err));
        QVERIFY2(run.err.contains(QStringLiteral("Запись 2 (адрес 2), ключ \"speed\"")),
                 qPrintable(run.err));
        QVERIFY(bus.received().isEmpty());
        QVERIFY(!QFileInfo::exists(path("never.json")));
    }

    void commissionOfThreeFactorySensors()
    {
        const QByteArray bytes = image(5000);
        QVERIFY(writeFile(path("fw.bin"), bytes));
        QVERIFY(writeFile(path("plan3.json"), threeEntryPlan));
        bus.queueFactorySensors(3);
        const Run run = velduo({"commission", path("plan3.json"), "--out", path("line3.json"),
                                "--image", path("fw.bin"), "--yes", "--port", port()});
        QVERIFY2(run.code == 0, qPrintable(run.all()));
        QCOMPARE(bus.factorySensorsWaiting(), 0);

        const linefile::ReadResult line =
            linefile::readFile(path("line3.json"), linefile::Mode::File);
        QVERIFY2(line.ok(), qPrintable(line.refusal));
        const linefile::ReadResult plan = linefile::parse(threeEntryPlan, linefile::Mode::Plan);
        QCOMPARE(line.line.sensors.size(), 3);
        for (int i = 0; i < 3; ++i) {
            const linefile::Sensor& entry = plan.line.sensors[i];
            const linefile::Sensor& read = line.line.sensors[i];
            const sim::Sensor sensor = bus.sensor(quint8(entry.address));
            QCOMPARE(sensor.baud, entry.speed);
            QCOMPARE(read.address, entry.address);
            QCOMPARE(read.speed, entry.speed);
            QCOMPARE(read.name, entry.name);
            QCOMPARE(read.setpoint, entry.setpoint);
            QCOMPARE(read.block, blockBytes(sensor.ust));
            QCOMPARE(read.type, std::optional<int>(sensor.param.sensorType));
            QCOMPARE(sensor.flash.startsWith(bytes), entry.flash);
            if (entry.calibrate.contains("nominal"))
                QVERIFY(!calibration::beyondWindow(calibration::Phase::Raise, *read.nomAdc));
            else
                QCOMPARE(*read.nomAdc, int(defaultUstBlock().nomAdc));
        }
        // The zero point was taken before the gain went up.
        QCOMPARE(*line.line.sensors[0].zeroAdc,
                 int(sim::factorySensor(SensorType::Voltage).param.adc));
    }

    void resumeAfterAnInterruption()
    {
        QVERIFY(writeFile(path("plan4.json"), R"({"format": "velduo-line", "version": 1,
            "sensors": [{"address": 5, "speed": 9600, "name": "A", "setpoint": 1},
                        {"address": 6, "speed": 38400, "name": "B", "setpoint": 2},
                        {"address": 7, "speed": 9600, "name": "C", "setpoint": 3}]})"));
        const QString out = path("line4.json");
        bus.queueFactorySensors(1);
        QProcess process;
        prepare(process,
                {"commission", path("plan4.json"), "--out", out, "--yes", "--port", port()});
        process.start();
        // Interrupted while it waits for the second sensor.
        QTRY_VERIFY_WITH_TIMEOUT(
            linefile::readFile(out, linefile::Mode::File).line.sensors.size() == 1, 30000);
        bus.clearLog();
        const QByteArray factoryProbe = sim::sealed(QByteArray::fromHex("010301000014"));
        QVERIFY(waitForRequest(
            bus, [&](const QByteArray& r) { return r == factoryProbe; }, 10000));
        QCOMPARE(::kill(pid_t(process.processId()), SIGINT), 0);
        QCOMPARE(finished(process).code, 130);
        const linefile::Line first = linefile::readFile(out, linefile::Mode::File).line;
        QCOMPARE(first.sensors.size(), 1);

        bus.queueFactorySensors(2);
        Run run = velduo({"commission", path("plan4.json"), "--out", out, "--resume", "--yes",
                          "--json", "--port", port()});
        QVERIFY2(run.code == 0, qPrintable(run.all()));
        const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(QJsonDocument::fromJson(lines[0].toUtf8()).object().value("status").toString(),
                 QStringLiteral("skipped"));
        const linefile::Line line = linefile::readFile(out, linefile::Mode::File).line;
        QCOMPARE(line.sensors.size(), 3);
        QCOMPARE(line.sensors[0], first.sensors[0]);
        QCOMPARE(line.sensors[1].address, 6);
        QCOMPARE(bus.sensor(6).baud, 38400);
        QCOMPARE(line.sensors[2].address, 7);

        // Without --resume an existing line file is not overwritten.
        run = velduo({"commission", path("plan4.json"), "--out", out, "--yes", "--port", port()});
        QCOMPARE(run.code, 4);
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
