// Takes the pictures of the README and the manual: starts the simulator with a full line,
// lists its sensors in the real window as "Добавить устройство" does, selects a voltage sensor
// and saves the main window on each of its tabs, then opens "Обзор линии" with some sensors
// ticked, lets the trends run, and saves the overview and its plot. Nothing is remembered in
// the user's settings. Run by scripts/screenshots.
// Usage: manualshots SIMULATOR DOCS_FOLDER [seconds]
#include "codec/blocks.h"
#include "gui/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QProcess>
#include <QSettings>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <qwt_plot.h>

namespace {

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool save(QWidget* widget, const QDir& folder, const QString& name)
{
    const QString path = folder.filePath(name);
    if (widget->grab().save(path))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    app.setStyle(QStringLiteral("Fusion"));
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s SIMULATOR DOCS_FOLDER [seconds]\n", argv[0]);
        return 2;
    }
    const QDir docs(QString::fromLocal8Bit(argv[2]));
    const int seconds = argc > 3 ? QByteArray(argv[3]).toInt() : 240;
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());

    QProcess sim;
    sim.start(
        QString::fromLocal8Bit(argv[1]),
        {QStringLiteral("--line"), QString::number(addressMax), QStringLiteral("--wire-time")});
    // The terminal's path, a header, then address, speed and type of each sensor.
    QList<QByteArray> lines;
    while (lines.size() < 2 + addressMax && sim.waitForReadyRead(5000))
        while (sim.canReadLine())
            lines.append(sim.readLine().trimmed());
    if (lines.size() < 2 + addressMax) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }
    qputenv("VEL_DUO300_EXTRA_PORTS", lines.first());

    MainWindow window;
    window.show();
    int voltageRow = -1;
    for (int i = 2; i < 2 + 31; ++i) {
        const QList<QByteArray> fields = lines.at(i).simplified().split(' ');
        window.findChild<QLineEdit*>(QStringLiteral("lineEditAddrMB"))
            ->setText(QString::fromLatin1(fields.at(0)));
        auto* rates = window.findChild<QComboBox*>(QStringLiteral("BaudRateBox"));
        rates->setCurrentIndex(rates->findText(QString::fromLatin1(fields.at(1))));
        QMetaObject::invokeMethod(&window, "btnAddDevice", Qt::DirectConnection);
        if (voltageRow < 0 && fields.at(2) == "2")
            voltageRow = i - 2;
    }
    // A voltage sensor shows every group, calibration included.
    window.findChild<QListWidget*>(QStringLiteral("listWidgetDevices"))->setCurrentRow(voltageRow);
    wait(4000);

    bool saved = true;
    auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("tabWidget"));
    const QList<QPair<const char*, const char*>> pages = {{"tab", "tab-live.png"},
                                                          {"tab_3", "tab-devices.png"},
                                                          {"tab_2", "tab-reprogram.png"},
                                                          {"tab_4", "tab-monitor.png"}};
    for (const auto& page : pages) {
        tabs->setCurrentWidget(window.findChild<QWidget*>(QLatin1String(page.first)));
        wait(1500);
        saved = save(&window, docs, QLatin1String(page.second)) && saved;
    }
    tabs->setCurrentWidget(window.findChild<QWidget*>(QStringLiteral("tab")));

    window.findChild<QAction*>(QStringLiteral("actionLineOverview"))->trigger();
    auto* view = window.findChild<QTableView*>();
    QWidget* overview = view->window();
    overview->resize(1280, 860);
    overview->move(40, 20);
    // The first six: voltage and temperature sensors in turn, at each of the three speeds.
    for (int row : {0, 1, 2, 3, 4, 5})
        view->model()->setData(view->model()->index(row, 0), Qt::Checked, Qt::CheckStateRole);
    wait(seconds * 1000);
    saved = save(overview, docs, QStringLiteral("line-overview.png")) && saved;
    saved = save(overview->findChild<QwtPlot*>(), docs, QStringLiteral("trend.png")) && saved;
    sim.terminate();
    sim.waitForFinished(3000);
    return saved ? 0 : 1;
}
