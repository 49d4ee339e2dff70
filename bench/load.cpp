// The line under load: 1000 reads of a sensor's parameters at 115200 Bd through the line client,
// with two busy loops running on the machine and the simulated bus stalling every 50th answer
// in its middle (50 ms between its two halves). Prints the port losses, which must be none (the
// port never goes away here), the failed exchanges against twice the stalls (target at most
// that: a stall may cost the exchange it hits and the one its tail falls into), and the read
// faults the port reported on the way, which the line took for what they were.
// Usage: bench_load [exchanges], 1000 by default.
#include "core/link/lineclient.h"
#include "sim/sensorbus.h"
#include "support/busyloops.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>

namespace {

constexpr int stallEvery = 50;
constexpr int stallMs = 50;

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 1000;

    sim::SensorBus bus;
    QString error;
    if (!bus.open(&error)) {
        std::fprintf(stderr, "simulated bus: %s\n", qPrintable(error));
        return 1;
    }
    // The answer to a read of 14 registers at address 1, written 3 ms after the request: about
    // its 33 bytes' time on the wire.
    QByteArray answer = QByteArray::fromHex("01031c");
    for (int i = 0; i < 30; ++i)
        answer.append(char(0x20 + i));
    int stalls = 0;
    for (int i = 1; i <= count; ++i) {
        if (i % stallEvery == 0) {
            bus.queueScript({{3, answer.left(16)}, {stallMs, answer.mid(16)}});
            ++stalls;
        } else {
            bus.queueScript({{3, answer}});
        }
    }

    LineClient line;
    int losses = 0;
    int readFaults = 0;
    QObject::connect(&line, &LineClient::portLost, [&losses] { ++losses; });
    QObject::connect(&line, &LineClient::monitorLine, [&readFaults](QString, QString text) {
        if (text.startsWith(QStringLiteral("Warning: ")))
            ++readFaults;
    });
    line.open(bus.slavePath(), 115200);

    int failures = 0;
    QElapsedTimer clock;
    {
        BusyLoops load(2);
        clock.start();
        for (int i = 0; i < count; ++i)
            failures += line.read(1, 0x0000, 14, 1).ok() ? 0 : 1;
    }
    std::printf("%d exchanges at 115200 Bd with two busy loops, %d answers stalled %d ms: "
                "%.1f s\n",
                count, stalls, stallMs, double(clock.elapsed()) / 1000.0);
    std::printf("  port losses: %d (target 0)\n", losses);
    std::printf("  failed exchanges: %d, %.2f a stall (target at most 2)\n", failures,
                double(failures) / std::max(stalls, 1));
    std::printf("  runs of read faults of the live port, taken as warnings: %d\n", readFaults);
    return 0;
}
