// A simulated VEL_DUO300 sensor bus for trying the program without sensors: open the
// printed device path as the program's serial port.
#include "sim/sensorbus.h"
#include "sim/sensorlogic.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <vector>

namespace {

struct SensorArg
{
    quint8 addr;
    int baud;
    quint16 type;
};

bool parseSensor(const QString& text, SensorArg* sensor)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 3)
        return false;
    bool addrOk = false, baudOk = false, typeOk = false;
    const int addr = parts[0].toInt(&addrOk);
    const int baud = parts[1].toInt(&baudOk);
    const uint type = parts[2].toUInt(&typeOk);
    if (!addrOk || !baudOk || !typeOk || addr < 1 || addr > 247 || baud <= 0 || type > 0xFFFF)
        return false;
    *sensor = {quint8(addr), baud, quint16(type)};
    return true;
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
                       "is a temperature sensor, 2 a voltage sensor. Repeatable. Without it and "
                       "--factory: 1:9600:2 and 2:38400:1."),
        QStringLiteral("ADDR:BAUD:TYPE"));
    const QCommandLineOption factoryOption(
        QStringLiteral("factory"),
        QStringLiteral("N sensors with factory settings (voltage sensors) wait to be plugged in "
                       "one at a time: the first answers at address 1, 115200 Bd at once, each "
                       "next one as soon as the one before has left there."),
        QStringLiteral("N"));
    const QCommandLineOption wireTimeOption(
        QStringLiteral("wire-time"),
        QStringLiteral("Answers take the time their bytes need on the line at its baud rate."));
    const QCommandLineOption verboseOption(
        QStringLiteral("verbose"), QStringLiteral("Print every request in hexadecimal on stderr."));
    parser.addOptions({help, sensorOption, factoryOption, wireTimeOption, verboseOption});

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

    std::vector<SensorArg> sensors;
    for (const QString& value : parser.values(sensorOption)) {
        SensorArg sensor;
        if (!parseSensor(value, &sensor))
            return usageError(QStringLiteral("bad sensor '%1'").arg(value));
        sensors.push_back(sensor);
    }
    int factory = 0;
    if (parser.isSet(factoryOption)) {
        bool ok = false;
        factory = parser.value(factoryOption).toInt(&ok);
        if (!ok || factory < 1)
            return usageError(
                QStringLiteral("bad factory count '%1'").arg(parser.value(factoryOption)));
    }
    if (sensors.empty() && factory == 0)
        sensors = {{1, 9600, 2}, {2, 38400, 1}};
    const bool verbose = parser.isSet(verboseOption);

    sim::SensorBus bus;
    for (const SensorArg& arg : sensors) {
        sim::Sensor sensor = sim::makeSensor(arg.addr, arg.baud, arg.type);
        // A voltage sensor's reading follows its gain and starts below the calibration
        // window, so that the nominal calibration has steps to show.
        if (arg.type == 2) {
            sensor.adcPerStep = sim::gainAdcPerStep;
            sim::followPotentiometer(sensor);
        }
        bus.addSensor(sensor);
    }
    // After the sensors given, so that one of them at the factory address holds the queue.
    bus.queueFactorySensors(factory);
    bus.setWireTime(parser.isSet(wireTimeOption));
    QString error;
    if (!bus.open(&error)) {
        std::fprintf(stderr, "%s: %s\n", argv[0], error.toLocal8Bit().constData());
        return 1;
    }

    std::printf("%s\n", bus.slavePath().toLocal8Bit().constData());
    std::fflush(stdout);
    std::printf("address    baud  type\n");
    for (const SensorArg& sensor : sensors)
        std::printf("%7d %7d %5d\n", sensor.addr, sensor.baud, sensor.type);
    if (factory > 0)
        std::printf("%d factory sensors of type 2 wait to be plugged in at address 1, 115200\n",
                    factory);
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
