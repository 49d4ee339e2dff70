#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

struct mosquitto;
struct mosquitto_message;

// Where and how to reach a broker.
struct MqttSettings
{
    QString host;
    int port = 1883;
    bool tls = false;
    QString caFile;   // with tls: the CA the broker's certificate must chain to
    QString certFile; // with tls, optional: this client's certificate and key
    QString keyFile;
    QString user; // empty: none
    QString password;
    QString clientId;
    // false: the broker keeps the session, its subscriptions and QoS-1 messages, across
    // reconnects under the same client id.
    bool cleanSession = false;
    int keepaliveSeconds = 30;
    // Published by the broker when the connection ends without a clean disconnect.
    QString willTopic; // empty: no will
    QByteArray willPayload;
    bool willRetain = true;
};

// One connection to an MQTT broker, for any part of the program: publishing and
// subscribing, with signals in the thread that owns it. libmosquitto runs its network loop
// in its own thread, where it also reconnects with a back-off from 1 s to 30 s; what that
// thread reports is queued here. No widgets.
class MqttClient : public QObject
{
    Q_OBJECT
public:
    explicit MqttClient(QObject* parent = nullptr);
    ~MqttClient() override;

    // Starts connecting in the background; false with the reason when the settings cannot be
    // used (an unreadable CA file, say). Called once.
    bool open(const MqttSettings& settings, QString* why);
    // Ends the connection cleanly (no will) and stops the network thread.
    void close();
    bool isConnected() const { return up; }

    // Hands a message to the library: its id for delivered(), or -1 when it cannot be sent
    // now (not connected). QoS-1 messages handed over are kept by the library until the
    // broker acknowledges them, across reconnects.
    int publish(const QString& topic, const QByteArray& payload, int qos, bool retain);
    // Subscribes now and after every reconnect; false with the reason for a filter that MQTT
    // does not allow. A filter the broker refuses is told by subscriptionRefused().
    bool subscribe(const QString& filter, int qos, QString* why = nullptr);

    // The text of a libmosquitto error code.
    static QString errorText(int code);

signals:
    void connected();
    // The connection ended or could not be made; the library tries again.
    void connectionLost(const QString& reason);
    // The broker refused this client's credentials or identity, or TLS failed: trying again
    // would not help, so the client stops.
    void refused(const QString& reason);
    // The broker acknowledged a QoS-1 message (or a QoS-0 one went out).
    void delivered(int id);
    void message(const QString& topic, const QByteArray& payload, bool retained);
    // The broker refused a subscription (its access list, say), or it could not be sent.
    void subscriptionRefused(const QString& filter, const QString& reason);

private:
    static void onConnect(mosquitto*, void* self, int rc);
    static void onDisconnect(mosquitto*, void* self, int rc);
    static void onPublish(mosquitto*, void* self, int mid);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message);
    static void onSubscribe(mosquitto*, void* self, int mid, int count, const int* granted);
    static void onLog(mosquitto*, void* self, int level, const char* text);

    void connectAnswered(int rc);
    void disconnectedWith(int rc);
    void tlsFailed(const QString& text);

    mosquitto* handle = nullptr;
    bool threadRunning = false;
    bool up = false;
    bool stopped = false;
    struct Subscription
    {
        QString filter;
        int qos;
    };
    QList<Subscription> subscriptions;
    QHash<int, QString> pendingSubscriptions; // by message id, until the broker answers
    void sendSubscription(const Subscription& subscription);
};
