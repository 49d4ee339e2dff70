#include "cli/sparkplugwatch.h"
#include "codec/sparkplug.h"
#include "core/ops/linepoller.h"
#include "core/ops/operations.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTimer>
#include <QUrl>

bool SparkplugWatch::prepare(Context& context, int* code)
{
    const QCommandLineParser& parser = *context.parser;
    const QString option = QStringLiteral("sparkplug");
    if (!parser.isSet(QStringLiteral("mqtt"))) {
        *code = context.usage(QStringLiteral("--sparkplug: только вместе с --mqtt"));
        return false;
    }
    if (parser.isSet(QStringLiteral("mqtt-topic"))) {
        *code = context.usage(
            QStringLiteral("--mqtt-topic не задаётся с --sparkplug: темы задаёт Sparkplug B"));
        return false;
    }
    const QString given = parser.value(option);
    const int slash = given.indexOf(QLatin1Char('/'));
    group = slash < 0 ? given : given.left(slash);
    node = slash < 0 ? QString() : given.mid(slash + 1);
    QString why;
    if (!sparkplug::checkId(group, &why) || (slash >= 0 && !sparkplug::checkId(node, &why))) {
        *code = context.usage(QStringLiteral("--sparkplug ГРУППА[/УЗЕЛ]: %1").arg(why));
        return false;
    }
    hostId = parser.value(QStringLiteral("sparkplug-host"));
    if (parser.isSet(QStringLiteral("sparkplug-host")) && !sparkplug::checkId(hostId, &why)) {
        *code = context.usage(QStringLiteral("--sparkplug-host: %1").arg(why));
        return false;
    }
    return true;
}

QString SparkplugWatch::stateFile(const QString& group, const QString& node)
{
    // Ids may hold dots and anything else a file name should not: each is encoded whole.
    const auto part = [](const QString& id) {
        return QString::fromLatin1(QUrl::toPercentEncoding(id, QByteArray(), "."));
    };
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/sparkplug/%1+%2.json").arg(part(group), part(node));
}

void SparkplugWatch::start(Context& context, SensorRegistry& registry, const MqttSettings& settings,
                           const broker::Url& url)
{
    this->context = &context;
    this->registry = &registry;
    this->url = url;
    Session& session = *context.session;
    if (node.isEmpty())
        node = sparkplug::defaultNodeId(QSysInfo::machineHostName(), session.port());
    SparkplugNode::Settings nodeSettings;
    nodeSettings.group = group;
    nodeSettings.node = node;
    nodeSettings.hostId = hostId;
    nodeSettings.port = session.port();
    nodeSettings.version = QStringLiteral(VEL_VERSION);
    nodeSettings.lineSize = registry.size();
    nodeSettings.stateFile = stateFile(group, node);
    edge = std::make_unique<SparkplugNode>(nodeSettings);
    const QString where = QStringLiteral("spBv1.0/%1/+/%2").arg(group, node);
    connect(edge.get(), &SparkplugNode::connected, this, [this, where] {
        if (away || !everConnected)
            tell(QStringLiteral("broker-up"),
                 QStringLiteral("брокер %1 доступен, узел Sparkplug B %2, bdSeq %3; в очереди "
                                "%4 показаний, отброшено %5")
                     .arg(broker::urlText(this->url), where)
                     .arg(edge->bdSeq())
                     .arg(edge->queued())
                     .arg(edge->dropped()));
        away = false;
        everConnected = true;
    });
    connect(edge.get(), &SparkplugNode::connectionLost, this, [this](const QString& reason) {
        if (away)
            return;
        away = true;
        tell(QStringLiteral("broker-down"),
             QStringLiteral("брокер %1 недоступен: %2; показания ждут в очереди")
                 .arg(broker::urlText(this->url), reason));
    });
    connect(edge.get(), &SparkplugNode::refused, this, [this](const QString& reason) {
        refusedWith = QStringLiteral("брокер %1: %2").arg(broker::urlText(this->url), reason);
        emit refused();
    });
    connect(edge.get(), &SparkplugNode::commandRefused, this,
            [this](const QString& text) { tell(QStringLiteral("command-refused"), text); });
    connect(edge.get(), &SparkplugNode::hostChanged, this, [this](bool online) {
        tell(online ? QStringLiteral("host-up") : QStringLiteral("host-down"),
             online
                 ? QStringLiteral("хост %1 на связи: рождения и показания отправляются").arg(hostId)
                 : QStringLiteral("хост %1 не на связи: показания ждут в очереди").arg(hostId));
    });
    connect(edge.get(), &SparkplugNode::dropping, this, [this] {
        tell(QStringLiteral("queue-full"),
             QStringLiteral("очередь полна (%1 показаний): старейшие отбрасываются, "
                            "отброшено %2")
                 .arg(SparkplugNode::defaultQueueLimit)
                 .arg(edge->dropped()));
    });
    QString why;
    if (!edge->open(settings, &why)) {
        refusedWith = QStringLiteral("брокер %1: %2").arg(broker::urlText(url), why);
        QTimer::singleShot(0, this, &SparkplugWatch::refused);
        return;
    }
    // Names and setpoints are metrics too: every sensor's settings are read once.
    for (int row = 0; row < registry.size(); ++row)
        unread.insert(row);
    readSettings();
}

void SparkplugWatch::add(const Reading& reading, const DeviceVEL_DUO300& dev)
{
    edge->add(reading, dev);
    const int row = registry->find(reading.addr, reading.baudrate);
    // A sensor that answers now and did not before: its settings are read next.
    if (reading.ok() && row >= 0 && !dev.ustRead && !unread.contains(row)) {
        unread.insert(row);
        QTimer::singleShot(0, this, &SparkplugWatch::readSettings);
    }
}

void SparkplugWatch::readSettings()
{
    Session& session = *context->session;
    if (session.line().waiting()) {
        QTimer::singleShot(LinePoller::yieldRetryMs, this, &SparkplugWatch::readSettings);
        return;
    }
    const QSet<int> rows = unread;
    for (int row : rows) {
        if (session.ended())
            return;
        DeviceVEL_DUO300* dev = &(*registry)[row];
        session.useSpeed(dev->baudrate);
        ops::ReadSettings(session.line(), session.host()).run(dev, 1);
    }
    unread.subtract(rows);
    if (!unread.isEmpty())
        QTimer::singleShot(0, this, &SparkplugWatch::readSettings);
}

void SparkplugWatch::portLost()
{
    if (edge)
        edge->portLost();
}

void SparkplugWatch::finish()
{
    if (!edge)
        return;
    const bool up = everConnected && !away;
    if (!edge->finish(10000) && refusedWith.isEmpty() && up)
        tell(QStringLiteral("unsent"),
             QStringLiteral("брокер %1 не подтвердил NDEATH").arg(broker::urlText(url)));
}

void SparkplugWatch::tell(const QString& event, const QString& text)
{
    tellBrokerEvent(*context, event, broker::urlText(url), edge->queued(), edge->dropped(), text);
}
