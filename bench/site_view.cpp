// "Обзор площадки" subscribed to a site of 16 lines of 31 sensors: the benchmark publishes
// them itself through the core's MQTT client, from a thread of its own, as velduo watch --mqtt
// does (each line's status, line file and sensor states retained, one reading a sensor a
// second, the readings of a line spread over its second), to a Mosquitto it starts. Prints the
// GUI thread's CPU time against its wall time (target below 10 % of a core), the growth of
// resident memory against what the reading buffers take for the readings kept plus 10 MB, and
// the delay from a reading's publication to the view's rows showing it, the broker's hop
// included (target below 1 s).
// Usage: bench_site_view [seconds], 60 by default.
#include "codec/blocks.h"
#include "codec/brokerurl.h"
#include "codec/linefile.h"
#include "codec/sitepayloads.h"
#include "core/devices/mqttclient.h"
#include "core/devices/sitemonitor.h"
#include "gui/sensorcells.h"
#include "gui/siteview.h"
#include "support/broker.h"
#include "support/residentmemory.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

namespace {

constexpr int lines = 16;
constexpr int sensorsPerLine = addressMax;

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double percentile(std::vector<qint64> values, double share)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return double(values[std::min(values.size() - 1, size_t(share * double(values.size())))]);
}

QString prefixOf(int line)
{
    return QStringLiteral("site/line%1").arg(line + 1, 2, 10, QLatin1Char('0'));
}

// The site's publishers, in their own thread: a client a line with its will, as velduo has.
class Site : public QObject
{
public:
    explicit Site(int port) : port(port) {}
    std::atomic<int> up{0};

    void start()
    {
        for (int line = 0; line < lines; ++line) {
            auto client = std::make_unique<MqttClient>();
            MqttSettings settings;
            settings.host = QStringLiteral("127.0.0.1");
            settings.port = port;
            settings.clientId = broker::clientId(prefixOf(line));
            settings.willTopic = broker::statusTopic(prefixOf(line));
            settings.willPayload = QByteArrayLiteral("offline");
            MqttClient* raw = client.get();
            connect(raw, &MqttClient::connected, this, [this, raw, line] {
                raw->publish(broker::statusTopic(prefixOf(line)), "online", 1, true);
                raw->publish(broker::lineTopic(prefixOf(line)), lineFile(line), 1, true);
                ++up;
            });
            QString why;
            if (!raw->open(settings, &why))
                std::fprintf(stderr, "bench_site_view: %s\n", qPrintable(why));
            clients.push_back(std::move(client));
        }
        // One sensor of each line every 1/31 s: each sensor once a second.
        timer = new QTimer(this);
        timer->setTimerType(Qt::PreciseTimer);
        timer->setInterval(1000 / sensorsPerLine);
        connect(timer, &QTimer::timeout, this, [this] { publishNext(); });
        timer->start();
    }

    // In the publishers' thread, where the timer and the clients live.
    void stop()
    {
        delete timer;
        timer = nullptr;
        for (auto& client : clients)
            client->close();
        clients.clear();
    }

private:
    static DeviceVEL_DUO300 record(int addr)
    {
        DeviceVEL_DUO300 dev{};
        dev.addr = addr;
        dev.baudrate = 9600;
        dev.param.sensorType = quint16(addr % 2 ? SensorType::Voltage : SensorType::Temperature);
        dev.param.workTime = 3600;
        std::memcpy(dev.param.version, "VEL-1.0", 8);
        setNameText(dev.ust, QStringLiteral("Датчик %1").arg(addr));
        dev.ustRead = true;
        return dev;
    }

    static QByteArray lineFile(int line)
    {
        linefile::Line file;
        file.port = QStringLiteral("/dev/ttyUSB%1").arg(line);
        for (int addr = 1; addr <= sensorsPerLine; ++addr) {
            const DeviceVEL_DUO300 dev = record(addr);
            linefile::Sensor sensor;
            sensor.address = addr;
            sensor.speed = dev.baudrate;
            sensor.type = dev.param.sensorType;
            sensor.name = nameText(dev.ust);
            sensor.version = versionText(dev.param);
            file.sensors.append(sensor);
        }
        return linefile::toJson(file);
    }

    void publishNext()
    {
        const int addr = 1 + next % sensorsPerLine;
        ++next;
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        const DeviceVEL_DUO300 dev = record(addr);
        for (int line = 0; line < lines; ++line) {
            Reading reading;
            reading.msecs = now;
            reading.addr = addr;
            reading.baudrate = dev.baudrate;
            reading.sensorType = sensorTypeOf(dev.param);
            // A value of its own each second, so that each reading changes its row.
            reading.measure =
                qint16(reading.sensorType == SensorType::Voltage ? 10000 + (now / 1000) % 100
                                                                 : 2000 + (now / 1000) % 500);
            reading.adc = quint16(2000 + line);
            SensorState state{addr, dev.baudrate};
            state.take(reading);
            MqttClient& client = *clients[size_t(line)];
            client.publish(broker::sensorTopic(prefixOf(line), addr),
                           broker::sensorPayload(dev, state, 0), 1, true);
            client.publish(broker::readingTopic(prefixOf(line), addr),
                           broker::readingPayload(reading, ++seq[line]), 1, false);
        }
    }

    int port;
    QTimer* timer = nullptr;
    std::vector<std::unique_ptr<MqttClient>> clients;
    quint64 next = 0;
    quint64 seq[lines]{};
};

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(5, QByteArray(argv[1]).toInt()) : 60;
    constexpr double cpuTarget = 0.10;
    constexpr double delayTargetMs = 1000;
    constexpr double slackMb = 10.0;

    QTemporaryDir folder;
    Broker broker(folder.path());
    if (!broker.start()) {
        std::fprintf(stderr, "bench_site_view: mosquitto does not start\n%s",
                     broker.log.constData());
        return 1;
    }
    QThread publishing;
    Site site(broker.port);
    site.moveToThread(&publishing);
    publishing.start();
    QMetaObject::invokeMethod(&site, [&site] { site.start(); });
    QElapsedTimer clock;
    clock.start();
    while (site.up < lines && clock.elapsed() < 20000)
        wait(100);
    if (site.up < lines) {
        std::fprintf(stderr, "bench_site_view: the site's publishers do not connect\n");
        return 1;
    }

    SiteView view;
    view.resize(1280, 860);
    view.show();
    view.findChild<QLineEdit*>(QStringLiteral("lineEditHost"))
        ->setText(QStringLiteral("127.0.0.1"));
    view.findChild<QSpinBox*>(QStringLiteral("spinBoxPort"))->setValue(broker.port);
    view.findChild<QLineEdit*>(QStringLiteral("lineEditTopics"))->setText(QStringLiteral("site/#"));
    view.connectToBroker();
    const SiteMonitor& monitor = view.monitor();
    const auto rows = [&monitor] {
        int count = 0;
        for (const SiteLine& line : monitor.lines())
            count += line.sensors.size();
        return count;
    };
    clock.restart();
    while (rows() < lines * sensorsPerLine && clock.elapsed() < 20000)
        wait(100);
    wait(1000);
    auto* tree = view.findChild<QTreeView*>();
    // Six curves, as an engineer follows a few sensors of a few lines.
    for (int line = 0; line < 3; ++line) {
        const QModelIndex parent = tree->model()->index(line, 0);
        for (int row : {0, 1})
            tree->model()->setData(tree->model()->index(row, overview::Address, parent),
                                   Qt::Checked, Qt::CheckStateRole);
    }

    // At each paint of the rows, each sensor's newest answer is what its row shows: the first
    // paint to show an answer gives its delay.
    std::vector<qint64> delays;
    QHash<QPair<QString, int>, qint64> shown;
    bool measuring = false;
    int paints = 0;
    struct PaintWatch : QObject
    {
        std::function<void()> onPaint;
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::Paint)
                onPaint();
            return false;
        }
    } watch;
    watch.onPaint = [&] {
        if (!measuring)
            return;
        ++paints;
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        for (const SiteLine& line : monitor.lines())
            for (const SensorState& sensor : line.sensors) {
                qint64& last = shown[{line.name, sensor.addr}];
                if (sensor.answeredAt > last) {
                    if (last > 0)
                        delays.push_back(now - sensor.answeredAt);
                    last = sensor.answeredAt;
                }
            }
    };
    tree->viewport()->installEventFilter(&watch);

    wait(std::min(10, seconds / 6) * 1000);
    const double rssStart = residentMb();
    const int readingsStart = [&monitor] {
        int count = 0;
        for (const ReadingBuffer* buffer : monitor.readings().all())
            count += buffer->size();
        return count;
    }();
    const double cpuStart = threadCpuSeconds();
    clock.restart();
    measuring = true;
    wait(seconds * 1000);
    measuring = false;
    const double elapsed = double(clock.elapsed()) / 1000.0;
    const double cpu = (threadCpuSeconds() - cpuStart) / elapsed;
    const double rssGrowth = residentMb() - rssStart;
    int readingsEnd = 0;
    for (const ReadingBuffer* buffer : monitor.readings().all())
        readingsEnd += buffer->size();
    const double keptMb =
        double(readingsEnd - readingsStart) * ReadingBuffer::readingBytes / (1024.0 * 1024.0);

    tree->viewport()->removeEventFilter(&watch);
    view.close();
    QMetaObject::invokeMethod(
        &site, [&site] { site.stop(); }, Qt::BlockingQueuedConnection);
    publishing.quit();
    publishing.wait();
    broker.stop();

    std::printf("site view over %d lines x %d sensors (%d rows), one reading a sensor a second, "
                "%.0f s measured, %d paints of the rows\n",
                lines, sensorsPerLine, rows(), elapsed, paints);
    std::printf("GUI thread CPU: %.2f %% of a core (target below %.0f %%)\n", 100 * cpu,
                100 * cpuTarget);
    std::printf("resident memory growth: %.1f MB, the readings kept %.1f MB (%d readings); "
                "ratio to readings + %.0f MB: %.2f (target at most 1)\n",
                rssGrowth, keptMb, readingsEnd - readingsStart, slackMb,
                rssGrowth / (keptMb + slackMb));
    std::printf("delay publication -> row shown: p50 %.0f ms, p99 %.0f ms, max %.0f ms over %zu "
                "readings (target below %.0f ms)\n",
                percentile(delays, 0.5), percentile(delays, 0.99), percentile(delays, 1.0),
                delays.size(), delayTargetMs);
    std::fflush(stdout);
    return 0;
}
