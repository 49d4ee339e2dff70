// Any text as a broker address and as a topic prefix: an accepted address names a port in
// range and a host, and is written back as an address that reads the same; a prefix made for
// any host and port name is accepted.
#include "check.h"
#include "codec/brokerurl.h"

#include <QString>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), int(size));
    broker::Url url;
    QString why;
    if (broker::parseUrl(text, &url, &why)) {
        FUZZ_CHECK(why.isEmpty());
        FUZZ_CHECK(!url.host.isEmpty() && url.port >= 1 && url.port <= 65535);
        broker::Url again;
        FUZZ_CHECK(broker::parseUrl(broker::urlText(url), &again, &why));
        FUZZ_CHECK(again.tls == url.tls && again.host == url.host && again.port == url.port);
    } else {
        FUZZ_CHECK(!why.isEmpty());
    }
    const int half = text.size() / 2;
    const QString prefix = broker::defaultPrefix(text.left(half), text.mid(half));
    FUZZ_CHECK(broker::checkPrefix(prefix, &why));
    FUZZ_CHECK(broker::clientId(prefix).size() == 23);
    return 0;
}
