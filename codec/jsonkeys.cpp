#include "codec/jsonkeys.h"

#include <QSet>
#include <QVector>

namespace jsonkeys {

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The string that starts at json[*at] (its opening quote), decoded; *at ends past its closing
// quote. Escapes are decoded as the parser does, so that "\u0061" and "a" are one key.
QString readString(const QByteArray& json, int* at)
{
    QString text;
    int plain = ++*at;
    const auto flush = [&](int end) {
        // A text cut inside an escape leaves nothing plain to take.
        if (end > plain)
            text += QString::fromUtf8(json.constData() + plain, end - plain);
    };
    while (*at < json.size()) {
        const char c = json.at(*at);
        if (c == '"') {
            flush(*at);
            ++*at;
            return text;
        }
        if (c != '\\') {
            ++*at;
            continue;
        }
        flush(*at);
        const char escaped = *at + 1 < json.size() ? json.at(*at + 1) : '\0';
        *at += 2;
        switch (escaped) {
        case 'b':
            text += QLatin1Char('\b');
            break;
        case 'f':
            text += QLatin1Char('\f');
            break;
        case 'n':
            text += QLatin1Char('\n');
            break;
        case 'r':
            text += QLatin1Char('\r');
            break;
        case 't':
            text += QLatin1Char('\t');
            break;
        case 'u': {
            int unit = 0;
            for (int i = 0; i < 4; ++i) {
                const int digit = *at < json.size() ? hexDigit(json.at(*at)) : -1;
                if (digit < 0)
                    break;
                unit = unit * 16 + digit;
                ++*at;
            }
            text += QChar(ushort(unit));
            break;
        }
        default:
            text += QLatin1Char(escaped);
            break;
        }
        plain = *at;
    }
    flush(json.size());
    return text;
}

struct Container
{
    bool object = false;
    bool wantKey = false;
    QSet<QString> keys;
};

} // namespace

std::optional<QString> repeatedKey(const QByteArray& json)
{
    QVector<Container> open;
    for (int at = 0; at < json.size();) {
        const char c = json.at(at);
        if (c == '"') {
            const QString text = readString(json, &at);
            if (open.isEmpty() || !open.last().object || !open.last().wantKey)
                continue;
            Container& object = open.last();
            if (object.keys.contains(text))
                return text;
            object.keys.insert(text);
            object.wantKey = false;
            continue;
        }
        if (c == '{' || c == '[')
            open.append({c == '{', c == '{', {}});
        else if ((c == '}' || c == ']') && !open.isEmpty())
            open.removeLast();
        else if (c == ',' && !open.isEmpty() && open.last().object)
            open.last().wantKey = true;
        ++at;
    }
    return std::nullopt;
}

} // namespace jsonkeys
