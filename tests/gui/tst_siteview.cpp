// "Обзор площадки" against a Mosquitto of the test's own, fed by two velduo watch --mqtt on
// two simulated lines of three sensors: the lines and their sensors, a line going offline, the
// trends of a sensor from each line, the CSV, and a broker that refuses or is not there.
#include "core/devices/sitemonitor.h"
#include "gui/sensorcells.h"
#include "gui/siteview.h"
#include "gui/trendplot.h"
#include "sim/sensorlogic.h"
#include "support/broker.h"
#include "support/windowbench.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTreeView>
#include <QtTest>
#include <csignal>
#include <memory>

namespace {

using namespace overview;

constexpr int sensorsPerLine = 3;
// Watched as well, but not on the line: it never answers.
constexpr int silentAddress = 4;

SiteView* openSiteView(WindowBench& b)
{
    b.find<QAction>("actionSiteView")->trigger();
    auto* view = b.window->findChild<SiteView*>();
    if (!view)
        qFatal("no site view");
    return view;
}

void connectTo(SiteView* view, int port, const QString& user = QString())
{
    view->findChild<QLineEdit*>(QStringLiteral("lineEditHost"))
        ->setText(QStringLiteral("127.0.0.1"));
    view->findChild<QSpinBox*>(QStringLiteral("spinBoxPort"))->setValue(port);
    view->findChild<QLineEdit*>(QStringLiteral("lineEditUser"))->setText(user);
    view->findChild<QLineEdit*>(QStringLiteral("lineEditTopics"))
        ->setText(QStringLiteral("site/#"));
    view->findChild<QPushButton*>(QStringLiteral("btnConnect"))->click();
}

QString statusText(SiteView* view)
{
    return view->findChild<QLabel*>(QStringLiteral("labelStatus"))->text();
}

// The row of a line, by its name; invalid until it shows.
QModelIndex lineRow(QTreeView* tree, const QString& name)
{
    const QAbstractItemModel* model = tree->model();
    for (int row = 0; row < model->rowCount(); ++row)
        if (model->index(row, 0).data(Qt::UserRole).toString() == name)
            return model->index(row, 0);
    return QModelIndex();
}

QString cell(QTreeView* tree, const QString& line, int row, int column, int role = Qt::DisplayRole)
{
    const QModelIndex parent = lineRow(tree, line);
    return tree->model()->index(row, column, parent).data(role).toString();
}

QPushButton* button(QWidget* window, const QString& text)
{
    for (QPushButton* b : window->findChildren<QPushButton*>())
        if (b->text() == text)
            return b;
    qFatal("no button %s", qPrintable(text));
}

} // namespace

class TestSiteView : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<Broker> broker;
    QProcess sims[2];
    QProcess watchers[2];
    QString ports[2];
    const QString names[2] = {QStringLiteral("site/a"), QStringLiteral("site/b")};

    void stopProcess(QProcess& process, int signal)
    {
        if (process.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(process.processId()), signal);
        process.waitForFinished(20000);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        broker = std::make_unique<Broker>(dir.path());
        QVERIFY2(broker->start(), broker->log.constData());
        QStringList sensors;
        for (int addr = 1; addr <= sensorsPerLine; ++addr)
            sensors << QStringLiteral("%1@%2").arg(addr).arg(sim::lineSensor(quint8(addr)).baud);
        sensors << QStringLiteral("%1@9600").arg(silentAddress);
        for (int i = 0; i < 2; ++i) {
            sims[i].start(QStringLiteral(VEL_SIM),
                          {QStringLiteral("--line"), QString::number(sensorsPerLine)});
            QVERIFY(sims[i].waitForReadyRead(10000));
            ports[i] = QString::fromUtf8(sims[i].readLine()).trimmed();
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.remove(QStringLiteral("VELDUO_PORT"));
            watchers[i].setProcessEnvironment(env);
            watchers[i].start(QStringLiteral(VEL_VELDUO),
                              QStringList{QStringLiteral("watch")} + sensors +
                                  QStringList{QStringLiteral("--interval"), QStringLiteral("0.3"),
                                              QStringLiteral("--port"), ports[i],
                                              QStringLiteral("--mqtt"), broker->url(),
                                              QStringLiteral("--mqtt-topic"), names[i]});
            QVERIFY(watchers[i].waitForStarted(10000));
        }
    }

    void cleanupTestCase()
    {
        for (QProcess& watcher : watchers)
            stopProcess(watcher, SIGINT);
        for (QProcess& sim : sims)
            stopProcess(sim, SIGTERM);
        broker.reset();
    }

    // Both lines with their sensors and values; ticked sensors of either line on the plot and
    // in the CSV with their line; a line whose velduo is killed shows offline, its values kept
    // and dimmed.
    void followsTheLines()
    {
        WindowBench b;
        SiteView* view = openSiteView(b);
        QCOMPARE(view->windowTitle(), QStringLiteral("Обзор площадки"));
        connectTo(view, broker->port);
        auto* tree = view->findChild<QTreeView*>();
        QVERIFY(tree);
        QTRY_VERIFY_WITH_TIMEOUT(statusText(view).startsWith(QStringLiteral("Подключено")), 10000);
        for (const QString& line : names) {
            QTRY_COMPARE_WITH_TIMEOUT(tree->model()->rowCount(lineRow(tree, line)),
                                      sensorsPerLine + 1, 20000);
            QTRY_VERIFY_WITH_TIMEOUT(lineRow(tree, line)
                                         .data()
                                         .toString()
                                         .startsWith(line + QStringLiteral(" — online")),
                                     20000);
            for (int row = 0; row < sensorsPerLine; ++row) {
                const sim::Sensor sensor = sim::lineSensor(quint8(row + 1));
                QTRY_VERIFY_WITH_TIMEOUT(!cell(tree, line, row, Value).isEmpty(), 20000);
                QCOMPARE(cell(tree, line, row, Address), QString::number(row + 1));
                QCOMPARE(cell(tree, line, row, Speed), QString::number(sensor.baud));
                QCOMPARE(cell(tree, line, row, Type), sensor.param.sensorType == 2
                                                          ? QStringLiteral("Напряжение")
                                                          : QStringLiteral("Температура"));
                QVERIFY(cell(tree, line, row, Value)
                            .endsWith(sensor.param.sensorType == 2 ? QStringLiteral(" В")
                                                                   : QStringLiteral(" °С")));
                QCOMPARE(cell(tree, line, row, Name), nameText(sensor.ust));
                QCOMPARE(cell(tree, line, row, Version), versionText(sensor.param));
                QCOMPARE(tree->model()
                             ->index(row, Address, lineRow(tree, line))
                             .data(Qt::BackgroundRole)
                             .value<QColor>(),
                         QColor(0xFFFFFF));
            }
            // The sensor that does not answer: grey, with the failure's text for a value.
            QTRY_COMPARE_WITH_TIMEOUT(cell(tree, line, sensorsPerLine, Value),
                                      QStringLiteral("Нет ответа"), 20000);
            QCOMPARE(tree->model()
                         ->index(sensorsPerLine, Address, lineRow(tree, line))
                         .data(Qt::BackgroundRole)
                         .value<QColor>(),
                     QColor(0xC0C0C0));
            QCOMPARE(cell(tree, line, sensorsPerLine, Age), QStringLiteral("—"));
            // The port, once the line's file has come.
            QTRY_VERIFY_WITH_TIMEOUT(
                lineRow(tree, line).data().toString().contains(ports[&line - names]), 20000);
        }
        // Sorted by address, voltages and temperatures in turn: by value, the highest first.
        tree->sortByColumn(Value, Qt::DescendingOrder);
        QVERIFY(cell(tree, names[0], 0, Type) == QStringLiteral("Напряжение"));
        tree->sortByColumn(Address, Qt::AscendingOrder);

        // Sensor 2 of line a, sensor 3 of line b.
        auto* model = tree->model();
        model->setData(model->index(1, Address, lineRow(tree, names[0])), Qt::Checked,
                       Qt::CheckStateRole);
        model->setData(model->index(2, Address, lineRow(tree, names[1])), Qt::Checked,
                       Qt::CheckStateRole);
        auto* plot = view->findChild<TrendPlot*>();
        QTRY_COMPARE_WITH_TIMEOUT(plot->curveCount(), 2, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(plot->pointCount(0) >= 3 && plot->pointCount(1) >= 3, 20000);

        const QString csv = b.dir.filePath(QStringLiteral("site.csv"));
        view->chooseCsvFile = [csv](csv::Style* style) {
            *style = csv::Style::Comma;
            return csv;
        };
        button(view, QStringLiteral("Экспорт CSV…"))->click();
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList rows = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(rows.first(),
                 QStringLiteral("time,port,address,speed,type,name,value,unit,adc,error,line"));
        for (int i = 0; i < 2; ++i) {
            const QString end = QLatin1Char(',') + names[i];
            QVERIFY2(std::count_if(rows.begin(), rows.end(),
                                   [&](const QString& row) {
                                       return row.section(',', 1, 1) == ports[i] &&
                                              row.endsWith(end);
                                   }) >= sensorsPerLine * 2,
                     qPrintable(end));
        }

        // Killed, line b's velduo leaves its will.
        const QString valueBefore = cell(tree, names[1], 0, Value);
        stopProcess(watchers[1], SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(lineRow(tree, names[1])
                                     .data()
                                     .toString()
                                     .startsWith(names[1] + QStringLiteral(" — offline")),
                                 10000);
        QVERIFY(lineRow(tree, names[0]).data().toString().contains(QStringLiteral("online")));
        QCOMPARE(cell(tree, names[1], 0, Value), valueBefore);
        QCOMPARE(model->index(0, Value, lineRow(tree, names[1])).data(Qt::ForegroundRole).isValid(),
                 true);
        QVERIFY(
            !model->index(0, Value, lineRow(tree, names[0])).data(Qt::ForegroundRole).isValid());
    }

    // A broker that refuses the password, or is not there: one message in the window, tried
    // again in the background, connected once it can be.
    void brokerTrouble_data()
    {
        QTest::addColumn<bool>("password");
        QTest::newRow("wrong password") << true;
        QTest::newRow("no broker yet") << false;
    }

    void brokerTrouble()
    {
        QFETCH(bool, password);
        QTemporaryDir folder;
        Broker guarded(folder.path());
        WindowBench b;
        SiteView* view = openSiteView(b);
        QStringList asked;
        view->askPassword = [&asked](const QString& user) {
            asked << user;
            return asked.size() == 1 ? QStringLiteral("wrong-s3cret") : QStringLiteral("s3cret");
        };
        if (password) {
            const QString passwd = folder.filePath(QStringLiteral("passwd"));
            QProcess make;
            make.start(QStringLiteral("mosquitto_passwd"),
                       {QStringLiteral("-b"), QStringLiteral("-c"), passwd,
                        QStringLiteral("viewer"), QStringLiteral("s3cret")});
            QVERIFY(make.waitForFinished(20000) && make.exitCode() == 0);
            QVERIFY2(guarded.start("password_file " + QFile::encodeName(passwd) +
                                   "\nallow_anonymous false\n"),
                     guarded.log.constData());
            connectTo(view, guarded.port, QStringLiteral("viewer"));
            QCOMPARE(asked, QStringList{QStringLiteral("viewer")});
            QTRY_VERIFY_WITH_TIMEOUT(statusText(view).contains(QStringLiteral("не принял")), 10000);
            QVERIFY2(statusText(view).contains(QStringLiteral("not authorised")),
                     qPrintable(statusText(view)));
            // Tried again after the pause, with no box.
            QTRY_VERIFY_WITH_TIMEOUT(view->monitor().refusals() >= 2,
                                     SiteMonitor::firstRetryMs + 5000);
            // "Подключить" asks the password again.
            view->findChild<QPushButton*>(QStringLiteral("btnConnect"))->click();
            QCOMPARE(asked.size(), 2);
            // The settings remembered hold the user, never a password.
            QSettings remembered(QSettings::NativeFormat, QSettings::UserScope,
                                 QStringLiteral("VEL_DUO300"), QStringLiteral("VEL_DUO300"));
            QCOMPARE(remembered.value(QStringLiteral("site/user")).toString(),
                     QStringLiteral("viewer"));
            QFile stored(remembered.fileName());
            QVERIFY(stored.open(QIODevice::ReadOnly));
            QVERIFY(!stored.readAll().contains("s3cret"));
        } else {
            guarded.port = freePort();
            connectTo(view, guarded.port);
            QTRY_VERIFY_WITH_TIMEOUT(statusText(view).contains(QStringLiteral("Нет связи")), 10000);
            QVERIFY(asked.isEmpty());
            QVERIFY2(guarded.start(), guarded.log.constData());
        }
        QTRY_VERIFY_WITH_TIMEOUT(statusText(view).startsWith(QStringLiteral("Подключено")), 40000);
        QCOMPARE(view->monitor().connection(), SiteMonitor::Connection::Connected);
        // The trouble was told in the window alone.
        QVERIFY(b.boxes.boxes().isEmpty() && b.boxes.dialogs().isEmpty());
    }
};

QTEST_MAIN(TestSiteView)
#include "tst_siteview.moc"
