#pragma once

#include <QString>

// Where a line's sensors are published: the broker's address as the command line names it,
// and the topics under one prefix. Pure, so that tests and fuzzers call it directly.
namespace broker {

constexpr int plainPort = 1883;
constexpr int tlsPort = 8883;

struct Url
{
    bool tls = false; // mqtts://
    QString host;     // a name, an IPv4 address, or an IPv6 address without its brackets
    int port = 0;
};

// mqtt://host[:port] or mqtts://host[:port]; IPv6 addresses in brackets. Nothing after the
// port: no user, path, query or fragment, so that a password never rides in the URL. False
// with the reason, in Russian, when the text is refused; a password in it is not repeated.
bool parseUrl(const QString& text, Url* url, QString* why);
// The URL as the messages name the broker.
QString urlText(const Url& url);

// A prefix must be a plain topic: not empty, no wildcards, no NUL, within MQTT's length.
bool checkPrefix(const QString& prefix, QString* why);
// velduo/<host name>/<port's base name>, each level stripped of what a topic level cannot hold.
QString defaultPrefix(const QString& hostName, const QString& portName);
// The same prefix gives the same client id on every run, so that the broker keeps the session.
QString clientId(const QString& prefix);

QString statusTopic(const QString& prefix);
QString lineTopic(const QString& prefix);
QString sensorTopic(const QString& prefix, int address);
QString readingTopic(const QString& prefix, int address);

// Which of a line's topics a topic is, and the line's prefix: the inverse of the four above.
struct Topic
{
    enum Kind
    {
        Status,
        Line,
        Sensor,
        Reading
    };
    Kind kind = Status;
    QString prefix;
    int address = 0; // Sensor and Reading: 1 to 247
};
// False for a topic that none of the four above gives (for any prefix).
bool parseTopic(const QString& topic, Topic* parsed);

} // namespace broker
