// bench_site --sparkplug [SECONDS]: the same site (16 simulated lines of 31 sensors, one
// Mosquitto, one subscriber) published in turn by the JSON contract and by Sparkplug B, in one
// run: for each, the delay from the end of a poll to its message at the subscriber, the CPU of
// each velduo, and the bytes the broker carried to the subscriber per reading.
#include "codec/blocks.h"
#include "codec/sparkplug.h"
#include "core/devices/mqttclient.h"
#include "sim/sensorlogic.h"
#include "support/broker.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
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

void pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double processCpu(qint64 pid)
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

double quantile(std::vector<qint64> values, double share)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return double(values[std::min(values.size() - 1, size_t(share * double(values.size())))]);
}

struct Figures
{
    std::vector<qint64> delays;
    qint64 bytes = 0;    // topics and payloads the subscriber received while measuring
    qint64 messages = 0; // messages it received while measuring
    qint64 readings = 0; // polls printed by the velduos while measuring
    double cpuMax = 0, cpuMean = 0;
    double seconds = 0;
};

// One contract over the whole site: its velduos started on the lines, warmed up, measured.
bool measure(bool sparkplugOn, int seconds, const Broker& broker, const QStringList& ports,
             Figures* figures)
{
    MqttClient subscriber;
    bool measuring = false;
    QObject::connect(
        &subscriber, &MqttClient::message, &subscriber,
        [&](const QString& topic, const QByteArray& payload, bool) {
            if (!measuring)
                return;
            const bool ours = sparkplugOn ? topic.startsWith(QLatin1String("spBv1.0/"))
                                          : topic.startsWith(QLatin1String("site/"));
            if (!ours)
                return;
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            figures->bytes += topic.toUtf8().size() + payload.size();
            ++figures->messages;
            if (sparkplugOn) {
                sparkplug::Payload decoded;
                QString why;
                if (topic.section(QLatin1Char('/'), 2, 2) == QLatin1String("DDATA") &&
                    sparkplug::decode(payload, &decoded, &why) && decoded.timestamp)
                    figures->delays.push_back(now - qint64(*decoded.timestamp));
            } else if (topic.section(QLatin1Char('/'), 2, 2) == QLatin1String("reading")) {
                const QJsonObject reading = QJsonDocument::fromJson(payload).object();
                figures->delays.push_back(
                    now - QDateTime::fromString(reading.value(QStringLiteral("readAt")).toString(),
                                                Qt::ISODateWithMs)
                              .toMSecsSinceEpoch());
            }
        });
    subscriber.subscribe(sparkplugOn ? QStringLiteral("spBv1.0/#") : QStringLiteral("site/#"),
                         sparkplugOn ? 0 : 1);
    MqttSettings settings;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = broker.port;
    settings.clientId = QStringLiteral("bench-site-compare");
    settings.cleanSession = true;
    QString why;
    if (!subscriber.open(settings, &why)) {
        std::fprintf(stderr, "bench_site: %s\n", qPrintable(why));
        return false;
    }
    QStringList sensors;
    for (int addr = 1; addr <= sensorsPerLine; ++addr)
        sensors << QStringLiteral("%1@%2").arg(addr).arg(sim::lineSensor(quint8(addr)).baud);
    QTemporaryDir data;
    std::vector<std::unique_ptr<QProcess>> watchers;
    for (int i = 0; i < ports.size(); ++i) {
        auto watch = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), data.path());
        watch->setProcessEnvironment(env);
        const QStringList contract = sparkplugOn
                                         ? QStringList{QStringLiteral("--sparkplug"),
                                                       QStringLiteral("Bench/line%1").arg(i + 1)}
                                         : QStringList{QStringLiteral("--mqtt-topic"),
                                                       QStringLiteral("site/line%1").arg(i + 1)};
        watch->start(QStringLiteral(VEL_VELDUO),
                     QStringList{QStringLiteral("watch")} + sensors +
                         QStringList{QStringLiteral("--port"), ports[i], QStringLiteral("--mqtt"),
                                     broker.url()} +
                         contract);
        watchers.push_back(std::move(watch));
    }
    // Settings read, births sent and the first rounds done before measuring.
    pause(8000);
    std::vector<double> cpuStart;
    for (auto& watch : watchers) {
        cpuStart.push_back(processCpu(watch->processId()));
        watch->readAllStandardOutput();
    }
    QElapsedTimer clock;
    clock.start();
    measuring = true;
    pause(seconds * 1000);
    measuring = false;
    figures->seconds = double(clock.elapsed()) / 1000.0;
    for (size_t i = 0; i < watchers.size(); ++i) {
        const double share =
            (processCpu(watchers[i]->processId()) - cpuStart[i]) / figures->seconds;
        figures->cpuMax = std::max(figures->cpuMax, share);
        figures->cpuMean += share / double(watchers.size());
        figures->readings += watchers[i]->readAllStandardOutput().count('\n');
    }
    for (auto& watch : watchers) {
        ::kill(pid_t(watch->processId()), SIGINT);
        watch->waitForFinished(30000);
    }
    subscriber.close();
    return true;
}

void report(const char* name, const Figures& f)
{
    std::printf("%-10s delay poll end -> subscriber p50 %.0f ms, p99 %.0f ms over %zu messages; "
                "cpu of each velduo max %.2f %%, mean %.2f %%; %lld readings, %lld messages, "
                "%.1f bytes per reading\n",
                name, quantile(f.delays, 0.5), quantile(f.delays, 0.99), f.delays.size(),
                100 * f.cpuMax, 100 * f.cpuMean, static_cast<long long>(f.readings),
                static_cast<long long>(f.messages),
                f.readings ? double(f.bytes) / double(f.readings) : 0.0);
}

} // namespace

int benchSiteSparkplug(int seconds)
{
    QTemporaryDir folder;
    Broker broker(folder.path());
    if (!broker.start()) {
        std::fprintf(stderr, "%s\nbench_site: mosquitto does not start\n", broker.log.constData());
        return 1;
    }
    std::vector<std::unique_ptr<QProcess>> sims;
    QStringList ports;
    for (int i = 0; i < lines; ++i) {
        auto sim = std::make_unique<QProcess>();
        sim->start(QStringLiteral(VEL_SIM),
                   {QStringLiteral("--line"), QString::number(sensorsPerLine)});
        if (!sim->waitForReadyRead(10000)) {
            std::fprintf(stderr, "bench_site: the simulated line does not start\n");
            return 1;
        }
        ports << QString::fromUtf8(sim->readLine()).trimmed();
        sims.push_back(std::move(sim));
    }
    Figures json, sparkplugFigures;
    const bool done = measure(false, seconds, broker, ports, &json) &&
                      measure(true, seconds, broker, ports, &sparkplugFigures);
    for (auto& sim : sims) {
        sim->terminate();
        sim->waitForFinished(5000);
    }
    broker.stop();
    if (!done)
        return 1;
    std::printf("site of %d lines x %d sensors, one broker, one subscriber, each contract "
                "%.0f s measured in turn on the same lines\n",
                lines, sensorsPerLine, json.seconds);
    report("JSON", json);
    report("Sparkplug", sparkplugFigures);
    std::printf("bytes are topics and payloads as delivered to the subscriber (retained states, "
                "births and deaths included)\n");
    return 0;
}
