// A simulated VEL_DUO300 sensor bus for trying the program without sensors: open the
// printed device path as the program's serial port.
#include "sim/sensorbus.h"

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

void printUsage(FILE* out, const char* program)
{
    std::fprintf(out,
                 "Usage: %s [--sensor ADDR:BAUD:TYPE]... [--wire-time] [--verbose]\n"
                 "\n"
                 "Serves simulated VEL_DUO300 sensors on a pseudo-terminal.\n"
                 "The first line written to standard output is the path of the terminal's\n"
                 "slave device: open it as the serial port. A table of the sensors follows.\n"
                 "The bus is served until SIGINT or SIGTERM arrives.\n"
                 "\n"
                 "  --sensor ADDR:BAUD:TYPE  a sensor at Modbus address ADDR (1-247) answering\n"
                 "                           at BAUD bit/s; TYPE 1 is a temperature sensor,\n"
                 "                           2 a voltage sensor. Repeatable. Without it:\n"
                 "                           1:9600:2 and 2:38400:1.\n"
                 "  --wire-time              answers take the time their bytes need on the\n"
                 "                           line at its baud rate\n"
                 "  --verbose                print every request in hexadecimal on stderr\n"
                 "  --help                   this text\n",
                 program);
}

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
    std::vector<SensorArg> sensors;
    bool wireTime = false;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        SensorArg sensor;
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            printUsage(stdout, argv[0]);
            return 0;
        } else if (arg == QLatin1String("--wire-time")) {
            wireTime = true;
        } else if (arg == QLatin1String("--verbose")) {
            verbose = true;
        } else if (arg == QLatin1String("--sensor") && i + 1 < argc &&
                   parseSensor(QString::fromLocal8Bit(argv[i + 1]), &sensor)) {
            sensors.push_back(sensor);
            ++i;
        } else if (arg.startsWith(QLatin1String("--sensor=")) &&
                   parseSensor(arg.mid(int(sizeof "--sensor=") - 1), &sensor)) {
            sensors.push_back(sensor);
        } else {
            std::fprintf(stderr, "%s: bad argument '%s'\n\n", argv[0], argv[i]);
            printUsage(stderr, argv[0]);
            return 2;
        }
    }
    if (sensors.empty())
        sensors = {{1, 9600, 2}, {2, 38400, 1}};

    // Blocked before the serving threads start, so that they inherit the mask and the
    // signals reach sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    sim::SensorBus bus;
    for (const SensorArg& sensor : sensors) {
        bus.addSensor(sensor.addr, sensor.baud, sensor.type);
        // A voltage sensor's reading follows its gain and starts below the calibration
        // window, so that the nominal calibration has steps to show.
        if (sensor.type == 2)
            bus.updateSensor(sensor.addr, [](sim::Sensor& s) { s.adcPerStep = 16; });
    }
    bus.setWireTime(wireTime);
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
