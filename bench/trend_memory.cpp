// Resident memory and GUI-thread CPU of the program with the line overview open and all 31
// sensors of a full simulated line ticked on its plot, polled for the given time while the
// window polls its selected sensor too. The growth of resident memory is extrapolated to the
// 24 hours the reading buffers hold and set against their designed size (31 sensors, a day of
// readings each) plus 10 MB; the GUI thread's CPU time against its wall time, while the plot
// scrolls, against 10 %.
// Usage: bench_trend_memory [seconds], 600 by default.
#include "core/ops/linepoller.h"
#include "gui/overview.h"
#include "sim/sensorlogic.h"
#include "support/residentmemory.h"
#include "support/windowbench.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QListWidget>
#include <QTableView>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <malloc.h>

namespace {

// Bytes the program holds from the allocator: set against the resident figure, it tells what it
// keeps from what the allocator keeps around it.
double heapInUseMb()
{
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
}

// CPU time of the calling thread.
double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 600;
    constexpr int sensors = addressMax;
    constexpr double slackMb = 10.0;
    constexpr double cpuTarget = 0.10;
    const double designedMb =
        double(sensors) * trend::dayOfReadings * ReadingBuffer::readingBytes / (1024.0 * 1024.0);

    WindowBench bench;
    bench.bus.setWireTime(true);
    for (int addr = 1; addr <= sensors; ++addr) {
        const sim::Sensor sensor = sim::lineSensor(quint8(addr));
        bench.bus.addSensor(sensor);
        bench.addByHand(addr, sensor.baud);
    }
    auto* list = bench.find<QListWidget>("listWidgetDevices");
    list->setCurrentRow(0);
    // The port monitor holds its most recent lines: filled first, it is in its steady state.
    const QString line = QStringLiteral("12:00:00.000| >> 01031c0200e600000008000000000000"
                                        "56454c2d312e302e320000000000000065b3");
    for (int i = 0; i < MainWindow::monitorLineLimit; ++i)
        QMetaObject::invokeMethod(bench.window.get(), "Print", Qt::DirectConnection,
                                  Q_ARG(QString, QString()), Q_ARG(QString, line));

    bench.find<QAction>("actionLineOverview")->trigger();
    auto* overview = bench.window->findChild<LineOverview*>();
    auto* view = overview->findChild<QTableView*>();
    for (int row = 0; row < view->model()->rowCount(); ++row)
        view->model()->setData(view->model()->index(row, 0), Qt::Checked, Qt::CheckStateRole);
    emit bench.window->startTimer();

    // The simulated bus lives in this process too: its record of the traffic is emptied as the
    // run goes, so that only the program's own memory is measured.
    QTimer drain;
    QObject::connect(&drain, &QTimer::timeout, [&] { bench.bus.clearLog(); });
    drain.start(1000);
    int readings = 0;
    QObject::connect(bench.window->findChild<LinePoller*>(), &LinePoller::reading,
                     [&] { ++readings; });

    // A tenth of the run settles the allocator before the first figures are taken.
    double startMb = 0;
    double startCpu = 0;
    double startHeap = 0;
    int startReadings = 0;
    QElapsedTimer clock;
    QEventLoop run;
    QTimer::singleShot(seconds * 100, &run, [&] {
        startMb = residentMb();
        startCpu = threadCpuSeconds();
        startHeap = heapInUseMb();
        startReadings = readings;
        clock.start();
    });
    QTimer::singleShot(seconds * 1000, &run, &QEventLoop::quit);
    run.exec();
    const double endMb = residentMb();
    const double endHeap = heapInUseMb();
    const double cpu = threadCpuSeconds() - startCpu;
    const double wall = double(clock.elapsed()) / 1000.0;
    const double perDayMb = (endMb - startMb) / wall * 86400.0;
    const int measured = readings - startReadings;

    std::printf("overview of %d sensors, all on the plot: %d readings in %.0f s measured "
                "(after %d s settling), %.2f s a round\n",
                sensors, measured, wall, seconds / 10, wall * sensors / std::max(1, measured));
    std::printf("resident memory %.2f MB -> %.2f MB: %.1f MB in 24 hours extrapolated\n", startMb,
                endMb, perDayMb);
    std::printf("  of which held from the allocator %.2f MB -> %.2f MB: %.1f MB in 24 hours\n",
                startHeap, endHeap, (endHeap - startHeap) / wall * 86400.0);
    std::printf("  designed size of the buffers %.1f MB (%d readings of %d bytes a sensor)\n",
                designedMb, trend::dayOfReadings, ReadingBuffer::readingBytes);
    std::printf("  growth/bound = %.3f (target at most 1: within %.1f MB + %.0f MB)\n",
                perDayMb / (designedMb + slackMb), designedMb, slackMb);
    std::printf("GUI thread CPU %.1f s in %.0f s: %.1f %% of a core (target below %.0f %%)\n", cpu,
                wall, 100.0 * cpu / wall, 100.0 * cpuTarget);
    return 0;
}
