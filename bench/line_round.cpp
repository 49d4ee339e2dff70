// One round of the line poller over 31 sensors, requests and answers taking their wire time,
// as a multiple of what the line itself needs: the wire time of the round's frames, the
// simulated sensor's turnaround of 2 ms before each answer and the protocol's interval of 3.5
// characters before each request. Re-opening the port for another speed is one step of the
// worker without pauses, so the bound has nothing for it. Two lines: all 31 at 9600 Bd, and a
// line split across 115200, 38400 and 9600 Bd.
// Usage: bench_line_round [rounds], 3 by default; the median round is taken.
#include "codec/answertiming.h"
#include "codec/blocks.h"
#include "core/link/lineclient.h"
#include "core/ops/linepoller.h"
#include "sim/sensorbus.h"
#include "sim/sensorlogic.h"
#include "support/scriptedhost.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMap>
#include <QSet>
#include <algorithm>
#include <cstdio>

namespace {

constexpr double turnaroundMs = 2.0;

// Parameters read (8 + 33 bytes) and coil read (8 + 6 bytes) of one sensor.
double sensorBoundMs(int baud)
{
    const double wire = double(answertiming::wireUs(8 + 33 + 8 + 6, baud)) / 1000.0;
    const double intervals = 2.0 * double(answertiming::guardUs(baud)) / 1000.0;
    return wire + 2 * turnaroundMs + intervals;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 3;
    constexpr double target = 1.3;

    struct Case
    {
        const char* title;
        bool mixed;
    };
    for (const Case& c : {Case{"31 sensors at 9600 Bd", false},
                          Case{"31 sensors at 115200, 38400 and 9600 Bd", true}}) {
        sim::SensorBus bus;
        QString error;
        if (!bus.open(&error)) {
            std::fprintf(stderr, "simulated bus: %s\n", qPrintable(error));
            return 1;
        }
        bus.setWireTime(true);
        bus.setRequestWireTime(true);
        SensorRegistry registry;
        double boundMs = 0;
        QSet<int> speeds;
        for (int addr = 1; addr <= addressMax; ++addr) {
            sim::Sensor sensor =
                c.mixed ? sim::lineSensor(quint8(addr))
                        : sim::makeSensor(quint8(addr), 9600,
                                          addr % 2 ? SensorType::Voltage : SensorType::Temperature);
            bus.addSensor(sensor);
            DeviceVEL_DUO300 dev{};
            dev.addr = addr;
            dev.baudrate = sensor.baud;
            registry.add(dev);
            boundMs += sensorBoundMs(sensor.baud);
            speeds.insert(sensor.baud);
        }

        LineClient line;
        ScriptedHost host;
        LinePoller poller(line, host, registry);
        int failures = 0;
        QObject::connect(&line, &LineClient::outcome,
                         [&failures](DeviceVEL_DUO300*, int error) { failures += error != 0; });
        QVector<double> times;
        QEventLoop loop;
        QObject::connect(&poller, &LinePoller::roundDone, &loop, [&](int, qint64 ms) {
            poller.stop();
            times.append(double(ms));
            loop.quit();
        });
        for (int i = 0; i < rounds; ++i) {
            // Each round starts with the port open for none of the line's speeds.
            line.reopen(bus.slavePath(), 1200);
            poller.start(bus.slavePath());
            loop.exec();
            bus.clearLog();
        }
        std::sort(times.begin(), times.end());
        const double median = times.at(times.size() / 2);
        std::printf("%s: round %.0f ms (median of %d), line %.0f ms at %d speeds\n", c.title,
                    median, rounds, boundMs, int(speeds.size()));
        std::printf("  ratio = %.2f (target at most %.1f)\n", median / boundMs, target);
        if (failures)
            std::printf("  %d exchanges failed\n", failures);
    }
    return 0;
}
