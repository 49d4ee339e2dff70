// Time of one settings read through the core library alone (no window) against the simulated
// bus with wire-time emulation, as a multiple of the wire time of request and answer plus the
// guard of 3.5 characters. Set beside bench_exchange, the difference is the window's own cost.
#include "codec/answertiming.h"
#include "core/ops/operations.h"
#include "sim/sensorbus.h"
#include "support/scriptedhost.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int reads = argc > 1 ? QByteArray(argv[1]).toInt() : 50;

    sim::SensorBus bus;
    if (!bus.open()) {
        std::fprintf(stderr, "no simulated bus\n");
        return 1;
    }
    bus.setWireTime(true);
    LineClient line;
    ScriptedHost host;
    struct Run
    {
        quint8 addr;
        int baud;
        double bound;
    };
    const Run runs[] = {{1, 9600, 1.3}, {2, 115200, 2.5}};
    for (const Run& run : runs) {
        bus.addSensor(run.addr, run.baud, SensorType::Voltage);
        line.reopen(bus.slavePath(), run.baud);
        DeviceVEL_DUO300 dev{};
        dev.addr = run.addr;
        dev.baudrate = run.baud;
        QVector<double> times;
        int failures = 0;
        for (int i = 0; i < reads; ++i) {
            QElapsedTimer clock;
            clock.start();
            failures += ops::ReadSettings(line, host).run(&dev, 3).done() ? 0 : 1;
            times.append(double(clock.nsecsElapsed()) / 1e6);
        }
        std::sort(times.begin(), times.end());
        const double median = times.at(times.size() / 2);
        // Request 8 bytes, answer 45 bytes (20 registers), ten bits a character.
        const double wire = (8 + 45) * 10.0 * 1000.0 / run.baud;
        const double guard = double(answertiming::guardUs(run.baud)) / 1000.0;
        std::printf("library settings read at %d Bd: median %.1f ms of %d, wire %.1f ms + guard "
                    "%.2f ms\n",
                    run.baud, median, reads, wire, guard);
        std::printf("  ratio = %.2f (target at most %.1f)\n", median / (wire + guard), run.bound);
        if (failures > 0)
            std::printf("  %d reads failed\n", failures);
    }
    return 0;
}
