// Takes the README's picture of the site view: starts a Mosquitto of its own, two simulated
// lines of 31 sensors with a velduo watch --mqtt each, opens "Обзор площадки" from the main
// window's menu, connects it, ticks two sensors of each line, folds the first line, lets the
// trends run, and saves the view as a PNG. Nothing is remembered in the user's settings.
// Usage (under a display, e.g. xvfb-run): siteviewshot VELDUO SIMULATOR OUTPUT.png [seconds]
#include "gui/mainwindow.h"
#include "gui/sensorcells.h"
#include "gui/siteview.h"
#include "sim/sensorlogic.h"
#include "support/broker.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QPixmap>
#include <QProcess>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <cstdio>

namespace {

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    app.setStyle(QStringLiteral("Fusion"));
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s VELDUO SIMULATOR OUTPUT.png [seconds] [WIDTHxHEIGHT]\n",
                     argv[0]);
        return 2;
    }
    const int seconds = argc > 4 ? QByteArray(argv[4]).toInt() : 180;
    QTemporaryDir folder;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
    Broker broker(folder.path());
    if (!broker.start()) {
        std::fprintf(stderr, "mosquitto does not start\n%s", broker.log.constData());
        return 1;
    }
    QStringList sensors;
    for (int addr = 1; addr <= 31; ++addr)
        sensors << QStringLiteral("%1@%2").arg(addr).arg(sim::lineSensor(quint8(addr)).baud);
    const QStringList prefixes{QStringLiteral("velduo/ps-north/ttyUSB0"),
                               QStringLiteral("velduo/ps-south/ttyUSB1")};
    QProcess sims[2], watchers[2];
    for (int i = 0; i < 2; ++i) {
        sims[i].start(
            QString::fromLocal8Bit(argv[2]),
            {QStringLiteral("--line"), QStringLiteral("31"), QStringLiteral("--wire-time")});
        if (!sims[i].waitForReadyRead(10000)) {
            std::fprintf(stderr, "the simulator did not start\n");
            return 1;
        }
        const QString port = QString::fromUtf8(sims[i].readLine()).trimmed();
        watchers[i].start(QString::fromLocal8Bit(argv[1]),
                          QStringList{QStringLiteral("watch")} + sensors +
                              QStringList{QStringLiteral("--port"), port, QStringLiteral("--mqtt"),
                                          broker.url(), QStringLiteral("--mqtt-topic"),
                                          prefixes[i]});
    }

    MainWindow window;
    window.show();
    window.findChild<QAction*>(QStringLiteral("actionSiteView"))->trigger();
    auto* view = window.findChild<SiteView*>();
    // Another size shows the layout as a smaller screen has it.
    const QList<QByteArray> size = QByteArray(argc > 5 ? argv[5] : "1280x900").split('x');
    view->resize(size.value(0).toInt(), size.value(1).toInt());
    view->move(argc > 5 ? 0 : 40, argc > 5 ? 0 : 20);
    view->findChild<QLineEdit*>(QStringLiteral("lineEditHost"))
        ->setText(QStringLiteral("127.0.0.1"));
    view->findChild<QSpinBox*>(QStringLiteral("spinBoxPort"))->setValue(broker.port);
    view->connectToBroker();
    wait(8000);
    auto* tree = view->findChild<QTreeView*>();
    // A voltage and a temperature sensor of each line.
    for (int line = 0; line < 2; ++line)
        for (int row : {0, 3})
            tree->model()->setData(
                tree->model()->index(row, overview::Address, tree->model()->index(line, 0)),
                Qt::Checked, Qt::CheckStateRole);
    // Both lines in sight: the first folded, the second open.
    tree->collapse(tree->model()->index(0, 0));
    wait(seconds * 1000);
    const bool saved = view->grab().save(QString::fromLocal8Bit(argv[3]));
    view->close();
    for (QProcess& watcher : watchers) {
        ::kill(pid_t(watcher.processId()), SIGINT);
        watcher.waitForFinished(20000);
    }
    for (QProcess& sim : sims) {
        sim.terminate();
        sim.waitForFinished(5000);
    }
    broker.stop();
    return saved ? 0 : 1;
}
