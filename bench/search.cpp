// A search with the lists as the program starts, against a bus where nobody answers: 93
// silent probes at 3 speeds. Each probe should cost one answer time-out and each speed the
// pauses of the port change, nothing more; and waiting should cost no CPU.
#include "codec/protocol.h"
#include "support/cputime.h"
#include "support/windowbench.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPushButton>
#include <cstdio>

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    WindowBench bench;
    const int speeds = bench.find<QListWidget>("listWidgetSpeed")->count();
    const int addrs = bench.find<QListWidget>("listWidgetAddr")->count();
    const int probes = speeds * addrs;
    const double bound = probes * 0.41 + speeds * 0.15;

    const double cpuStart = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    bench.find<QPushButton>("BtnAutoSearch")->click(); // returns when the search has ended
    const double elapsed = double(wall.elapsed()) / 1000.0;
    const double cpu = processCpuSeconds() - cpuStart;

    const int sent = bench.requests(rtu::code(rtu::Function::ReadRegisters)).size();
    if (sent != probes) {
        std::fprintf(stderr, "expected %d probes, %d reached the bus\n", probes, sent);
        return 1;
    }
    std::printf("search of %d addresses at %d speeds, nobody answering: %.2f s\n", addrs, speeds,
                elapsed);
    std::printf("wall/bound = %.4f (bound %d x 0.41 s + %d x 0.15 s = %.2f s; target within "
                "1.02)\n",
                elapsed / bound, probes, speeds, bound);
    std::printf("cpu/wall = %.4f (%.2f %%; target below 3 %%)\n", cpu / elapsed,
                100.0 * cpu / elapsed);
    return 0;
}
