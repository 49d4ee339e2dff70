#pragma once

#include "cli/command.h"
#include "codec/brokerurl.h"
#include "codec/readings.h"
#include "core/devices/mqttclient.h"
#include "core/devices/registry.h"
#include "core/devices/sitepublisher.h"

#include <QCommandLineOption>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QTimer>
#include <memory>

// watch --mqtt: the line's sensors published to a broker while the poller reads them.
class MqttWatch : public QObject
{
    Q_OBJECT
public:
    // Checks the options, and reads the files they name, before the port is opened; false
    // with *code set after telling why.
    bool prepare(Context& context, int* code);
    // Reads the sensors' settings for the line file and starts connecting; after open.
    void start(Context& context, SensorRegistry& registry);
    // Called with every reading of the poller; failure, when given, is why it failed.
    void add(const Reading& reading, const DeviceVEL_DUO300& dev,
             const QString& failure = QString());
    // What the line is doing, for PREFIX/state (a broker::linestate name); nothing before
    // start().
    void setState(const QString& state, const QString& text = QString(),
                  const QString& system = QString());
    // True while settings wait to be read: the poller yields to them.
    bool busy() const { return !unread.isEmpty(); }
    // "offline", the queue sent while the broker is there; then the connection closes.
    void finish();
    // The broker refused this client: the reason, empty when it did not.
    QString refusal() const { return refusedWith; }
    // The broker as the options named it, after prepare(): for the Sparkplug B node.
    const MqttSettings& brokerSettings() const { return settings; }
    const broker::Url& brokerUrl() const { return url; }

signals:
    // The broker refused this client: watching ends.
    void refused();

private:
    void readSettings();
    void publishLine();
    void tell(const QString& event, const QString& text);

    Context* context = nullptr;
    SensorRegistry* registry = nullptr;
    broker::Url url;
    MqttSettings settings;
    QString prefix;
    std::unique_ptr<MqttClient> client;
    std::unique_ptr<SitePublisher> publisher;
    QSet<int> unread; // rows of sensors that answered and whose settings were not read
    // The line's own state, published again once the session has been its own for a while.
    broker::LineState lineState{QLatin1String(broker::linestate::polling), 0, {}, {}};
    QTimer takenOver;
    // Per row: when its settings were read, and the type and version the line file told.
    QHash<int, QDateTime> settingsReadAt;
    QHash<int, QString> toldIdentity;
    bool away = false; // the broker was lost and is not back
    bool everConnected = false;
    bool everPublishedLine = false;
    QString refusedWith;
};
