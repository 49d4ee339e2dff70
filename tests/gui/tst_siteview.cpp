// "Обзор площадки" against a Mosquitto of the test's own, fed by two velduo watch --mqtt on
// two simulated lines of three sensors: nothing lost across broker restarts, the lines and
// their sensors, the line states, several filters, the layout, the CSV, what a hostile
// publisher can send, and a broker that refuses or is not there.
#include "codec/blocks.h"
#include "codec/brokerurl.h"
#include "codec/linefile.h"
#include "codec/sensortype.h"
#include "codec/sitepayloads.h"
#include "core/devices/mqttclient.h"
#include "core/devices/sitemonitor.h"
#include "gui/sensorcells.h"
#include "gui/siteview.h"
#include "gui/trendplot.h"
#include "sim/sensorlogic.h"
#include "support/broker.h"
#include "support/sitetree.h"
#include "support/windowbench.h"

#include <QAction>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>
#include <csignal>
#include <functional>
#include <memory>
#include <qwt_plot.h>
#include <qwt_scale_widget.h>

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

// A publisher of the test's own, connected.
std::unique_ptr<MqttClient> publisher(int port)
{
    auto client = std::make_unique<MqttClient>();
    MqttSettings settings;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = port;
    settings.clientId = QStringLiteral("tst-siteview-%1").arg(QCoreApplication::applicationPid());
    settings.cleanSession = true;
    QString why;
    if (!client->open(settings, &why))
        qFatal("publisher: %s", qPrintable(why));
    QSignalSpy up(client.get(), &MqttClient::connected);
    if (!up.wait(10000))
        qFatal("publisher does not connect");
    return client;
}

QByteArray readingAt(qint64 msecs, quint64 seq, int addr = 1, int error = 0, int speed = 9600)
{
    Reading reading;
    reading.msecs = msecs;
    reading.addr = addr;
    reading.baudrate = speed;
    reading.error = error;
    if (!error) {
        reading.sensorType = SensorType::Voltage;
        reading.measure = 1200;
        reading.adc = 3000;
    }
    return broker::readingPayload(reading, seq);
}

QStringList journalEvents(SiteView* view)
{
    QStringList events;
    auto* journal = view->findChild<QTreeWidget*>(QStringLiteral("treeJournal"));
    for (int i = 0; i < journal->topLevelItemCount(); ++i)
        events << journal->topLevelItem(i)->text(1) + QLatin1Char('|') +
                      journal->topLevelItem(i)->text(2);
    return events;
}

// The rows of a CSV file.
QStringList csvRows(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

void stopProcess(QProcess& process, int signal)
{
    if (process.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(process.processId()), signal);
    process.waitForFinished(20000);
}

// A simulated line of sensorsPerLine sensors and a velduo watch --mqtt that polls them and the
// silent one, printing every reading as a JSON object; the line's port, or empty when either
// does not start.
QString startLine(QProcess& sim, QProcess& watcher, const QString& brokerUrl, const QString& name)
{
    sim.start(QStringLiteral(VEL_SIM), {QStringLiteral("--line"), QString::number(sensorsPerLine)});
    if (!sim.waitForReadyRead(10000))
        return QString();
    const QString port = QString::fromUtf8(sim.readLine()).trimmed();
    QStringList sensors;
    for (int addr = 1; addr <= sensorsPerLine; ++addr)
        sensors << QStringLiteral("%1@%2").arg(addr).arg(sim::lineSensor(quint8(addr)).baud);
    sensors << QStringLiteral("%1@9600").arg(silentAddress);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("VELDUO_PORT"));
    watcher.setProcessEnvironment(env);
    watcher.start(QStringLiteral(VEL_VELDUO),
                  QStringList{QStringLiteral("watch")} + sensors +
                      QStringList{QStringLiteral("--json"), QStringLiteral("--interval"),
                                  QStringLiteral("0.3"), QStringLiteral("--port"), port,
                                  QStringLiteral("--mqtt"), brokerUrl,
                                  QStringLiteral("--mqtt-topic"), name});
    return watcher.waitForStarted(10000) ? port : QString();
}

// A line of a test's own: what its velduo printed and told so far, both processes stopped with
// it (the velduo by SIGINT, so that it leaves the broker cleanly).
struct PublishingLine
{
    QString name;
    QProcess sim;
    QProcess watcher;
    QByteArray printed; // a reading a row
    QByteArray told;    // its broker events, a JSON object a row

    ~PublishingLine()
    {
        stopProcess(watcher, SIGINT);
        stopProcess(sim, SIGTERM);
    }
    bool start(const QString& brokerUrl)
    {
        return !startLine(sim, watcher, brokerUrl, name).isEmpty();
    }
    void read()
    {
        printed += watcher.readAllStandardOutput();
        told += watcher.readAllStandardError();
    }
    int readings()
    {
        read();
        return printed.count('\n');
    }
    int brokerUps()
    {
        read();
        return told.count("\"event\":\"broker-up\"");
    }
};

QPushButton* button(QWidget* window, const QString& text)
{
    for (QPushButton* b : window->findChildren<QPushButton*>())
        if (b->text() == text)
            return b;
    qFatal("no button %s", qPrintable(text));
}

} // namespace

// Built with AddressSanitizer the window runs several times slower.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif

class TestSiteView : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<Broker> broker;
    QProcess sims[2];
    QProcess watchers[2];
    QString ports[2];
    const QString names[2] = {QStringLiteral("site/a"), QStringLiteral("site/b")};

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        broker = std::make_unique<Broker>(dir.path());
        QVERIFY2(broker->start(), broker->log.constData());
        for (int i = 0; i < 2; ++i) {
            ports[i] = startLine(sims[i], watchers[i], broker->url(), names[i]);
            QVERIFY(!ports[i].isEmpty());
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

    // Six lines publish while the broker is stopped and started again three times, each time
    // long enough for readings to queue: the view's session and QoS 1 bring every reading each
    // velduo printed, each once and none missing by its number; closing the view ends its
    // session.
    void brokerRestarts()
    {
        // A broker of its own, and lines started only once the view's subscription holds there:
        // whatever they print must come. A reading published before the subscription reaches
        // nobody, and the window opens slowly enough under AddressSanitizer for lines started
        // first to print some then.
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        Broker own(folder.path());
        QVERIFY2(own.start(), own.log.constData());
        WindowBench b;
        SiteView* view = openSiteView(b);
        connectTo(view, own.port);
        const SiteMonitor& monitor = view->monitor();
        const QByteArray subscription = monitor.clientId().toUtf8() + " 1 site/#";
        QTRY_VERIFY_WITH_TIMEOUT((own.log += own.process.readAll(), own.log.contains(subscription)),
                                 20000);
        constexpr int lineCount = 6;
        PublishingLine lines[lineCount];
        for (int i = 0; i < lineCount; ++i) {
            lines[i].name = QStringLiteral("site/line%1").arg(i + 1);
            QVERIFY(lines[i].start(own.url()));
        }
        // The readings of a line the view holds, all or those taken until a time.
        const auto held = [&monitor](const QString& line) {
            int count = 0;
            for (const ReadingBuffer* buffer : monitor.readings().all())
                if (buffer->port() == line)
                    count += buffer->size();
            return count;
        };
        const auto heldUntil = [&monitor](const QString& line, qint64 until) {
            int count = 0;
            for (const ReadingBuffer* buffer : monitor.readings().all())
                if (buffer->port() == line)
                    count += buffer->firstAtOrAfter(until + 1);
            return count;
        };
        const auto everyLine = [&lines](const std::function<bool(PublishingLine&)>& holds) {
            return std::all_of(std::begin(lines), std::end(lines), holds);
        };
        QTRY_VERIFY_WITH_TIMEOUT(
            everyLine([&](PublishingLine& line) { return held(line.name) > 0; }), 30000);
        // Readings each line takes while the broker is away: they wait in its queue.
        constexpr int queuedReadings = 10;
        constexpr int restarts = 3;
        QStringList stops;
        for (int restart = 1; restart <= restarts; ++restart) {
            own.stop();
            stops << QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
            int before[lineCount];
            for (int i = 0; i < lineCount; ++i)
                before[i] = lines[i].readings();
            QTRY_VERIFY_WITH_TIMEOUT(everyLine([&](PublishingLine& line) {
                                         return line.readings() >=
                                                before[&line - lines] + queuedReadings;
                                     }),
                                     30000);
            QVERIFY2(own.start(), own.log.constData());
            stops << QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
            // Every line and the view back before the next stop, so that none waits out a long
            // back-off meanwhile.
            QTRY_VERIFY_WITH_TIMEOUT(
                everyLine([&](PublishingLine& line) { return line.brokerUps() == restart + 1; }),
                40000);
            QTRY_VERIFY_WITH_TIMEOUT(monitor.connection() == SiteMonitor::Connection::Connected,
                                     40000);
        }
        // Whatever was printed until now must come; a reading the publisher sent again after a
        // reconnect may come after newer ones, so the view is looked at until none is missing
        // or long enough for any to have come.
        const qint64 settled = QDateTime::currentMSecsSinceEpoch();
        QTRY_VERIFY_WITH_TIMEOUT(everyLine([&](PublishingLine& line) {
                                     return held(line.name) > heldUntil(line.name, settled);
                                 }),
                                 40000);
        for (PublishingLine& line : lines) {
            int printed = 0;
            const auto lost = [&] {
                printed = 0;
                QStringList rows;
                line.read();
                for (const QByteArray& row : line.printed.split('\n')) {
                    const QJsonObject object = QJsonDocument::fromJson(row).object();
                    if (!object.contains(QLatin1String("time")))
                        continue;
                    const qint64 at =
                        QDateTime::fromString(object.value(QLatin1String("time")).toString(),
                                              Qt::ISODateWithMs)
                            .toMSecsSinceEpoch();
                    if (at > settled)
                        continue;
                    ++printed;
                    const ReadingBuffer* buffer = monitor.readings().find(
                        line.name, object.value(QLatin1String("address")).toInt(),
                        object.value(QLatin1String("speed")).toInt());
                    const int index = buffer ? buffer->firstAtOrAfter(at) : 0;
                    if (!buffer || index >= buffer->size() || buffer->timeAt(index) != at)
                        rows << QString::fromUtf8(row);
                }
                return rows;
            };
            const auto ledger = [&] { return monitor.lines().value(line.name).ledger; };
            QVERIFY2(QTest::qWaitFor([&] { return lost().isEmpty(); }, 30000),
                     qPrintable(QStringLiteral("%1: %2\nholes by seq: %3; broker stopped and "
                                               "started at %4")
                                    .arg(line.name, lost().join(QLatin1Char('\n')))
                                    .arg(ledger().holes().size())
                                    .arg(stops.join(QLatin1Char(' ')))));
            // At least the readings printed while the broker was away.
            QVERIFY2(printed >= restarts * queuedReadings, qPrintable(QString::number(printed)));
            // Nothing held that was not printed: the same readings.
            QCOMPARE(heldUntil(line.name, settled), printed);
            // Each number taken once, none missing from the first.
            const SeqLedger taken = ledger();
            QVERIFY(taken.holes().isEmpty());
            QCOMPARE(taken.received(), taken.expected());
            QCOMPARE(taken.received(), quint64(held(line.name)));
        }
        // The session ends with the view.
        const QString id = monitor.clientId();
        QVERIFY(id.startsWith(QStringLiteral("velduo-view-")));
        view->close();
        QTRY_VERIFY_WITH_TIMEOUT(
            (own.log += own.process.readAll(), own.log.count(id.toUtf8() + " (p2, c1") >= 1),
            10000);
        const QList<QByteArray> logRows = own.log.split('\n');
        QVERIFY(std::any_of(logRows.begin(), logRows.end(), [&id](const QByteArray& row) {
            return row.contains(id.toUtf8()) && row.contains("(p2, c0");
        }));
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
                QCOMPARE(cell(tree, line, row, Type),
                         sensorTypeOf(sensor.param) == SensorType::Voltage
                             ? QStringLiteral("Напряжение")
                             : QStringLiteral("Температура"));
                QVERIFY(cell(tree, line, row, Value)
                            .endsWith(sensorTypeOf(sensor.param) == SensorType::Voltage
                                          ? QStringLiteral(" В")
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

        // Hidden by Delete, line b leaves the view and what it remembers; its readings keep
        // their port in the export, every row has one.
        QApplication::setActiveWindow(view);
        tree->setFocus();
        tree->setCurrentIndex(lineRow(tree, names[1]));
        QTest::keyClick(tree, Qt::Key_Delete);
        QTRY_COMPARE_WITH_TIMEOUT(tree->model()->rowCount(), 1, 5000);
        QVERIFY(lineRow(tree, names[0]).isValid());
        const QStringList remembered =
            QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("VEL_DUO300"),
                      QStringLiteral("VEL_DUO300"))
                .value(QStringLiteral("site/lines"))
                .toStringList();
        QVERIFY2(remembered.contains(names[0]) && !remembered.contains(names[1]),
                 qPrintable(remembered.join(' ')));
        // The journal: in the view, and in its file beside log.txt.
        const QStringList events = journalEvents(view);
        QVERIFY(events.contains(names[1] + QStringLiteral("|скрыта пользователем")));
        QVERIFY(events.contains(names[1] + QStringLiteral("|offline")));
        QVERIFY(events.contains(names[0] + QStringLiteral("|online")));
        QVERIFY(std::any_of(events.begin(), events.end(), [](const QString& event) {
            return event.startsWith(QStringLiteral("|подключено к 127.0.0.1"));
        }));
        QFile journalFile(b.dir.filePath(QStringLiteral("site-journal.txt")));
        QVERIFY(journalFile.open(QIODevice::ReadOnly));
        const QString journalText = QString::fromUtf8(journalFile.readAll());
        QVERIFY(journalText.contains(QLatin1Char('\t') + names[1] +
                                     QStringLiteral("\tскрыта пользователем\n")));
        QVERIFY(journalText.contains(QStringLiteral("\t-\tподключено к 127.0.0.1")));
        const QString sheet = b.dir.filePath(QStringLiteral("sheet.csv"));
        view->chooseCsvFile = [sheet](csv::Style* style) {
            *style = csv::Style::Semicolon;
            return sheet;
        };
        button(view, QStringLiteral("Экспорт CSV…"))->click();
        QFile raw(sheet);
        QVERIFY(raw.open(QIODevice::ReadOnly));
        QVERIFY(raw.read(3) == "\xEF\xBB\xBF");
        const QStringList sheetRows = csvRows(sheet);
        // (QString::fromUtf8 leaves the byte-order mark out.)
        QCOMPARE(sheetRows.first(),
                 QStringLiteral("time;port;address;speed;type;name;value;unit;adc;error;line"));
        // A local time without an offset: a spreadsheet's date and time.
        const QRegularExpression time(
            QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}$"));
        int ofB = 0;
        for (const QString& row : sheetRows.mid(1)) {
            QVERIFY2(time.match(row.section(';', 0, 0)).hasMatch(), qPrintable(row));
            QVERIFY2(!row.section(';', 1, 1).isEmpty(), qPrintable(row));
            ofB += row.endsWith(QLatin1Char(';') + names[1]);
        }
        QVERIFY(ofB >= sensorsPerLine * 2);
        // The "," style as before: ISO 8601 with the offset, no byte-order mark.
        QVERIFY(rows.first().startsWith(QLatin1String("time,")));
        QVERIFY(QRegularExpression(
                    QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT[^,]*\\.\\d{3}(Z|[+-]\\d\\d:\\d\\d)$"))
                    .match(rows.at(1).section(',', 0, 0))
                    .hasMatch());
    }

    // Several filters, by spaces or commas, each subscribed; a filter MQTT does not allow is
    // told by its text.
    void filters_data()
    {
        QTest::addColumn<QString>("filters");
        QTest::addColumn<QString>("refused");
        QTest::newRow("spaces") << "site/a/#  site/b/#" << QString();
        QTest::newRow("commas") << "site/a/#,site/b/#" << QString();
        QTest::newRow("one refused") << "site/a/#; site/#/b"
                                     << "site/#/b";
    }

    void filters()
    {
        QFETCH(QString, filters);
        QFETCH(QString, refused);
        WindowBench b;
        SiteView* view = openSiteView(b);
        connectTo(view, broker->port);
        view->findChild<QLineEdit*>(QStringLiteral("lineEditTopics"))->setText(filters);
        QTest::keyClick(view->findChild<QLineEdit*>(QStringLiteral("lineEditTopics")),
                        Qt::Key_Return);
        if (!refused.isEmpty()) {
            QTRY_VERIFY_WITH_TIMEOUT(statusText(view).contains(refused), 10000);
            QVERIFY2(statusText(view).contains(QStringLiteral("неверен")),
                     qPrintable(statusText(view)));
            return;
        }
        auto* tree = view->findChild<QTreeView*>();
        QTRY_VERIFY_WITH_TIMEOUT(statusText(view).startsWith(QStringLiteral("Подключено")), 10000);
        for (const QString& line : names)
            QTRY_VERIFY_WITH_TIMEOUT(lineRow(tree, line).isValid(), 20000);
    }

    // Within the smallest size it allows and at 1366 × 720: every control, the table and the
    // plot's axes inside the window; the address column wide enough for any address.
    void layout_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("smallest") << QSize();
        QTest::newRow("1366x720") << QSize(1366, 720);
    }

    void layout()
    {
        QFETCH(QSize, size);
        WindowBench b;
        SiteView* view = openSiteView(b);
        connectTo(view, broker->port);
        auto* tree = view->findChild<QTreeView*>();
        QTRY_VERIFY_WITH_TIMEOUT(!cell(tree, names[0], 0, Value).isEmpty(), 20000);
        view->resize(size.isValid() ? size : view->minimumSizeHint());
        QVERIFY(QTest::qWaitForWindowExposed(view));
        QApplication::processEvents();
        const QRect inside = view->rect();
        const auto within = [&](QWidget* widget) {
            return inside.contains(QRect(widget->mapTo(view, QPoint(0, 0)), widget->size()));
        };
        QList<QWidget*> shown;
        for (QWidget* w : view->findChildren<QPushButton*>())
            shown << w;
        for (QWidget* w : view->findChildren<QLineEdit*>())
            shown << w;
        shown << tree;
        auto* plot = view->findChild<TrendPlot*>();
        shown << plot->axisWidget(QwtPlot::xBottom) << plot->axisWidget(QwtPlot::yLeft)
              << plot->axisWidget(QwtPlot::yRight);
        for (QWidget* w : shown)
            if (w->isVisibleTo(view))
                QVERIFY2(within(w) && w->width() > 0 && w->height() > 0,
                         qPrintable(QStringLiteral("%1 %2 at %3,%4 %5×%6 in %7×%8")
                                        .arg(w->objectName(), w->metaObject()->className())
                                        .arg(w->mapTo(view, QPoint(0, 0)).x())
                                        .arg(w->mapTo(view, QPoint(0, 0)).y())
                                        .arg(w->width())
                                        .arg(w->height())
                                        .arg(view->width())
                                        .arg(view->height())));
        QVERIFY(tree->height() > 100 && plot->height() > 100);
        const int address =
            tree->indentation() + tree->fontMetrics().horizontalAdvance(QStringLiteral("247"));
        QVERIFY(tree->columnWidth(Address) > address);
    }

    // What the sequence numbers tell of a line's readings: holes, late ones filling them,
    // duplicates, a publisher started anew.
    void seqLedger_data()
    {
        QTest::addColumn<QList<QPoint>>("taken"); // number, then time in seconds
        QTest::addColumn<int>("duplicates");
        QTest::addColumn<int>("received");
        QTest::addColumn<int>("expected");
        QTest::addColumn<int>("holes");
        const auto run = [](std::initializer_list<int> numbers, int from = 0) {
            QList<QPoint> list;
            int at = from;
            for (int n : numbers)
                list << QPoint(n, n + at);
            return list;
        };
        QTest::newRow("in order") << run({1, 2, 3, 4, 5}) << 0 << 5 << 5 << 0;
        QTest::newRow("a hole") << run({1, 2, 5, 6}) << 0 << 4 << 6 << 1;
        QTest::newRow("late ones fill it") << run({1, 2, 5, 3, 4}) << 0 << 5 << 5 << 0;
        QTest::newRow("a duplicate") << run({1, 2, 2, 3}) << 1 << 3 << 3 << 0;
        QTest::newRow("started anew") << run({1, 2, 3}) + run({1, 2}, 100) << 0 << 5 << 5 << 0;
    }

    void seqLedger()
    {
        QFETCH(QList<QPoint>, taken);
        QFETCH(int, duplicates);
        QFETCH(int, received);
        QFETCH(int, expected);
        QFETCH(int, holes);
        SeqLedger ledger;
        int refused = 0;
        for (const QPoint& p : taken)
            refused += !ledger.take(quint64(p.x()), qint64(p.y()) * 1000);
        QCOMPARE(refused, duplicates);
        QCOMPARE(ledger.received(), quint64(received));
        QCOMPARE(ledger.expected(), quint64(expected));
        QCOMPARE(ledger.holes().size(), holes);
        if (holes) {
            QCOMPARE(ledger.holes().first().missing, quint64(expected - received));
            QCOMPARE(ledger.holes().first().fromMs, qint64(2000));
            QCOMPARE(ledger.holes().first().toMs, qint64(5000));
        }
    }

    // A line's state from what its topics say, and the last publication as its last reading's
    // time whatever the status: a will moves nothing.
    void states_data()
    {
        QTest::addColumn<bool>("published");
        QTest::addColumn<QByteArray>("publisherState");
        QTest::addColumn<QByteArray>("lastStatus");
        QTest::addColumn<bool>("stopBroker");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("reason");
        using S = SiteLine::State;
        QTest::newRow("online") << true << QByteArray() << QByteArray() << false << int(S::Online)
                                << QString();
        QTest::newRow("stale") << true << QByteArray() << QByteArray() << false << int(S::Stale)
                               << QString();
        QTest::newRow("offline, a will")
            << true << QByteArray(R"({"v":1,"state":"polling","since":"2026-03-01T10:00:00.000Z"})")
            << QByteArray("offline") << false << int(S::Offline) << QString();
        QTest::newRow("offline, adapter lost")
            << true
            << broker::statePayload({QStringLiteral("port-lost"), 0,
                                     QStringLiteral("/dev/ttyUSB0 пропал"), QString()},
                                    0, 0)
            << QByteArray("offline") << false << int(S::Offline)
            << QStringLiteral("адаптер потерян: /dev/ttyUSB0 пропал");
        QTest::newRow("offline, a state to come")
            << true << QByteArray(R"({"v":2,"state":"updating"})") << QByteArray("offline") << false
            << int(S::Offline) << QStringLiteral("updating");
        QTest::newRow("unknown: no broker")
            << true << QByteArray() << QByteArray() << true << int(S::Unknown) << QString();
        QTest::newRow("missing") << false << QByteArray() << QByteArray() << false
                                 << int(S::Missing) << QString();
    }

    void states()
    {
        QFETCH(bool, published);
        QFETCH(QByteArray, publisherState);
        QFETCH(QByteArray, lastStatus);
        QFETCH(bool, stopBroker);
        QFETCH(int, state);
        QFETCH(QString, reason);
        QTemporaryDir folder;
        Broker own(folder.path());
        QVERIFY2(own.start(), own.log.constData());
        const QString prefix = QStringLiteral("st/line");
        const qint64 lastReading = QDateTime::currentMSecsSinceEpoch() - 4000;
        SiteMonitor monitor;
        monitor.expect(prefix);
        MqttSettings settings;
        settings.host = QStringLiteral("127.0.0.1");
        settings.port = own.port;
        QString why;
        QVERIFY2(monitor.open(settings, {QStringLiteral("st/#")}, &why), qPrintable(why));
        const auto line = [&monitor, &prefix] { return monitor.lines().value(prefix); };
        QTRY_VERIFY_WITH_TIMEOUT(monitor.connection() == SiteMonitor::Connection::Connected, 10000);
        if (published) {
            auto out = publisher(own.port);
            out->publish(broker::statusTopic(prefix), "online", 1, true);
            // Two rounds of a second: the line's round is known.
            out->publish(broker::readingTopic(prefix, 1), readingAt(lastReading - 1000, 1), 1,
                         false);
            out->publish(broker::readingTopic(prefix, 1), readingAt(lastReading, 2), 1, false);
            if (!publisherState.isEmpty())
                out->publish(prefix + QStringLiteral("/state"), publisherState, 1, true);
            if (!lastStatus.isEmpty())
                out->publish(broker::statusTopic(prefix), lastStatus, 1, true);
            QTRY_COMPARE_WITH_TIMEOUT(line().lastPublished, lastReading, 10000);
            QCOMPARE(line().ledger.received(), quint64(2));
            if (!lastStatus.isEmpty())
                QTRY_COMPARE_WITH_TIMEOUT(int(line().status), int(SiteLine::Status::Offline),
                                          10000);
            out->close();
        }
        if (stopBroker) {
            QTRY_COMPARE_WITH_TIMEOUT(int(line().state), int(SiteLine::State::Online), 10000);
            own.stop();
            QTRY_VERIFY_WITH_TIMEOUT(monitor.brokerLostAt() > 0, 10000);
        }
        QTRY_COMPARE_WITH_TIMEOUT(int(line().state), state, 15000);
        QCOMPARE(line().reason, reason);
        if (published)
            QCOMPARE(line().lastPublished, lastReading);
    }

    // Line files loaded as lines the site should have: a file whose port no line on the broker
    // names is a missing line with its sensors; a publisher whose own file names that port
    // stands for it, one row, whether it came before or after; hidden, either forgets the file.
    // The view opened anew has the files it had.
    void loadedLines_data()
    {
        QTest::addColumn<QString>("publishedPort"); // the publisher's own file's; empty: none
        QTest::addColumn<bool>("publishedFirst");
        QTest::addColumn<bool>("matched");
        QTest::addColumn<bool>("hide");
        const QString same = QStringLiteral("/dev/ttyLINE7");
        QTest::newRow("absent: missing") << QString() << false << false << false;
        QTest::newRow("the publisher comes") << same << false << true << false;
        QTest::newRow("the publisher was there") << same << true << true << false;
        QTest::newRow("another port") << QStringLiteral("/dev/ttyLINE8") << false << false << false;
        QTest::newRow("missing, hidden") << QString() << false << false << true;
        QTest::newRow("matched, hidden") << same << false << true << true;
    }

    void loadedLines()
    {
        QFETCH(QString, publishedPort);
        QFETCH(bool, publishedFirst);
        QFETCH(bool, matched);
        QFETCH(bool, hide);
        QTemporaryDir folder;
        Broker own(folder.path());
        QVERIFY2(own.start(), own.log.constData());
        WindowBench b;
        linefile::Line file;
        file.port = QStringLiteral("/dev/ttyLINE7");
        for (quint8 addr = 1; addr <= 3; ++addr) {
            const sim::Sensor sensor = sim::lineSensor(addr);
            file.sensors << linefile::fromBlocks(addr, sensor.baud, sensor.ust, sensor.param,
                                                 QDateTime::currentDateTime());
        }
        const QString path = b.dir.filePath(QStringLiteral("line7.json"));
        QCOMPARE(linefile::save(file, path), QString());
        const QString prefix = QStringLiteral("site/line7");
        std::unique_ptr<MqttClient> out;
        const auto publish = [&] {
            linefile::Line published = file;
            published.port = publishedPort;
            out = publisher(own.port);
            out->publish(broker::statusTopic(prefix), "online", 1, true);
            out->publish(broker::lineTopic(prefix), linefile::toCompactJson(published), 1, true);
        };
        if (!publishedPort.isEmpty() && publishedFirst)
            publish();

        SiteView* view = openSiteView(b);
        const SiteMonitor& monitor = view->monitor();
        auto* tree = view->findChild<QTreeView*>();
        connectTo(view, own.port);
        QTRY_VERIFY_WITH_TIMEOUT(statusText(view).startsWith(QStringLiteral("Подключено")), 10000);
        if (publishedFirst)
            QTRY_VERIFY_WITH_TIMEOUT(monitor.lines().value(prefix).port == publishedPort, 10000);
        view->chooseLineFiles = [path] { return QStringList{path}; };
        QApplication::setActiveWindow(view);
        tree->setFocus();
        QTest::keyClick(tree, Qt::Key_O, Qt::ControlModifier);
        if (!publishedPort.isEmpty() && !publishedFirst)
            publish();
        if (matched) {
            QTRY_COMPARE_WITH_TIMEOUT(monitor.lines().value(prefix).file, path, 10000);
            QCOMPARE(monitor.lines().keys(), QStringList{prefix});
            QTRY_VERIFY_WITH_TIMEOUT(
                lineRow(tree, prefix).isValid() && tree->model()->rowCount() == 1, 5000);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(int(monitor.lines().value(path).state),
                                      int(SiteLine::State::Missing), 15000);
            const QString text = lineRow(tree, path).data().toString();
            QVERIFY2(text.startsWith(path + QStringLiteral(" — нет на брокере")) &&
                         text.contains(file.port),
                     qPrintable(text));
            QCOMPARE(tree->model()->rowCount(lineRow(tree, path)), file.sensors.size());
            for (int row = 0; row < file.sensors.size(); ++row) {
                QCOMPARE(cell(tree, path, row, Address), QString::number(row + 1));
                QCOMPARE(cell(tree, path, row, Name), *file.sensors[row].name);
            }
            if (!publishedPort.isEmpty()) {
                QTRY_COMPARE_WITH_TIMEOUT(monitor.lines().value(prefix).port, publishedPort, 10000);
                QCOMPARE(monitor.lines().value(prefix).file, QString());
                QCOMPARE(tree->model()->rowCount(), 2);
            }
        }
        if (hide) {
            tree->setCurrentIndex(lineRow(tree, matched ? prefix : path));
            QTest::keyClick(tree, Qt::Key_Delete);
            QTRY_COMPARE_WITH_TIMEOUT(tree->model()->rowCount(), 0, 5000);
        }
        view->close();

        // Opened anew, with what the last one remembered.
        SiteView again;
        const auto& lines = again.monitor().lines();
        const bool withFile =
            std::any_of(lines.begin(), lines.end(),
                        [&path](const SiteLine& line) { return line.file == path; });
        QCOMPARE(withFile, !hide);
        QCOMPARE(lines.contains(path), !hide && !matched);
        if (!hide && !matched)
            QCOMPARE(lines.value(path).sensors.size(), file.sensors.size());
        const QStringList files =
            QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("VEL_DUO300"),
                      QStringLiteral("VEL_DUO300"))
                .value(QStringLiteral("site/files"))
                .toStringList();
        QCOMPARE(files.contains(path), !hide);
        if (out)
            out->close();
    }

    // A file that is no line file is told by its name and the reason, and neither shown nor
    // remembered; the good ones chosen with it are loaded.
    void refusedLineFile()
    {
        WindowBench b;
        SiteView* view = openSiteView(b);
        const QString bad = b.dir.filePath(QStringLiteral("notes.json"));
        QFile notes(bad);
        QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("{\"format\": ") > 0);
        notes.close();
        linefile::Line good;
        good.port = QStringLiteral("/dev/ttyLINE9");
        const QString fine = b.dir.filePath(QStringLiteral("line9.json"));
        QCOMPARE(linefile::save(good, fine), QString());
        view->chooseLineFiles = [&] { return QStringList{bad, fine}; };
        view->findChild<QAction*>(QStringLiteral("actionLoadLineFiles"))->trigger();
        QCOMPARE(b.boxes.boxes().size(), 1);
        QVERIFY2(b.boxes.boxes().first().text.contains(QStringLiteral("notes.json: ")),
                 qPrintable(b.boxes.boxes().first().text));
        QCOMPARE(view->monitor().lines().keys(), QStringList{fine});
        QCOMPARE(QSettings(QSettings::NativeFormat, QSettings::UserScope,
                           QStringLiteral("VEL_DUO300"), QStringLiteral("VEL_DUO300"))
                     .value(QStringLiteral("site/files"))
                     .toStringList(),
                 QStringList{fine});
    }

    // What anyone allowed to publish can send: a huge payload, many fake sensors and lines,
    // refused payloads, a topic with a bidirectional override. The view stays bounded and
    // answers.
    void hostile()
    {
        // The floods take minutes under the sanitizer, which records the whole stack of every
        // allocation (the suite's fast_unwind_on_malloc=0), and its slowness makes the answer
        // time tell nothing: there, the payloads of every shape are sent without them.
        const bool floods = !sanitized;
        WindowBench b;
        SiteView* view = openSiteView(b);
        connectTo(view, broker->port);
        QTRY_VERIFY_WITH_TIMEOUT(statusText(view).startsWith(QStringLiteral("Подключено")), 10000);
        auto* tree = view->findChild<QTreeView*>();
        const SiteMonitor& monitor = view->monitor();
        auto out = publisher(broker->port);
        // How late the window's event loop answers meanwhile.
        QElapsedTimer since;
        since.start();
        qint64 worst = 0;
        QTimer probe;
        probe.setInterval(20);
        QObject::connect(&probe, &QTimer::timeout,
                         [&] { worst = std::max(worst, since.restart() - 20); });
        probe.start();
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        // A failure with a text of 2 MB.
        QJsonObject big = QJsonDocument::fromJson(readingAt(now, 1, 1, 5)).object();
        big.insert(QStringLiteral("text"), QString(2 * 1024 * 1024, QLatin1Char('x')));
        out->publish(QStringLiteral("site/evilbig/reading/1"),
                     QJsonDocument(big).toJson(QJsonDocument::Compact), 0, false);
        // A long text within the size: cut.
        QJsonObject longer = big;
        longer.insert(QStringLiteral("text"), QString(3000, QLatin1Char('y')));
        out->publish(QStringLiteral("site/evillong/reading/1"),
                     QJsonDocument(longer).toJson(QJsonDocument::Compact), 0, false);
        // Addresses and speeds of every kind, on one prefix.
        for (int k = 0; floods && k < 4000; ++k)
            out->publish(QStringLiteral("site/evilmany/reading/%1").arg(1 + k % 247),
                         readingAt(now + k, quint64(k + 1), 1 + k % 247, 0,
                                   k % 5 ? listedSpeeds[(k / 247) % 8] : 1 + k / 247),
                         0, false);
        // Payloads refused: no row.
        for (int k = 0; k < 15; ++k)
            out->publish(QStringLiteral("site/evilmal%1/reading/1").arg(k), "{\"v\":1,", 0, false);
        // A name that would turn its row around.
        out->publish(QStringLiteral("site/\u202E0/status"), "online", 0, false);
        // More lines than the view holds.
        for (int k = 0; floods && k < SiteMonitor::maxLines + 20; ++k)
            out->publish(QStringLiteral("site/evilline%1/status").arg(k), "online", 0, false);
        // Taken in the order sent: the last message's row tells that all before it came.
        QTRY_VERIFY_WITH_TIMEOUT(
            monitor.lines().contains(
                floods ? QStringLiteral("site/evilline%1").arg(SiteMonitor::maxLines - 10)
                       : QStringLiteral("site/\u202E0")),
            60000);
        if (floods)
            QTRY_VERIFY_WITH_TIMEOUT(
                journalEvents(view).join('\n').contains(QStringLiteral("линий уже")), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(tree->model()->rowCount(), monitor.lines().size(), 20000);
        probe.stop();
        QVERIFY(monitor.lines().size() <= SiteMonitor::maxLines);
        QVERIFY(!monitor.lines().contains(QStringLiteral("site/evilbig")));
        QVERIFY(
            journalEvents(view).join('\n').contains(QStringLiteral("сверх допустимого размера")));
        const SensorState cut =
            monitor.lines().value(QStringLiteral("site/evillong")).sensors.value(0);
        QVERIFY(!cut.errorText.isEmpty() && cut.errorText.size() <= SiteMonitor::maxTextChars);
        if (floods) {
            const SiteLine many = monitor.lines().value(QStringLiteral("site/evilmany"));
            // Taken, at the listed speeds alone: every address came at one of them at least.
            QVERIFY(many.sensors.size() >= 247 && many.sensors.size() <= 247 * 8);
            QVERIFY(std::all_of(many.sensors.begin(), many.sensors.end(), [](const SensorState& s) {
                return std::count(std::begin(listedSpeeds), std::end(listedSpeeds), s.baudrate) ==
                       1;
            }));
        }
        for (int k = 0; k < 15; ++k)
            QVERIFY(!monitor.lines().contains(QStringLiteral("site/evilmal%1").arg(k)));
        const QString turned = lineRow(tree, QStringLiteral("site/\u202E0")).data().toString();
        QVERIFY2(turned.startsWith(QStringLiteral("site/\\u202e0 — ")), qPrintable(turned));
        QVERIFY(!turned.contains(QChar(0x202E)));
        // The window kept answering: tolerant of a machine shared with other builds.
        if (floods) {
            QVERIFY2(worst < 1000, qPrintable(QString::number(worst)));
            qInfo("longest wait of the window's events under the flood: %lld ms", worst);
        }
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
