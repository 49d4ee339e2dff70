// A site: 16 simulated lines of 31 sensors, a velduo watch --mqtt for each, one Mosquitto and
// one subscriber. Prints the delay from the end of a sensor's poll to its reading at the
// subscriber, the CPU and resident memory of each velduo, and whether every reading arrived
// across an outage in the middle: every line's adapter unplugged and plugged in again, and the
// broker restarted meanwhile.
#include "codec/blocks.h"
#include "codec/rtu.h"
#include "core/devices/mqttclient.h"
#include "sim/sensorlogic.h"
#include "support/broker.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

constexpr int lines = 16;
// A full line: a sensor at every address the address change gives.
constexpr int sensorsPerLine = addressMax;

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// utime + stime of a process, in seconds.
double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12
               ? double(fields[11].toLongLong() + fields[12].toLongLong()) / sysconf(_SC_CLK_TCK)
               : 0;
}

double residentMbOf(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

double percentile(std::vector<qint64> values, double share)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return double(values[std::min(values.size() - 1, size_t(share * double(values.size())))]);
}

} // namespace

// bench_site --sparkplug (sitesparkplug.cpp): the JSON contract against Sparkplug B.
int benchSiteSparkplug(int seconds);

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc > 1 && QByteArray(argv[1]) == "--sparkplug")
        return benchSiteSparkplug(argc > 2 ? QByteArray(argv[2]).toInt() : 20);
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 20;
    QTemporaryDir folder;
    // It keeps every reading for the subscriber however long that one takes to reconnect.
    const QByteArray listener = "allow_anonymous true\nmax_queued_messages 0\n";
    Broker broker(folder.path());
    if (!broker.start(listener)) {
        std::fprintf(stderr, "%s", broker.log.constData());
        std::fprintf(stderr, "bench_site: mosquitto does not start\n");
        return 1;
    }

    // The subscriber, with a persistent session so that the broker keeps its readings while
    // it restarts.
    MqttClient subscriber;
    // Its own message on a topic it listens to says that its subscription is in force.
    const QString probeTopic = QStringLiteral("site/bench/reading/0");
    bool subscribed = false;
    bool measuring = false;
    std::vector<qint64> delays;
    QMap<QString, qint64> lastSeq; // per line
    QMap<QString, QSet<qint64>> seen;
    qint64 replugged = 0;  // when the adapters came back; 0 before
    QSet<QString> resumed; // lines with an answer polled after that
    int outOfOrder = 0, outOfOrderMeasuring = 0;
    QObject::connect(
        &subscriber, &MqttClient::message, &subscriber,
        [&](const QString& topic, const QByteArray& payload, bool) {
            if (topic == probeTopic) {
                subscribed = true;
                return;
            }
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            const QJsonObject reading = QJsonDocument::fromJson(payload).object();
            const QString line = topic.section(QLatin1Char('/'), 1, 1);
            const qint64 seq = qint64(reading.value("seq").toDouble());
            if (seen[line].contains(seq))
                return; // a QoS-1 duplicate
            seen[line].insert(seq);
            qint64& last = lastSeq[line];
            if (seq != last + 1) {
                ++outOfOrder;
                outOfOrderMeasuring += measuring;
                if (qEnvironmentVariableIsSet("BENCH_DEBUG"))
                    std::fprintf(stderr, "%s: %lld after %lld\n", qPrintable(line),
                                 static_cast<long long>(seq), static_cast<long long>(last));
            }
            last = std::max(last, seq);
            if (replugged && reading.value("error").toInt() == rtu::NoError &&
                QDateTime::fromString(reading.value("readAt").toString(), Qt::ISODateWithMs)
                        .toMSecsSinceEpoch() > replugged)
                resumed.insert(line);
            if (measuring)
                delays.push_back(now - QDateTime::fromString(reading.value("readAt").toString(),
                                                             Qt::ISODateWithMs)
                                           .toMSecsSinceEpoch());
        });
    subscriber.subscribe(QStringLiteral("site/+/reading/#"), 1);
    MqttSettings settings;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = broker.port;
    settings.clientId = QStringLiteral("bench-site-subscriber");
    QString why;
    if (!subscriber.open(settings, &why)) {
        std::fprintf(stderr, "bench_site: %s\n", qPrintable(why));
        return 1;
    }
    // The lines start only once the subscriber hears them: their first readings count too.
    QObject::connect(&subscriber, &MqttClient::connected, &subscriber,
                     [&] { subscriber.publish(probeTopic, QByteArrayLiteral("{}"), 1, false); });
    QElapsedTimer subscribing;
    subscribing.start();
    while (!subscribed && subscribing.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    if (!subscribed) {
        std::fprintf(stderr, "bench_site: the subscriber does not hear its own probe\n");
        return 1;
    }

    QStringList sensors;
    for (int addr = 1; addr <= sensorsPerLine; ++addr)
        sensors << QStringLiteral("%1@%2").arg(addr).arg(sim::lineSensor(quint8(addr)).baud);
    // Each line's adapter by a name of its own, as /dev/serial/by-id names one: the simulator
    // started again behind it is the adapter plugged in again.
    const auto adapter = [&folder](int i) {
        return folder.filePath(QStringLiteral("adapter%1").arg(i + 1));
    };
    const auto plugIn = [&](int i) {
        auto sim = std::make_unique<QProcess>();
        sim->start(QStringLiteral(VEL_SIM),
                   {QStringLiteral("--line"), QString::number(sensorsPerLine),
                    QStringLiteral("--link"), adapter(i)});
        return sim->waitForReadyRead(10000) ? std::move(sim) : nullptr;
    };
    std::vector<std::unique_ptr<QProcess>> sims, watchers;
    for (int i = 0; i < lines; ++i) {
        auto sim = plugIn(i);
        if (!sim) {
            std::fprintf(stderr, "bench_site: the simulated line does not start\n");
            return 1;
        }
        const QString pty = adapter(i);
        auto watch = std::make_unique<QProcess>();
        watch->setProcessChannelMode(QProcess::SeparateChannels);
        watch->start(QStringLiteral(VEL_VELDUO),
                     QStringList{QStringLiteral("watch")} + sensors +
                         QStringList{QStringLiteral("--port"), pty, QStringLiteral("--mqtt"),
                                     broker.url(), QStringLiteral("--mqtt-topic"),
                                     QStringLiteral("site/line%1").arg(i + 1)});
        sims.push_back(std::move(sim));
        watchers.push_back(std::move(watch));
    }
    // Settings read and the first rounds done before measuring.
    wait(5000);
    std::vector<double> cpuStart;
    for (auto& watch : watchers)
        cpuStart.push_back(cpuSeconds(watch->processId()));
    QElapsedTimer clock;
    clock.start();
    measuring = true;
    wait(seconds * 1000);
    measuring = false;
    const double elapsed = double(clock.elapsed()) / 1000.0;
    double cpuMax = 0, cpuSum = 0, rssMax = 0;
    for (size_t i = 0; i < watchers.size(); ++i) {
        const double share = (cpuSeconds(watchers[i]->processId()) - cpuStart[i]) / elapsed;
        cpuMax = std::max(cpuMax, share);
        cpuSum += share;
        rssMax = std::max(rssMax, residentMbOf(watchers[i]->processId()));
    }

    // The outage: every adapter unplugged, the broker away for 5 s meanwhile, the adapters
    // plugged in again, the broker back with what it saved. It keeps every reading for the
    // subscriber however long that one takes to reconnect (max_queued_messages 0 above).
    for (auto& sim : sims) {
        sim->terminate();
        sim->waitForFinished(5000);
    }
    wait(2000);
    broker.stop();
    wait(3000);
    for (int i = 0; i < lines; ++i) {
        sims[size_t(i)] = plugIn(i);
        if (!sims[size_t(i)]) {
            std::fprintf(stderr, "bench_site: the simulated line does not start again\n");
            return 1;
        }
    }
    replugged = QDateTime::currentMSecsSinceEpoch();
    wait(2000);
    if (!broker.start(listener)) {
        std::fprintf(stderr, "bench_site: mosquitto does not start again\n");
        return 1;
    }
    wait(40000); // the longest back-off, and the queues drained
    qint64 published = 0;
    for (auto& watch : watchers) {
        ::kill(pid_t(watch->processId()), SIGINT);
        watch->waitForFinished(30000);
        published += watch->readAllStandardOutput().count('\n');
    }
    wait(2000);
    qint64 received = 0;
    for (const QSet<qint64>& seqs : seen)
        received += seqs.size();
    for (auto& sim : sims) {
        sim->terminate();
        sim->waitForFinished(5000);
    }
    subscriber.close();
    broker.stop();

    std::printf("site of %d lines x %d sensors, one broker, one subscriber, %.0f s measured\n",
                lines, sensorsPerLine, elapsed);
    std::printf("delay poll end -> subscriber: p50 %.0f ms, p99 %.0f ms over %zu readings "
                "(target p99 below 100 ms)\n",
                percentile(delays, 0.5), percentile(delays, 0.99), delays.size());
    std::printf("cpu of each velduo: max %.2f %%, mean %.2f %% of a core (target below 2 %%)\n",
                100 * cpuMax, 100 * cpuSum / double(lines));
    std::printf("resident memory of each velduo: max %.1f MB\n", rssMax);
    std::printf("across every adapter unplugged and plugged in again and a 5 s broker restart: "
                "%lld readings printed, %lld received, %d out of order (%d of them before the "
                "outage), %d of %d lines polling again (target: all received, in order, every "
                "line polling)\n",
                static_cast<long long>(published), static_cast<long long>(received), outOfOrder,
                outOfOrderMeasuring, int(resumed.size()), lines);
    return 0;
}
