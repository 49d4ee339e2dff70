// Takes the README's picture of the line overview: starts the simulator with a full line,
// lists its sensors in the real window as "Добавить устройство" does, opens "Обзор линии" with
// some sensors ticked, lets the trends run, and saves the overview window as a PNG.
// Usage (under a display, e.g. xvfb-run): overviewshot SIMULATOR OUTPUT.png [seconds [WxH]]
// WxH sizes the overview, to see it as a smaller screen shows it.
#include "gui/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QProcess>
#include <QTableView>
#include <QTimer>
#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    app.setStyle(QStringLiteral("Fusion"));
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s SIMULATOR OUTPUT.png [seconds [WxH]]\n", argv[0]);
        return 2;
    }
    const int seconds = argc > 3 ? QByteArray(argv[3]).toInt() : 240;
    const QList<QByteArray> size = QByteArray(argc > 4 ? argv[4] : "1280x860").split('x');
    if (size.size() != 2 || size[0].toInt() <= 0 || size[1].toInt() <= 0) {
        std::fprintf(stderr, "size: WxH, such as 1366x720\n");
        return 2;
    }

    QProcess sim;
    sim.start(QString::fromLocal8Bit(argv[1]),
              {QStringLiteral("--line"), QStringLiteral("31"), QStringLiteral("--wire-time")});
    // The terminal's path, a header, then address, speed and type of each sensor.
    QList<QByteArray> lines;
    while (lines.size() < 2 + 31 && sim.waitForReadyRead(5000))
        while (sim.canReadLine())
            lines.append(sim.readLine().trimmed());
    if (lines.size() < 2 + 31) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }
    qputenv("VEL_DUO300_EXTRA_PORTS", lines.first());

    MainWindow window;
    window.show();
    for (int i = 2; i < 2 + 31; ++i) {
        const QList<QByteArray> fields = lines.at(i).simplified().split(' ');
        window.findChild<QLineEdit*>(QStringLiteral("lineEditAddrMB"))
            ->setText(QString::fromLatin1(fields.at(0)));
        auto* rates = window.findChild<QComboBox*>(QStringLiteral("BaudRateBox"));
        rates->setCurrentIndex(rates->findText(QString::fromLatin1(fields.at(1))));
        QMetaObject::invokeMethod(&window, "btnAddDevice", Qt::DirectConnection);
    }
    window.findChild<QListWidget*>(QStringLiteral("listWidgetDevices"))->setCurrentRow(0);

    window.findChild<QAction*>(QStringLiteral("actionLineOverview"))->trigger();
    auto* view = window.findChild<QTableView*>();
    QWidget* overview = view->window();
    overview->resize(size[0].toInt(), size[1].toInt());
    overview->move(40, 20);
    // The first six: voltage and temperature sensors in turn, at each of the three speeds.
    for (int row : {0, 1, 2, 3, 4, 5})
        view->model()->setData(view->model()->index(row, 0), Qt::Checked, Qt::CheckStateRole);

    QEventLoop run;
    QTimer::singleShot(seconds * 1000, &run, &QEventLoop::quit);
    run.exec();
    const bool saved = overview->grab().save(QString::fromLocal8Bit(argv[2]));
    sim.terminate();
    sim.waitForFinished(3000);
    return saved ? 0 : 1;
}
