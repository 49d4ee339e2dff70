// Time of one settings read ("Считать") through the window against the simulated bus with
// wire-time emulation, as a multiple of what the line itself needs: the wire time of the request
// and the answer plus the guard of 3.5 characters that ends a complete answer.
#include "codec/answertiming.h"
#include "support/windowbench.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <algorithm>
#include <cstdio>

namespace {

// 8N1: ten bits a character on the wire, as the simulated bus times its answers.
double wireMs(int bytes, int baud)
{
    return double(bytes) * 10.0 * 1000.0 / double(baud);
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int reads = argc > 1 ? QByteArray(argv[1]).toInt() : 50;

    WindowBench bench;
    bench.bus.setWireTime(true);
    struct Run
    {
        quint8 addr;
        int baud;
        double bound;
    };
    const Run runs[] = {{1, 9600, 1.3}, {2, 115200, 2.5}};
    int failures = 0;
    for (const Run& run : runs) {
        bench.bus.addSensor(run.addr, run.baud, SensorType::Voltage);
        bench.addByHand(run.addr, run.baud);
        const int row = bench.find<QListWidget>("listWidgetDevices")->currentRow();
        if (row < 0 || bench.window->deviceRecords().at(row).commError) {
            std::fprintf(stderr, "the sensor at %d Bd was not added\n", run.baud);
            return 1;
        }

        QVector<double> times;
        for (int i = 0; i < reads; ++i) {
            QElapsedTimer clock;
            clock.start();
            bench.invoke("readUst");
            times.append(double(clock.nsecsElapsed()) / 1e6);
            failures += bench.window->deviceRecords().at(row).commError ? 1 : 0;
        }
        std::sort(times.begin(), times.end());
        const double median = times.at(times.size() / 2);
        // Request 8 bytes, answer 45 bytes (20 registers).
        const double wire = wireMs(8 + 45, run.baud);
        const double guard = double(answertiming::guardUs(run.baud)) / 1000.0;
        std::printf("settings read at %d Bd: median %.1f ms of %d, wire %.1f ms + guard %.2f ms\n",
                    run.baud, median, reads, wire, guard);
        std::printf("  ratio = %.2f (target at most %.1f)\n", median / (wire + guard), run.bound);
    }
    if (failures > 0)
        std::printf("%d reads failed\n", failures);
    return 0;
}
