#include "core/devices/mqttclient.h"
#include "codec/filefault.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLibrary>
#include <QMetaObject>
#include <QVector>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <mutex>
#include <netdb.h>
#include <poll.h>

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
    X(mosquitto_int_option)                                                                        \
    X(mosquitto_lib_init)                                                                          \
    X(mosquitto_log_callback_set)                                                                  \
    X(mosquitto_loop)                                                                              \
    X(mosquitto_message_callback_set)                                                              \
    X(mosquitto_new)                                                                               \
    X(mosquitto_publish)                                                                           \
    X(mosquitto_publish_callback_set)                                                              \
    X(mosquitto_reconnect_async)                                                                   \
    X(mosquitto_socket)                                                                            \
    X(mosquitto_ssl_get)                                                                           \
    X(mosquitto_strerror)                                                                          \
    X(mosquitto_sub_topic_check)                                                                   \
    X(mosquitto_subscribe)                                                                         \
    X(mosquitto_threaded_set)                                                                      \
    X(mosquitto_subscribe_callback_set)                                                            \
    X(mosquitto_tls_set)                                                                           \
    X(mosquitto_username_pw_set)                                                                   \
    X(mosquitto_will_set)

struct Mosquitto
{
#define VEL_POINTER(name) decltype(&::name) name = nullptr;
    VEL_MOSQUITTO_FUNCTIONS(VEL_POINTER)
#undef VEL_POINTER
    // OpenSSL's verdict on the broker's certificate, from the libraries libmosquitto brought
    // along; null when they are not found, and the reason is then told less precisely.
    long (*SSL_get_verify_result)(const void* ssl) = nullptr;
    const char* (*X509_verify_cert_error_string)(long code) = nullptr;
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
        // Looked up among the library's dependencies, which are loaded with it.
        functions.SSL_get_verify_result =
            reinterpret_cast<long (*)(const void*)>(library.resolve("SSL_get_verify_result"));
        functions.X509_verify_cert_error_string = reinterpret_cast<const char* (*)(long)>(
            library.resolve("X509_verify_cert_error_string"));
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

// The network thread's view of one connection attempt; its callbacks reach it through
// `current`, which no other thread sees.
struct Attempt
{
    QElapsedTimer since;
    qint64 upAfterMs = -1; // when the broker accepted the connection
    int connack = -1;      // the broker's refusal (mqtt311_connack_codes), when it refused
    QString sslError;      // OpenSSL's first error, without the library's prefix
    long verify = 0;       // OpenSSL's verdict on the broker's certificate (0: none or good)
    bool nameMismatch = false;
};
thread_local Attempt* current = nullptr;

// How an attempt ended, besides the library's code.
enum class Ending
{
    Library,
    HungUp,  // the socket closed while libmosquitto still waited for the TLS handshake
    NoAnswer // the broker took the connection and never answered it
};

enum class Verdict
{
    Retry,
    // The port seems to speak another protocol (TLS or not): refused when it repeats before
    // any connection succeeded, since a broker that restarts can look the same once.
    Mismatch,
    Refused
};

struct Fault
{
    QString text;
    Verdict verdict = Verdict::Retry;
};

constexpr int firstBackoffMs = 1000;
constexpr int longestBackoffMs = 30000;
// Long enough for a TLS handshake and the broker's answer on a slow, busy machine.
constexpr int answerWaitMs = 10000;
// The network thread's longest sleep on a quiet connection: it checks the answer deadline.
constexpr int loopWaitMs = 1000;
constexpr int mismatchesToRefuse = 3;
// Three drops by the broker within two minutes, each soon after connecting: a session taken
// over by another client under the same id.
constexpr int takeoverDrops = 3;
constexpr qint64 shortSessionMs = 30000;

// X509_V_ERR_* codes of OpenSSL's verdicts told apart.
enum : long
{
    certNotYetValid = 9,
    certExpired = 10,
    unknownIssuer = 2,
    selfSignedLeaf = 18,
    selfSignedInChain = 19,
    noLocalIssuer = 20,
    leafUnverifiable = 21
};

bool hungUp(int fd)
{
    if (fd < 0)
        return false;
    pollfd watched{fd, POLLIN, 0};
    return ::poll(&watched, 1, 0) > 0 && (watched.revents & (POLLHUP | POLLERR));
}

QString english(const QString& text)
{
    return text.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(text);
}

QString systemError(int error)
{
    return error > 0 ? QString::fromLocal8Bit(std::strerror(error)) : QString();
}

struct Outcome
{
    int rc = MOSQ_ERR_SUCCESS;
    int error = 0; // errno after the call
    Ending ending = Ending::Library;
    const Attempt* attempt = nullptr;
};

Fault diagnose(const Outcome& outcome, const MqttSettings& settings)
{
    const Mosquitto& m = mosq();
    const Attempt& attempt = *outcome.attempt;
    const QString host = settings.host.contains(QLatin1Char(':'))
                             ? QStringLiteral("[%1]").arg(settings.host)
                             : settings.host;
    const QString where = QStringLiteral("%1:%2").arg(host).arg(settings.port);
    const int rc = outcome.rc;
    const int error = outcome.error;

    if (attempt.connack > CONNACK_ACCEPTED) {
        const QString library =
            english(QString::fromUtf8(m.mosquitto_connack_string(attempt.connack)));
        switch (attempt.connack) {
        case CONNACK_REFUSED_PROTOCOL_VERSION:
            return {QStringLiteral("брокер не поддерживает протокол MQTT 3.1.1") + library,
                    Verdict::Refused};
        case CONNACK_REFUSED_IDENTIFIER_REJECTED:
            return {
                QStringLiteral("брокер отверг идентификатор клиента «%1»").arg(settings.clientId) +
                    library,
                Verdict::Refused};
        case CONNACK_REFUSED_SERVER_UNAVAILABLE:
            return {QStringLiteral("брокер сейчас не принимает клиентов") + library,
                    Verdict::Retry};
        case CONNACK_REFUSED_BAD_USERNAME_PASSWORD:
            return {QStringLiteral("брокер не принял пользователя «%1» или его пароль")
                            .arg(settings.user) +
                        library,
                    Verdict::Refused};
        case CONNACK_REFUSED_NOT_AUTHORIZED:
            // Mosquitto answers a wrong password with this code as well.
            return {settings.user.isEmpty()
                        ? QStringLiteral("брокер не пускает без имени пользователя и пароля") +
                              library
                        : QStringLiteral("брокер не принял пользователя «%1» или его пароль, либо "
                                         "этому пользователю нельзя подключаться")
                                  .arg(settings.user) +
                              library,
                    Verdict::Refused};
        default:
            return {QStringLiteral("брокер отказал (%1)").arg(attempt.connack) + library,
                    Verdict::Refused};
        }
    }

    // Once the broker had answered, its certificate and protocol were right: whatever ends
    // the connection now (a restart closing TLS abruptly, say) is a loss.
    if (attempt.upAfterMs >= 0 && rc == MOSQ_ERR_KEEPALIVE)
        return {QStringLiteral("брокер %1 перестал отвечать на проверку связи").arg(where),
                Verdict::Retry};
    if (attempt.upAfterMs >= 0)
        return {QStringLiteral("соединение с брокером %1 потеряно").arg(where) +
                    english(!attempt.sslError.isEmpty() ? attempt.sslError : systemError(error)),
                Verdict::Retry};
    if (attempt.nameMismatch)
        return {QStringLiteral("имени «%1» нет в сертификате брокера: подключайтесь по имени, на "
                               "которое выписан сертификат (host name verification failed)")
                    .arg(settings.host),
                Verdict::Refused};
    if (attempt.verify != 0) {
        const QString library =
            english(m.X509_verify_cert_error_string
                        ? QString::fromUtf8(m.X509_verify_cert_error_string(attempt.verify))
                        : QString());
        switch (attempt.verify) {
        case certExpired:
            return {QStringLiteral("срок действия сертификата брокера истёк") + library,
                    Verdict::Refused};
        case certNotYetValid:
            return {QStringLiteral("сертификат брокера ещё не действует: проверьте часы этого "
                                   "компьютера") +
                        library,
                    Verdict::Refused};
        case unknownIssuer:
        case selfSignedLeaf:
        case selfSignedInChain:
        case noLocalIssuer:
        case leafUnverifiable:
            return {settings.caFile.isEmpty()
                        ? QStringLiteral("сертификат брокера не подписан ни одним из CA, которым "
                                         "доверяет система: укажите файл CA брокера") +
                              library
                        : QStringLiteral("сертификат брокера не подписан указанным CA «%1»")
                                  .arg(settings.caFile) +
                              library,
                    Verdict::Refused};
        default:
            return {QStringLiteral("сертификат брокера не принят") + library, Verdict::Refused};
        }
    }
    if (!attempt.sslError.isEmpty()) {
        const QString& ssl = attempt.sslError;
        const auto has = [&](const char* words) { return ssl.contains(QLatin1String(words)); };
        if (has("certificate required"))
            return {QStringLiteral("брокер требует сертификат клиента: укажите сертификат и ключ "
                                   "этого клиента") +
                        english(ssl),
                    Verdict::Refused};
        if (has("alert certificate expired"))
            return {QStringLiteral("брокер не принял сертификат этого клиента: срок его действия "
                                   "истёк") +
                        english(ssl),
                    Verdict::Refused};
        if (has("alert bad certificate") || has("alert unknown ca") ||
            has("alert certificate unknown") || has("alert certificate revoked") ||
            has("alert unsupported certificate"))
            return {QStringLiteral("брокер не принял сертификат этого клиента") + english(ssl),
                    Verdict::Refused};
        if (has("handshake failure"))
            return {QStringLiteral("брокер прервал рукопожатие TLS: возможно, он требует "
                                   "сертификат клиента, или у сторон нет общих шифров") +
                        english(ssl),
                    Verdict::Refused};
        if (has("certificate verify failed"))
            return {QStringLiteral("сертификат брокера не принят: он не подписан доверенным CA, "
                                   "выписан на другое имя или просрочен") +
                        english(ssl),
                    Verdict::Refused};
        if (has("unexpected eof") || has("wrong version number") || has("record layer") ||
            has("packet length too long") || has("http request") || has("unknown protocol"))
            return {QStringLiteral("%1 не отвечает по TLS: возможно, это порт без TLS (тогда "
                                   "mqtt://)")
                            .arg(where) +
                        english(ssl),
                    Verdict::Mismatch};
        return {QStringLiteral("ошибка TLS при связи с брокером %1").arg(where) + english(ssl),
                Verdict::Retry};
    }

    // Before the broker's answer, the library's keepalive running out means the same.
    if (outcome.ending == Ending::NoAnswer || (rc == MOSQ_ERR_KEEPALIVE && attempt.upAfterMs < 0))
        return {settings.tls
                    ? QStringLiteral("%1 принимает соединение, но не отвечает ни на рукопожатие "
                                     "TLS, ни на подключение: брокер завис, это порт без TLS "
                                     "(тогда mqtt://) или на нём не брокер MQTT")
                          .arg(where)
                    : QStringLiteral("%1 принимает соединение, но не отвечает на подключение: "
                                     "брокер завис, это порт TLS (тогда mqtts://) или на нём не "
                                     "брокер MQTT")
                          .arg(where),
                Verdict::Retry};
    if (rc == MOSQ_ERR_EAI)
        return {QStringLiteral("адрес брокера «%1» не найден: проверьте имя узла и DNS")
                        .arg(settings.host) +
                    english(error < 0 ? QString::fromLocal8Bit(gai_strerror(error))
                                      : systemError(error)),
                Verdict::Retry};
    if (error == ECONNREFUSED)
        return {QStringLiteral("%1 не принимает соединений: брокер не запущен или порт не тот")
                        .arg(where) +
                    english(systemError(error)),
                Verdict::Retry};
    if (rc == MOSQ_ERR_TLS)
        return {QStringLiteral("%1 не отвечает по TLS: возможно, это порт без TLS (тогда "
                               "mqtt://)")
                        .arg(where) +
                    english(QString::fromUtf8(m.mosquitto_strerror(rc))),
                Verdict::Mismatch};
    // A broker that wants a client certificate may close before its alert is read: without
    // one of ours, that is as likely as a plain port.
    if (outcome.ending == Ending::HungUp)
        return {QStringLiteral("%1 сбросил соединение во время рукопожатия TLS: возможно, это "
                               "порт без TLS (тогда mqtt://)%2")
                        .arg(where, settings.certFile.isEmpty()
                                        ? QStringLiteral(", или брокер требует сертификат клиента")
                                        : QString()) +
                    english(systemError(error == ECONNRESET ? error : 0)),
                Verdict::Mismatch};
    const bool closedByPeer =
        rc == MOSQ_ERR_CONN_LOST || error == ECONNRESET || error == EPIPE || error == 0;
    if (!settings.tls && closedByPeer && (rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_ERRNO))
        return {QStringLiteral("%1 закрыл соединение, не ответив на подключение: возможно, это "
                               "порт TLS (тогда mqtts://)")
                        .arg(where) +
                    english(systemError(error)),
                Verdict::Mismatch};
    return {QStringLiteral("брокер %1 недоступен").arg(where) +
                english(rc == MOSQ_ERR_ERRNO && error > 0
                            ? systemError(error)
                            : QString::fromUtf8(m.mosquitto_strerror(rc))),
            Verdict::Retry};
}

} // namespace

MqttClient::MqttClient(QObject* parent) : QObject(parent) {}

MqttClient::~MqttClient()
{
    close();
    if (handle)
        mosq().mosquitto_destroy(handle);
}

bool MqttClient::open(const MqttSettings& wanted, QString* why)
{
    if (handle) {
        *why = QStringLiteral("соединение с брокером уже открыто");
        return false;
    }
    if (wanted.tls) {
        for (const auto& [path, what] : {std::pair<QString, const char*>{wanted.caFile, "файл CA"},
                                         {wanted.certFile, "сертификат"},
                                         {wanted.keyFile, "ключ"}}) {
            if (path.isEmpty())
                continue;
            *why = readable(path, what);
            if (!why->isEmpty())
                return false;
        }
    }
    if (!mosquittoLibrary(why))
        return false;
    settings = wanted;
    handle =
        mosq().mosquitto_new(settings.clientId.toUtf8().constData(), settings.cleanSession, this);
    if (!handle) {
        *why = QStringLiteral("клиент MQTT не создан: нет памяти");
        return false;
    }
    // Calls from this thread only queue their packets; the network thread sends them.
    mosq().mosquitto_threaded_set(handle, true);
    mosq().mosquitto_int_option(handle, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosq().mosquitto_connect_callback_set(handle, onConnect);
    mosq().mosquitto_publish_callback_set(handle, onPublish);
    mosq().mosquitto_message_callback_set(handle, onMessage);
    mosq().mosquitto_subscribe_callback_set(handle, onSubscribe);
    mosq().mosquitto_log_callback_set(handle, onLog);
    const auto fail = [&](int rc, const QString& what) {
        *why = QStringLiteral("%1: %2").arg(what, QString::fromUtf8(mosq().mosquitto_strerror(rc)));
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
        if (settings.caFile.isEmpty()) {
            // The system's CAs, where OpenSSL looks by default (SSL_CERT_DIR and SSL_CERT_FILE
            // override it); the library takes a client certificate only along with a CA
            // location, so the system's folder is named then as well.
            rc = mosq().mosquitto_int_option(handle, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
            if (rc == MOSQ_ERR_SUCCESS && !cert.isEmpty())
                rc = mosq().mosquitto_tls_set(handle, nullptr, "/etc/ssl/certs", cert.constData(),
                                              key.constData(), nullptr);
        } else {
            rc = mosq().mosquitto_tls_set(handle, ca.constData(), nullptr,
                                          cert.isEmpty() ? nullptr : cert.constData(),
                                          key.isEmpty() ? nullptr : key.constData(), nullptr);
        }
        if (rc != MOSQ_ERR_SUCCESS)
            return fail(rc, QStringLiteral("TLS"));
    }
    closing = false;
    network = std::thread([this] { run(); });
    return true;
}

void MqttClient::close()
{
    stopped = true;
    up = false;
    if (!network.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(pauseMutex);
        closing = true;
    }
    pauseWake.notify_all();
    // Queues a DISCONNECT, so that the broker drops the will; queuing it also wakes the network
    // thread from its wait on the connection. That thread ends the connection itself.
    mosq().mosquitto_disconnect(handle);
    network.join();
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
            *why = QStringLiteral(
                       "фильтр «%1» неверен: «+» и «#» стоят только отдельным уровнем, «#» - "
                       "последним%2")
                       .arg(filter, english(QString::fromUtf8(mosq().mosquitto_strerror(rc))));
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
        emit subscriptionRefused(
            subscription.filter,
            QStringLiteral("подписка не отправлена%1")
                .arg(english(QString::fromUtf8(mosq().mosquitto_strerror(rc)))));
}

bool MqttClient::pause(int ms)
{
    std::unique_lock<std::mutex> lock(pauseMutex);
    return !pauseWake.wait_for(lock, std::chrono::milliseconds(ms),
                               [this] { return closing.load(); });
}

void MqttClient::post(void (MqttClient::*what)(const QString&), const QString& reason)
{
    QMetaObject::invokeMethod(
        this, [this, what, reason] { (this->*what)(reason); }, Qt::QueuedConnection);
}

void MqttClient::run()
{
    const Mosquitto& m = mosq();
    const QByteArray host = settings.host.toUtf8();
    QElapsedTimer clock;
    clock.start();
    int backoffMs = firstBackoffMs;
    int mismatches = 0;
    bool everUp = false;
    bool first = true;
    QVector<qint64> drops; // when the broker dropped a short session
    bool takeoverTold = false;
    Attempt attempt;
    current = &attempt;
    while (!closing) {
        attempt = Attempt();
        attempt.since.start();
        Outcome outcome;
        outcome.attempt = &attempt;
        errno = 0;
        // Connecting again keeps the library's queue and in-flight messages, and its wake-up
        // pair: connect_async, which makes a new pair, is called once.
        outcome.rc = first ? m.mosquitto_connect_async(handle, host.constData(), settings.port,
                                                       settings.keepaliveSeconds)
                           : m.mosquitto_reconnect_async(handle);
        outcome.error = errno;
        first = false;
        while (outcome.rc == MOSQ_ERR_SUCCESS && !closing) {
            errno = 0;
            outcome.rc = m.mosquitto_loop(handle, loopWaitMs, 1);
            if (outcome.rc != MOSQ_ERR_SUCCESS) {
                outcome.error = errno;
                break;
            }
            if (attempt.upAfterMs >= 0)
                continue;
            // libmosquitto keeps calling a TLS handshake whose socket was refused or reset, at
            // once and for ever: such a socket is given up here.
            if (hungUp(m.mosquitto_socket(handle))) {
                outcome.ending = Ending::HungUp;
                break;
            }
            if (attempt.since.hasExpired(answerWaitMs)) {
                outcome.ending = Ending::NoAnswer;
                break;
            }
        }
        if (closing)
            break;
        const Fault fault = diagnose(outcome, settings);
        if (attempt.upAfterMs >= 0) {
            everUp = true;
            mismatches = 0;
            backoffMs = firstBackoffMs;
            const qint64 now = clock.elapsed();
            if (attempt.since.elapsed() - attempt.upAfterMs < shortSessionMs &&
                outcome.rc != MOSQ_ERR_KEEPALIVE) {
                drops.append(now);
            } else {
                drops.clear();
                takeoverTold = false;
            }
            while (!drops.isEmpty() && now - drops.first() > MqttClient::takeoverWindowMs)
                drops.removeFirst();
            post(&MqttClient::lost, fault.text);
            if (drops.size() >= takeoverDrops && !takeoverTold) {
                takeoverTold = true;
                post(&MqttClient::takenOver,
                     QStringLiteral("брокер раз за разом разрывает соединение сразу после "
                                    "подключения: похоже, другой клиент подключается с тем же "
                                    "идентификатором «%1» и вытесняет этот. Дайте каждой линии "
                                    "своего пользователя на брокере и свяжите идентификатор с "
                                    "пользователем (use_username_as_clientid)")
                         .arg(settings.clientId));
            }
            if (!pause(firstBackoffMs))
                break;
            continue;
        }
        if (fault.verdict == Verdict::Refused ||
            (fault.verdict == Verdict::Mismatch && !everUp && ++mismatches >= mismatchesToRefuse)) {
            post(&MqttClient::refusedWith, fault.text);
            break;
        }
        if (fault.verdict != Verdict::Mismatch)
            mismatches = 0;
        post(&MqttClient::lost, fault.text);
        if (!pause(backoffMs))
            break;
        backoffMs = std::min(backoffMs * 2, longestBackoffMs);
    }
    // Closed while connected: the DISCONNECT queued by close() goes out before the socket
    // closes.
    if (closing && attempt.upAfterMs >= 0) {
        QElapsedTimer flushing;
        flushing.start();
        while (m.mosquitto_socket(handle) >= 0 && !flushing.hasExpired(2000) &&
               m.mosquitto_loop(handle, 100, 1) == MOSQ_ERR_SUCCESS) {
        }
    }
    current = nullptr;
}

// The callbacks run in the network thread (the log's also in others): each hands its news to
// this object's thread.

void MqttClient::onConnect(mosquitto*, void* self, int rc)
{
    if (current) {
        current->connack = rc;
        if (rc == CONNACK_ACCEPTED)
            current->upAfterMs = current->since.elapsed();
    }
    if (rc != CONNACK_ACCEPTED)
        return;
    auto* client = static_cast<MqttClient*>(self);
    QMetaObject::invokeMethod(
        client, [client] { client->connectAnswered(); }, Qt::QueuedConnection);
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
    // One filter a request: its one answer is the granted QoS, or 0x80 for a refusal (Failure
    // in MQTT 3.1.1, the code MQTT 5 calls Unspecified error).
    const bool refused = count < 1 || granted[0] == MQTT_RC_UNSPECIFIED;
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

// A failed TLS handshake is told in the library's log, while the handshake's state can still
// be asked why.
void MqttClient::onLog(mosquitto* handle, void*, int level, const char* text)
{
    if (!current || level != MOSQ_LOG_ERR)
        return;
    if (std::strstr(text, "host name verification failed")) {
        current->nameMismatch = true;
        return;
    }
    static const char prefix[] = "OpenSSL Error[";
    if (std::strncmp(text, prefix, sizeof(prefix) - 1) != 0 || !current->sslError.isEmpty())
        return;
    const char* colon = std::strstr(text, "]: ");
    current->sslError = QString::fromUtf8(colon ? colon + 3 : text);
    const Mosquitto& m = mosq();
    if (void* ssl = m.mosquitto_ssl_get(handle); ssl && m.SSL_get_verify_result)
        current->verify = m.SSL_get_verify_result(ssl);
}

void MqttClient::connectAnswered()
{
    if (stopped)
        return;
    up = true;
    for (const Subscription& subscription : qAsConst(subscriptions))
        sendSubscription(subscription);
    emit connected();
}

void MqttClient::lost(const QString& reason)
{
    if (stopped)
        return;
    up = false;
    emit connectionLost(reason);
}

void MqttClient::refusedWith(const QString& reason)
{
    if (stopped)
        return;
    close();
    emit refused(reason);
}

void MqttClient::takenOver(const QString& reason)
{
    if (stopped)
        return;
    emit sessionTakenOver(reason);
}
