// One whole run of `velduo read` (the process started, the port opened, the settings read and
// printed, the process ended) against the simulated bus with requests and answers taking their
// wire time, at 9600 and 115200 Bd, as a multiple of what it cannot do without: the wire time of
// its two frames, the simulated sensor's turnaround of 2 ms, and the start-up of a minimal Qt
// console program, measured in the same run and the same way. Target at most 1.2.
// Usage: bench_oneshot [runs [velduo]], 9 runs by default and the velduo built beside it; the
// median run is taken.
#include "codec/answertiming.h"
#include "sim/sensorbus.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <algorithm>
#include <cstdio>

namespace {

constexpr double turnaroundMs = 2.0;

// Milliseconds from the start of the program to its end; negative when it failed.
double runMs(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return -1;
    return double(clock.nsecsElapsed()) / 1e6;
}

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 9;
    const QString velduo = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral(VEL_VELDUO);
    const QString minimal = QCoreApplication::applicationDirPath() + QStringLiteral("/minimal_qt");

    sim::SensorBus bus;
    bus.setWireTime(true);
    bus.setRequestWireTime(true);
    bus.addSensor(1, 9600, SensorType::Voltage);
    bus.addSensor(2, 115200, SensorType::Voltage);
    QString error;
    if (!bus.open(&error)) {
        std::fprintf(stderr, "simulated bus: %s\n", qPrintable(error));
        return 1;
    }

    for (const QString& sensor : {QStringLiteral("1@9600"), QStringLiteral("2@115200")}) {
        const int baud = sensor.section(QLatin1Char('@'), 1).toInt();
        QVector<double> reads;
        QVector<double> starts;
        // In turn, so that a machine busy with something else slows both alike.
        for (int i = 0; i < runs; ++i) {
            const double read = runMs(velduo, {QStringLiteral("read"), sensor,
                                               QStringLiteral("--port"), bus.slavePath()});
            const double start = runMs(minimal, {});
            if (read < 0 || start < 0) {
                std::fprintf(stderr, "%s failed\n", qPrintable(read < 0 ? velduo : minimal));
                return 1;
            }
            reads.append(read);
            starts.append(start);
        }
        // The settings read: a request of 8 bytes, an answer of 45.
        const double wire = double(answertiming::wireUs(8 + 45, baud)) / 1000.0;
        const double startup = median(starts);
        const double bound = wire + turnaroundMs + startup;
        const double read = median(reads);
        std::printf("velduo read %s: %.1f ms (median of %d); wire %.1f ms + sensor %.0f ms + "
                    "start-up of a minimal Qt program %.1f ms = %.1f ms\n",
                    qPrintable(sensor), read, runs, wire, turnaroundMs, startup, bound);
        std::printf("  ratio = %.2f (target at most 1.2)\n", read / bound);
    }
    return 0;
}
