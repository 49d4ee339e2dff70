#include "core/devices/mqttclient.h"
#include "codec/filefault.h"

#include <QFile>
#include <QLibrary>
#include <QMetaObject>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <mosquitto.h>
#include <mutex>

namespace {

// libmosquitto is opened on the first connection instead of being linked: it brings OpenSSL,
// whose loading would cost every run of the programs milliseconds, most of which never talk to a
// broker.
#define VEL_MOSQUITTO_FUNCTIONS(X)                                                                 \
    X(mosquitto_connack_string)                                                                    \
    X(mosquitto_connect_async)                                                                     \
    X(mosquitto_connect_callback_set)                                                              \
    X(mosquitto_destroy)                                                                           \
    X(mosquitto_disconnect)                                                                        \
    X(mosquitto_disconnect_callback_set)                                                           \
    X(mosquitto_int_option)                                                                        \
    X(mosquitto_lib_init)                                                                          \
    X(mosquitto_log_callback_set)                                                                  \
    X(mosquitto_loop_start)                                                                        \
    X(mosquitto_loop_stop)                                                                         \
    X(mosquitto_message_callback_set)                                                              \
    X(mosquitto_new)                                                                               \
    X(mosquitto_publish)                                                                           \
    X(mosquitto_publish_callback_set)                                                              \
    X(mosquitto_reconnect_async)                                                                   \
    X(mosquitto_reconnect_delay_set)                                                               \
    X(mosquitto_strerror)                                                                          \
    X(mosquitto_sub_topic_check)                                                                   \
    X(mosquitto_subscribe)                                                                         \
    X(mosquitto_subscribe_callback_set)                                                            \
    X(mosquitto_tls_set)                                                                           \
    X(mosquitto_username_pw_set)                                                                   \
    X(mosquitto_will_set)

struct Mosquitto
{
#define VEL_POINTER(name) decltype(&::name) name = nullptr;
    VEL_MOSQUITTO_FUNCTIONS(VEL_POINTER)
#undef VEL_POINTER
};

// The library's functions, or null with the reason when it cannot be opened.
const Mosquitto* mosquittoLibrary(QString* why)
{
    static Mosquitto functions;
    static QString failure;
    static std::once_flag once;
    std::call_once(once, [] {
        // Kept loaded for the life of the process: its network threads may outlive any client.
        static QLibrary library(QStringLiteral("mosquitto"), 1);
        if (!library.load()) {
            failure = QStringLiteral("библиотека libmosquitto не загружена: %1")
                          .arg(library.errorString());
            return;
        }
#define VEL_RESOLVE(name)                                                                          \
    functions.name = reinterpret_cast<decltype(&::name)>(library.resolve(#name));                  \
    if (!functions.name) {                                                                         \
        failure = QStringLiteral("в библиотеке libmosquitto нет функции %1").arg(#name);           \
        return;                                                                                    \
    }
        VEL_MOSQUITTO_FUNCTIONS(VEL_RESOLVE)
#undef VEL_RESOLVE
        functions.mosquitto_lib_init();
    });
    if (!failure.isEmpty()) {
        if (why)
            *why = failure;
        return nullptr;
    }
    return &functions;
}

// Where a client exists, the library was opened for it.
const Mosquitto& mosq()
{
    return *mosquittoLibrary(nullptr);
}

QString readable(const QString& path, const char* what)
{
    QFile file(path);
    QString why;
    if (!openFile(file, QIODevice::ReadOnly, &why))
        return QStringLiteral("%1 «%2» не читается: %3").arg(QString::fromUtf8(what), path, why);
    return QString();
}

// CONNACK codes after which a new attempt would be refused the same way: wrong protocol,
// identifier rejected, bad user name or password, not authorised.
bool refusedForGood(int rc)
{
    return rc == 1 || rc == 2 || rc == 4 || rc == 5;
}

constexpr int retryAfterTlsMs = 5000;

} // namespace

MqttClient::MqttClient(QObject* parent) : QObject(parent) {}

MqttClient::~MqttClient()
{
    close();
    if (handle)
        mosq().mosquitto_destroy(handle);
}

QString MqttClient::errorText(int code)
{
    const Mosquitto* library = mosquittoLibrary(nullptr);
    return library ? QString::fromUtf8(library->mosquitto_strerror(code))
                   : QStringLiteral("ошибка MQTT %1").arg(code);
}

bool MqttClient::open(const MqttSettings& settings, QString* why)
{
    if (handle) {
        *why = QStringLiteral("соединение с брокером уже открыто");
        return false;
    }
    if (settings.tls) {
        for (const auto& [path, what] :
             {std::pair<QString, const char*>{settings.caFile, "файл CA"},
              {settings.certFile, "сертификат"},
              {settings.keyFile, "ключ"}}) {
            if (path.isEmpty())
                continue;
            *why = readable(path, what);
            if (!why->isEmpty())
                return false;
        }
    }
    if (!mosquittoLibrary(why))
        return false;
    handle =
        mosq().mosquitto_new(settings.clientId.toUtf8().constData(), settings.cleanSession, this);
    if (!handle) {
        *why = QStringLiteral("клиент MQTT не создан: %1").arg(errorText(MOSQ_ERR_NOMEM));
        return false;
    }
    mosq().mosquitto_int_option(handle, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosq().mosquitto_connect_callback_set(handle, onConnect);
    mosq().mosquitto_disconnect_callback_set(handle, onDisconnect);
    mosq().mosquitto_publish_callback_set(handle, onPublish);
    mosq().mosquitto_message_callback_set(handle, onMessage);
    mosq().mosquitto_subscribe_callback_set(handle, onSubscribe);
    mosq().mosquitto_log_callback_set(handle, onLog);
    mosq().mosquitto_reconnect_delay_set(handle, 1, 30, true);
    const auto fail = [&](int rc, const QString& what) {
        *why = QStringLiteral("%1: %2").arg(what, errorText(rc));
        mosq().mosquitto_destroy(handle);
        handle = nullptr;
        return false;
    };
    int rc = MOSQ_ERR_SUCCESS;
    if (!settings.user.isEmpty() &&
        (rc = mosq().mosquitto_username_pw_set(
             handle, settings.user.toUtf8().constData(),
             settings.password.isNull() ? nullptr : settings.password.toUtf8().constData())) !=
            MOSQ_ERR_SUCCESS)
        return fail(rc, QStringLiteral("имя пользователя MQTT"));
    if (!settings.willTopic.isEmpty() &&
        (rc = mosq().mosquitto_will_set(
             handle, settings.willTopic.toUtf8().constData(), settings.willPayload.size(),
             settings.willPayload.constData(), 1, settings.willRetain)) != MOSQ_ERR_SUCCESS)
        return fail(rc, QStringLiteral("последняя воля MQTT"));
    if (settings.tls) {
        const QByteArray ca = QFile::encodeName(settings.caFile);
        const QByteArray cert = QFile::encodeName(settings.certFile);
        const QByteArray key = QFile::encodeName(settings.keyFile);
        // Without a CA file the system's certificates are trusted.
        if (settings.caFile.isEmpty())
            rc = mosq().mosquitto_int_option(handle, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        if (rc == MOSQ_ERR_SUCCESS)
            rc = mosq().mosquitto_tls_set(handle,
                                          settings.caFile.isEmpty() ? nullptr : ca.constData(),
                                          nullptr, cert.isEmpty() ? nullptr : cert.constData(),
                                          key.isEmpty() ? nullptr : key.constData(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            return fail(rc, QStringLiteral("TLS"));
    }
    rc = mosq().mosquitto_loop_start(handle);
    if (rc != MOSQ_ERR_SUCCESS)
        return fail(rc, QStringLiteral("поток MQTT"));
    threadRunning = true;
    // A broker that cannot be reached now is tried again by the network thread.
    rc = mosq().mosquitto_connect_async(handle, settings.host.toUtf8().constData(), settings.port,
                                        settings.keepaliveSeconds);
    if (rc == MOSQ_ERR_INVAL) {
        close();
        mosq().mosquitto_destroy(handle);
        handle = nullptr;
        *why = QStringLiteral("адрес брокера: %1").arg(errorText(rc));
        return false;
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        const QString reason =
            rc == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(strerror(errno)) : errorText(rc);
        QMetaObject::invokeMethod(
            this, [this, reason] { emit connectionLost(reason); }, Qt::QueuedConnection);
    }
    return true;
}

void MqttClient::close()
{
    stopped = true;
    if (!handle || !threadRunning)
        return;
    mosq().mosquitto_disconnect(handle);
    // Wakes the thread from its wait, even between reconnect attempts.
    mosq().mosquitto_loop_stop(handle, false);
    threadRunning = false;
    up = false;
}

int MqttClient::publish(const QString& topic, const QByteArray& payload, int qos, bool retain)
{
    if (!handle || !up)
        return -1;
    int mid = 0;
    const int rc = mosq().mosquitto_publish(handle, &mid, topic.toUtf8().constData(),
                                            payload.size(), payload.constData(), qos, retain);
    return rc == MOSQ_ERR_SUCCESS ? mid : -1;
}

bool MqttClient::subscribe(const QString& filter, int qos, QString* why)
{
    QString reason;
    if (!mosquittoLibrary(&reason)) {
        if (why)
            *why = reason;
        return false;
    }
    const int rc = mosq().mosquitto_sub_topic_check(filter.toUtf8().constData());
    if (rc != MOSQ_ERR_SUCCESS) {
        if (why)
            *why = QStringLiteral("фильтр «%1» неверен: %2").arg(filter, errorText(rc));
        return false;
    }
    subscriptions.append({filter, qos});
    if (handle && up)
        sendSubscription(subscriptions.last());
    return true;
}

void MqttClient::sendSubscription(const Subscription& subscription)
{
    int mid = 0;
    const int rc = mosq().mosquitto_subscribe(
        handle, &mid, subscription.filter.toUtf8().constData(), subscription.qos);
    if (rc == MOSQ_ERR_SUCCESS)
        pendingSubscriptions.insert(mid, subscription.filter);
    else
        emit subscriptionRefused(subscription.filter, errorText(rc));
}

// The callbacks run in the network thread: each hands its news to this object's thread.

void MqttClient::onConnect(mosquitto*, void* self, int rc)
{
    auto* client = static_cast<MqttClient*>(self);
    QMetaObject::invokeMethod(
        client, [client, rc] { client->connectAnswered(rc); }, Qt::QueuedConnection);
}

void MqttClient::onDisconnect(mosquitto*, void* self, int rc)
{
    auto* client = static_cast<MqttClient*>(self);
    QMetaObject::invokeMethod(
        client, [client, rc] { client->disconnectedWith(rc); }, Qt::QueuedConnection);
}

void MqttClient::onPublish(mosquitto*, void* self, int mid)
{
    auto* client = static_cast<MqttClient*>(self);
    QMetaObject::invokeMethod(
        client, [client, mid] { emit client->delivered(mid); }, Qt::QueuedConnection);
}

void MqttClient::onMessage(mosquitto*, void* self, const mosquitto_message* message)
{
    auto* client = static_cast<MqttClient*>(self);
    const QString topic = QString::fromUtf8(message->topic);
    const QByteArray payload(static_cast<const char*>(message->payload), message->payloadlen);
    const bool retained = message->retain;
    QMetaObject::invokeMethod(
        client,
        [client, topic, payload, retained] { emit client->message(topic, payload, retained); },
        Qt::QueuedConnection);
}

void MqttClient::onSubscribe(mosquitto*, void* self, int mid, int count, const int* granted)
{
    auto* client = static_cast<MqttClient*>(self);
    // One filter a request: its one answer is the granted QoS, or 0x80 for a refusal.
    const bool refused = count < 1 || granted[0] == 0x80;
    QMetaObject::invokeMethod(
        client,
        [client, mid, refused] {
            const QString filter = client->pendingSubscriptions.take(mid);
            if (refused && !filter.isEmpty())
                emit client->subscriptionRefused(filter,
                                                 QStringLiteral("брокер отказал в подписке"));
        },
        Qt::QueuedConnection);
}

// A failed TLS handshake ends the library's network thread without a callback; its log is
// where it says so.
void MqttClient::onLog(mosquitto*, void* self, int level, const char* text)
{
    if (level != MOSQ_LOG_ERR || !std::strstr(text, "OpenSSL Error"))
        return;
    auto* client = static_cast<MqttClient*>(self);
    const QString message = QString::fromUtf8(text);
    QMetaObject::invokeMethod(
        client, [client, message] { client->tlsFailed(message); }, Qt::QueuedConnection);
}

void MqttClient::tlsFailed(const QString& text)
{
    if (stopped || up)
        return;
    // A certificate refused, by either side, stays refused.
    if (text.contains(QLatin1String("certificate")) || text.contains(QLatin1String("alert"))) {
        close();
        emit refused(QStringLiteral("TLS: %1").arg(text));
        return;
    }
    // Anything else (a broker gone in the middle of the handshake) is tried again, in a new
    // network thread.
    emit connectionLost(text);
    mosq().mosquitto_disconnect(handle);
    mosq().mosquitto_loop_stop(handle, false);
    threadRunning = false;
    QTimer::singleShot(retryAfterTlsMs, this, [this] {
        if (stopped || threadRunning)
            return;
        if (mosq().mosquitto_loop_start(handle) == MOSQ_ERR_SUCCESS) {
            threadRunning = true;
            mosq().mosquitto_reconnect_async(handle);
        }
    });
}

void MqttClient::connectAnswered(int rc)
{
    if (stopped)
        return;
    if (rc == 0) {
        up = true;
        for (const Subscription& subscription : qAsConst(subscriptions))
            sendSubscription(subscription);
        emit connected();
        return;
    }
    const QString reason = QStringLiteral("брокер отказал (%1): %2")
                               .arg(rc)
                               .arg(QString::fromUtf8(mosq().mosquitto_connack_string(rc)));
    if (refusedForGood(rc)) {
        close();
        emit refused(reason);
    } else {
        emit connectionLost(reason);
    }
}

void MqttClient::disconnectedWith(int rc)
{
    if (stopped)
        return;
    up = false;
    // A failed handshake or certificate ends the network thread: trying again would not help.
    if (rc == MOSQ_ERR_TLS) {
        close();
        emit refused(QStringLiteral("TLS: %1").arg(errorText(rc)));
        return;
    }
    emit connectionLost(rc == MOSQ_ERR_ERRNO || rc == MOSQ_ERR_CONN_LOST
                            ? QStringLiteral("соединение потеряно")
                            : errorText(rc));
}
