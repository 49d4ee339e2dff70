// A simulated VEL_DUO300 sensor bus for trying the program without sensors: open the
// printed device path as the program's serial port.
#include "codec/sensortype.h"
#include "sim/sensorbus.h"
#include "sim/sensorlogic.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>
#include <climits>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <vector>

namespace {

// A sensor given by address, speed and type word: a word the program does not know makes a
// sensor of undetermined type. A voltage sensor's reading follows its gain and starts below the
// calibration window, so that the nominal calibration has steps to show.
sim::Sensor givenSensor(quint8 addr, int baud, quint16 typeWord)
{
    sim::Sensor sensor = sim::makeSensorWithTypeWord(addr, baud, typeWord);
    if (sensorTypeOf(typeWord) == SensorType::Voltage) {
        sensor.adcPerStep = sim::gainAdcPerStep;
        sim::followPotentiometer(sensor);
    }
    return sensor;
}

// ADDR:BAUD:TYPE
bool parseSensor(const QString& text, sim::Sensor* sensor)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 3)
        return false;
    bool addrOk = false, baudOk = false, typeOk = false;
    const int addr = parts[0].toInt(&addrOk);
    const int baud = parts[1].toInt(&baudOk);
    const uint type = parts[2].toUInt(&typeOk);
    if (!addrOk || !baudOk || !typeOk || addr < 1 || addr > modbusAddressMax || baud <= 0 ||
        type > 0xFFFF)
        return false;
    *sensor = givenSensor(quint8(addr), baud, quint16(type));
    return true;
}

// A count option's value, 0 when it is not given, -1 when it is not a count from 1 to max.
int countOf(const QCommandLineParser& parser, const QCommandLineOption& option, int max)
{
    if (!parser.isSet(option))
        return 0;
    bool ok = false;
    const int count = parser.value(option).toInt(&ok);
    return ok && count >= 1 && count <= max ? count : -1;
}

} // namespace

int main(int argc, char** argv)
{
    // Blocked before any thread starts, so that every thread inherits the mask and the
    // signals reach sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Serves simulated VEL_DUO300 sensors on a pseudo-terminal.\n"
                       "The first line written to standard output is the path of the terminal's\n"
                       "slave device: open it as the serial port. A table of the sensors follows.\n"
                       "The bus is served until SIGINT or SIGTERM arrives."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("This text."));
    const QCommandLineOption sensorOption(
        QStringLiteral("sensor"),
        QStringLiteral("A sensor at Modbus address ADDR (1-247) answering at BAUD bit/s; TYPE 1 "
                       "is a temperature sensor, 2 a voltage sensor. Repeatable. Without it, "
                       "--factory and --line: 1:9600:2 and 2:38400:1."),
        QStringLiteral("ADDR:BAUD:TYPE"));
    const QCommandLineOption factoryOption(
        QStringLiteral("factory"),
        QStringLiteral("N sensors with factory settings (voltage sensors) wait to be plugged in "
                       "one at a time: the first answers at address 1, 115200 Bd at once, each "
                       "next one as soon as the one before has left there."),
        QStringLiteral("N"));
    const QCommandLineOption lineOption(
        QStringLiteral("line"),
        QStringLiteral("A full line of N sensors (1-31) at addresses 1 to N: voltage and "
                       "temperature sensors in turn at 115200, 38400 and 9600 Bd in turn, their "
                       "measured values drifting slowly (periods of minutes), for trends. Not with "
                       "--factory: the line holds address 1, 115200."),
        QStringLiteral("N"));
    const QCommandLineOption wireTimeOption(
        QStringLiteral("wire-time"),
        QStringLiteral("Requests and answers take the time their bytes need on the line at its "
                       "baud rate: a sensor answers once the request has crossed the line, and "
                       "each answer goes out once its last byte would have."));
    const QCommandLineOption standardOption(
        QStringLiteral("standard-framing"),
        QStringLiteral("The published Modbus RTU framing instead of the sensors' own: the CRC "
                       "low byte first, and function 0x10 with its byte count, so that a common "
                       "Modbus master can talk to the bus."));
    const QCommandLineOption linkOption(
        QStringLiteral("link"),
        QStringLiteral("A symbolic link at PATH names the terminal, as /dev/serial/by-id names an "
                       "adapter: a simulator started again with the same link stands for the "
                       "adapter plugged in again. Removed when the simulator ends."),
        QStringLiteral("PATH"));
    const QCommandLineOption verboseOption(
        QStringLiteral("verbose"), QStringLiteral("Print every request in hexadecimal on stderr."));
    parser.addOptions({help, sensorOption, factoryOption, lineOption, wireTimeOption,
                       standardOption, linkOption, verboseOption});

    auto usageError = [&](const QString& message) {
        std::fprintf(stderr, "%s: %s\n\n%s", argv[0], message.toLocal8Bit().constData(),
                     parser.helpText().toLocal8Bit().constData());
        return 2;
    };
    if (!parser.parse(app.arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        std::printf("%s", parser.helpText().toLocal8Bit().constData());
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("bad argument '%1'").arg(parser.positionalArguments()[0]));

    const int factory = countOf(parser, factoryOption, INT_MAX);
    if (factory < 0)
        return usageError(
            QStringLiteral("bad factory count '%1'").arg(parser.value(factoryOption)));
    const int line = countOf(parser, lineOption, addressMax);
    if (line < 0)
        return usageError(QStringLiteral("bad line length '%1'").arg(parser.value(lineOption)));
    if (line > 0 && factory > 0)
        return usageError(QStringLiteral("--line and --factory exclude each other"));

    std::vector<sim::Sensor> sensors;
    for (int addr = 1; addr <= line; ++addr)
        sensors.push_back(sim::lineSensor(quint8(addr)));
    for (const QString& value : parser.values(sensorOption)) {
        sim::Sensor sensor;
        if (!parseSensor(value, &sensor))
            return usageError(QStringLiteral("bad sensor '%1'").arg(value));
        sensors.push_back(sensor);
    }
    if (sensors.empty() && factory == 0)
        sensors = {givenSensor(1, 9600, quint16(SensorType::Voltage)),
                   givenSensor(2, 38400, quint16(SensorType::Temperature))};
    const bool verbose = parser.isSet(verboseOption);
    const SensorType factoryType = SensorType::Voltage;

    sim::SensorBus bus;
    for (const sim::Sensor& sensor : sensors)
        bus.addSensor(sensor);
    // After the sensors given, so that one of them at the factory address holds the queue.
    bus.queueFactorySensors(factory, factoryType);
    bus.setWireTime(parser.isSet(wireTimeOption));
    bus.setRequestWireTime(parser.isSet(wireTimeOption));
    bus.setStandardFraming(parser.isSet(standardOption));
    QString error;
    if (!bus.open(&error, parser.value(linkOption))) {
        std::fprintf(stderr, "%s: %s\n", argv[0], error.toLocal8Bit().constData());
        return 1;
    }

    std::printf("%s\n", bus.slavePath().toLocal8Bit().constData());
    std::fflush(stdout);
    std::printf("address    baud  type\n");
    for (const sim::Sensor& sensor : sensors)
        std::printf("%7d %7d %5d\n", sensor.addr, sensor.baud, sensor.param.sensorType);
    if (factory > 0)
        std::printf("%d factory sensors of type %d wait to be plugged in at address %d, %d\n",
                    factory, int(factoryType), factoryAddress, factorySpeed);
    std::fflush(stdout);

    // The bus keeps a log of the traffic for tests; a long-running bus prints it (when asked
    // to) and empties it now and then, so that memory stays flat.
    const timespec period{0, 250 * 1000 * 1000};
    int signal = -1;
    while (signal < 0) {
        signal = sigtimedwait(&stopSignals, nullptr, &period);
        if (verbose) {
            for (const sim::Received& request : bus.received())
                std::fprintf(stderr, "%lld %6d << %s\n", static_cast<long long>(request.atMs),
                             request.baud, request.bytes.toHex(' ').constData());
        }
        bus.clearLog();
    }
    return 0;
}
