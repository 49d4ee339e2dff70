// CPU time of the program while it polls a sensor that never answers, as a share of wall
// time. A wait that spun instead of waiting for events would show 50 % or more.
#include "codec/protocol.h"
#include "support/cputime.h"
#include "support/windowbench.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QListWidget>
#include <QTimer>
#include <cstdio>

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 10;

    WindowBench bench;
    bench.addByHand(7, 9600); // no sensor answers at address 7
    if (bench.find<QListWidget>("listWidgetDevices")->currentRow() != 0) {
        std::fprintf(stderr, "the silent sensor is not selected\n");
        return 1;
    }
    emit bench.window->startTimer();

    const double cpuStart = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double cpu = processCpuSeconds() - cpuStart;
    const double elapsed = double(wall.elapsed()) / 1000.0;

    const int polls = bench.requests(rtu::code(rtu::Function::ReadRegisters)).size();
    std::printf("idle poll of a silent sensor: %d read requests in %.1f s\n", polls, elapsed);
    std::printf("cpu/wall = %.4f (%.2f %%; target below 3 %%)\n", cpu / elapsed,
                100.0 * cpu / elapsed);
    return 0;
}
