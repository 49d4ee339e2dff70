#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

struct mosquitto;
struct mosquitto_message;

// Where and how to reach a broker.
struct MqttSettings
{
    QString host;
    int port = 1883;
    bool tls = false;
    QString caFile;   // with tls: the CA the broker's certificate must chain to; empty: the
                      // system's CAs (OpenSSL's default paths, SSL_CERT_DIR and SSL_CERT_FILE)
    QString certFile; // with tls, optional: this client's certificate and key
    QString keyFile;
    QString user; // empty: none
    QString password;
    QString clientId;
    // false: the broker keeps the session, its subscriptions and QoS-1 messages, across
    // reconnects under the same client id.
    bool cleanSession = false;
    // The broker declares a client dead after 1.5 times this without a word from it: a hung
    // publisher is "offline" within 8 s.
    int keepaliveSeconds = 5;
    // Published by the broker when the connection ends without a clean disconnect.
    QString willTopic; // empty: no will
    QByteArray willPayload;
    bool willRetain = true;
};

// One connection to an MQTT broker, for any part of the program: publishing and
// subscribing, with signals in the thread that owns it. A network thread of this class owns
// the connection: it alone connects, runs libmosquitto's loop, tears the connection down and
// reconnects with a back-off from 1 s to 30 s; the owner's thread only hands messages and
// subscriptions to the library, which queues them. What the network thread finds is queued
// here, every fault told in Russian with what to do. No widgets.
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

    // A session told as taken over when the broker dropped it three times, each soon after
    // connecting, within this time.
    static constexpr qint64 takeoverWindowMs = 120000;

    // Hands a message to the library: its id for delivered(), or -1 when it cannot be sent
    // now (not connected). QoS-1 messages handed over are kept by the library until the
    // broker acknowledges them, across reconnects.
    int publish(const QString& topic, const QByteArray& payload, int qos, bool retain);
    // Subscribes now and after every reconnect; false with the reason for a filter that MQTT
    // does not allow. A filter the broker refuses is told by subscriptionRefused().
    bool subscribe(const QString& filter, int qos, QString* why = nullptr);

signals:
    void connected();
    // The connection ended or could not be made; the client tries again.
    void connectionLost(const QString& reason);
    // The broker refused this client's credentials or identity, its certificate was not
    // accepted, or the port speaks another protocol: trying again would not help, so the
    // client stops.
    void refused(const QString& reason);
    // The broker dropped this client again and again right after it connected: another client
    // connects under the same client id and takes the session over. The client keeps trying.
    void sessionTakenOver(const QString& reason);
    // The broker acknowledged a QoS-1 message (or a QoS-0 one went out).
    void delivered(int id);
    void message(const QString& topic, const QByteArray& payload, bool retained);
    // The broker refused a subscription (its access list, say), or it could not be sent.
    void subscriptionRefused(const QString& filter, const QString& reason);

private:
    static void onConnect(mosquitto*, void* self, int rc);
    static void onPublish(mosquitto*, void* self, int mid);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message);
    static void onSubscribe(mosquitto*, void* self, int mid, int count, const int* granted);
    static void onLog(mosquitto*, void* self, int level, const char* text);

    // In the owner's thread.
    void connectAnswered();
    void lost(const QString& reason);
    void refusedWith(const QString& reason);
    void takenOver(const QString& reason);

    // In the network thread.
    void run();
    // Waits the back-off; false when the client is closed meanwhile.
    bool pause(int ms);
    void post(void (MqttClient::*what)(const QString&), const QString& reason);

    mosquitto* handle = nullptr;
    MqttSettings settings;
    std::thread network;
    std::mutex pauseMutex;
    std::condition_variable pauseWake;
    std::atomic<bool> closing{false};
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
