// Time from a click on "Добавить устройство" to the filled settings form, against the simulated
// bus with wire-time emulation, as a multiple of the wire time of the addition's frames plus
// one port sequence (three pauses of 50 ms). The addition waits for the next 100 ms tick; the
// clicks come at staggered moments of the tick so that the median sees an average wait.
#include "support/windowbench.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace {

void pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int additions = argc > 1 ? QByteArray(argv[1]).toInt() : 10;
    const int baud = 9600;

    WindowBench bench;
    bench.bus.setWireTime(true);
    for (int addr = 1; addr <= additions; ++addr)
        bench.bus.addSensor(quint8(addr), baud, SensorType::Voltage);
    auto* rates = bench.find<QComboBox>("BaudRateBox");
    rates->setCurrentIndex(rates->findText(QString::number(baud)));
    auto* threshold = bench.find<QLineEdit>("lineEditUstThreshold");
    emit bench.window->startTimer();

    QVector<double> times;
    for (int addr = 1; addr <= additions; ++addr) {
        pause(addr * 10 % 100);
        bench.find<QLineEdit>("lineEditAddrMB")->setText(QString::number(addr));
        threshold->clear();
        // The addition restarts the polling timer when it is over.
        QEventLoop loop;
        QObject::connect(bench.window.get(), &MainWindow::startTimer, &loop, &QEventLoop::quit);
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        QElapsedTimer clock;
        clock.start();
        bench.find<QPushButton>("btnAddDevice")->click();
        loop.exec();
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        if (bench.window->deviceRecords().size() != addr || threshold->text().isEmpty()) {
            std::fprintf(stderr, "addition of sensor %d did not fill the form\n", addr);
            return 1;
        }
        times.append(ms);
    }
    std::sort(times.begin(), times.end());
    const double median = times.at(times.size() / 2);
    // The settings read: request 8 bytes, answer 45 bytes, ten bits a character (8N1).
    const double wire = (8 + 45) * 10.0 * 1000.0 / baud;
    const double sequence = 150.0;
    std::printf("manual addition at %d Bd: median %.0f ms of %d, wire %.1f ms + port sequence "
                "%.0f ms\n",
                baud, median, additions, wire, sequence);
    std::printf("  ratio = %.2f (target at most 1.8)\n", median / (wire + sequence));
    return 0;
}
