// Resident memory of the program while it polls a sensor, as growth per hour extrapolated from
// the run. The port monitor is filled to its line limit first, as it is after the first twenty
// minutes of a long run, so that what is measured is the steady state of a week of polling.
// Usage: bench_monitor_memory [seconds], 600 by default.
#include "codec/protocol.h"
#include "support/residentmemory.h"
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
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 600;
    constexpr double targetMbPerHour = 1.0;

    WindowBench bench;
    bench.bus.addSensor(1, 9600, SensorType::Voltage);
    bench.addByHand(1, 9600);
    if (bench.find<QListWidget>("listWidgetDevices")->currentRow() != 0) {
        std::fprintf(stderr, "the sensor is not selected\n");
        return 1;
    }
    const QString line = QStringLiteral("12:00:00.000| >> 01031c0200e600000008000000000000"
                                        "56454c2d312e302e320000000000000065b3");
    for (int i = 0; i < MainWindow::monitorLineLimit; ++i)
        QMetaObject::invokeMethod(bench.window.get(), "Print", Qt::DirectConnection,
                                  Q_ARG(QString, QString()), Q_ARG(QString, line));

    // The simulated bus lives in this process too: its record of the traffic is emptied as the
    // run goes, so that only the program's own memory is measured.
    int polls = 0;
    QTimer drain;
    QObject::connect(&drain, &QTimer::timeout, [&] {
        polls += bench.requests(rtu::code(rtu::Function::ReadRegisters)).size();
        bench.bus.clearLog();
    });
    drain.start(1000);
    emit bench.window->startTimer();

    // A tenth of the run settles the allocator before the first figure is taken.
    double startMb = 0;
    int startPolls = 0;
    QElapsedTimer clock;
    QEventLoop run;
    QTimer::singleShot(seconds * 100, &run, [&] {
        startMb = residentMb();
        startPolls = polls;
        clock.start();
    });
    QTimer::singleShot(seconds * 1000, &run, &QEventLoop::quit);
    run.exec();
    const double endMb = residentMb();
    const double hours = double(clock.elapsed()) / 3600000.0;
    const double perHour = (endMb - startMb) / hours;

    std::printf("polling one sensor: %d polls in %.0f s measured (after %d s settling)\n",
                polls - startPolls, hours * 3600.0, seconds / 10);
    std::printf("resident memory %.2f MB -> %.2f MB: %.3f MB per hour extrapolated\n", startMb,
                endMb, perHour);
    std::printf("growth/target = %.3f (target below %.0f MB per hour)\n", perHour / targetMbPerHour,
                targetMbPerHour);
    return 0;
}
