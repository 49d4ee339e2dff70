#include "codec/brokerurl.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QRegularExpression>

namespace broker {

namespace {

constexpr int topicBytesMax = 65535;

bool validHostName(const QString& host)
{
    // RFC 1123 labels: letters, digits and hyphens, not starting or ending with a hyphen.
    static const QRegularExpression name(
        QStringLiteral("^(?=.{1,253}$)[A-Za-z0-9](?:[A-Za-z0-9-]{0,61}[A-Za-z0-9])?"
                       "(?:\\.[A-Za-z0-9](?:[A-Za-z0-9-]{0,61}[A-Za-z0-9])?)*\\.?$"));
    return name.match(host).hasMatch();
}

QString topicLevel(const QString& text)
{
    QString level;
    for (const QChar c : text)
        level += (c == QLatin1Char('/') || c == QLatin1Char('+') || c == QLatin1Char('#') ||
                  c.unicode() < 0x20)
                     ? QLatin1Char('_')
                     : c;
    return level.isEmpty() ? QStringLiteral("_") : level;
}

} // namespace

bool parseUrl(const QString& text, Url* url, QString* why)
{
    // A password in the URL is refused without being repeated: the text is told with what
    // lies between the scheme and the last @ hidden, but for a user name before a colon.
    QString shown = text;
    const int scheme = text.indexOf(QLatin1String("://"));
    const int at = text.lastIndexOf(QLatin1Char('@'));
    if (scheme >= 0 && at > scheme) {
        const QString userInfo = text.mid(scheme + 3, at - scheme - 3);
        const int colon = userInfo.indexOf(QLatin1Char(':'));
        shown = text.left(scheme + 3) + (colon >= 0 ? userInfo.left(colon + 1) : QString()) +
                QStringLiteral("***") + text.mid(at);
    }
    const auto refuse = [&](const QString& problem) {
        *why = QStringLiteral("адрес брокера «%1»: %2").arg(shown, problem);
        return false;
    };
    if (shown != text)
        return refuse(QStringLiteral("имя пользователя и пароль в адресе не указываются: имя "
                                     "задаётся отдельно, пароль - из файла или переменной "
                                     "окружения"));
    static const QRegularExpression form(
        QStringLiteral("^(mqtts?)://(\\[[^\\]]*\\]|[^:/\\[\\]@?#]*)(?::([0-9]{1,5}))?$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return refuse(QStringLiteral("ожидается mqtt://УЗЕЛ[:ПОРТ] или mqtts://УЗЕЛ[:ПОРТ]"));
    Url result;
    result.tls = match.captured(1) == QLatin1String("mqtts");
    QString host = match.captured(2);
    if (host.startsWith(QLatin1Char('['))) {
        host = host.mid(1, host.size() - 2);
        static const QRegularExpression ipv6(
            QStringLiteral("^[0-9A-Fa-f]{0,4}(?::[0-9A-Fa-f]{0,4}){2,7}(?::[0-9.]{7,15})?$"));
        if (!ipv6.match(host).hasMatch())
            return refuse(QStringLiteral("в скобках ожидается адрес IPv6"));
    } else if (host.isEmpty()) {
        return refuse(QStringLiteral("не указан узел"));
    } else if (!validHostName(host)) {
        return refuse(QStringLiteral("«%1» не имя узла и не адрес").arg(host));
    }
    result.host = host;
    result.port = result.tls ? tlsPort : plainPort;
    if (!match.captured(3).isEmpty()) {
        result.port = match.captured(3).toInt();
        if (result.port < 1 || result.port > 65535)
            return refuse(QStringLiteral("порт вне диапазона от 1 до 65535"));
    }
    *url = result;
    return true;
}

QString urlText(const Url& url)
{
    const QString host =
        url.host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(url.host) : url.host;
    return QStringLiteral("%1://%2:%3")
        .arg(url.tls ? QStringLiteral("mqtts") : QStringLiteral("mqtt"), host)
        .arg(url.port);
}

bool checkPrefix(const QString& prefix, QString* why)
{
    if (prefix.isEmpty()) {
        *why = QStringLiteral("--mqtt-topic: пустой префикс");
        return false;
    }
    if (prefix.contains(QLatin1Char('+')) || prefix.contains(QLatin1Char('#')) ||
        prefix.contains(QChar(0))) {
        *why = QStringLiteral("--mqtt-topic: префикс «%1» содержит +, # или NUL").arg(prefix);
        return false;
    }
    // The longest topic under it is PREFIX/reading/247.
    if (prefix.toUtf8().size() + 12 > topicBytesMax) {
        *why = QStringLiteral("--mqtt-topic: префикс длиннее, чем допускает MQTT");
        return false;
    }
    return true;
}

QString defaultPrefix(const QString& hostName, const QString& portName)
{
    return QStringLiteral("velduo/%1/%2")
        .arg(topicLevel(hostName), topicLevel(QFileInfo(portName).fileName()));
}

QString clientId(const QString& prefix)
{
    // 23 characters, the length every MQTT 3.1.1 broker must accept.
    return QStringLiteral("velduo-") +
           QString::fromLatin1(QCryptographicHash::hash(prefix.toUtf8(), QCryptographicHash::Sha1)
                                   .toHex()
                                   .left(16));
}

QString statusTopic(const QString& prefix)
{
    return prefix + QStringLiteral("/status");
}

QString lineTopic(const QString& prefix)
{
    return prefix + QStringLiteral("/line");
}

QString sensorTopic(const QString& prefix, int address)
{
    return prefix + QStringLiteral("/sensor/") + QString::number(address);
}

QString readingTopic(const QString& prefix, int address)
{
    return prefix + QStringLiteral("/reading/") + QString::number(address);
}

bool parseTopic(const QString& topic, Topic* parsed)
{
    const int last = topic.lastIndexOf(QLatin1Char('/'));
    if (last <= 0)
        return false;
    const QStringRef leaf = topic.midRef(last + 1);
    Topic result;
    if (leaf == QLatin1String("status") || leaf == QLatin1String("line")) {
        result.kind = leaf == QLatin1String("status") ? Topic::Status : Topic::Line;
        result.prefix = topic.left(last);
    } else {
        // PREFIX/sensor/ADDRESS or PREFIX/reading/ADDRESS, the address as QString::number
        // writes it.
        const int before = topic.lastIndexOf(QLatin1Char('/'), last - 1);
        if (before <= 0)
            return false;
        const QStringRef kind = topic.midRef(before + 1, last - before - 1);
        if (kind == QLatin1String("sensor"))
            result.kind = Topic::Sensor;
        else if (kind == QLatin1String("reading"))
            result.kind = Topic::Reading;
        else
            return false;
        bool number = false;
        result.address = leaf.toInt(&number);
        if (!number || result.address < 1 || result.address > 247 ||
            leaf != QString::number(result.address))
            return false;
        result.prefix = topic.left(before);
    }
    *parsed = result;
    return true;
}

} // namespace broker
