// Any bytes as a Sparkplug B payload, a topic, a primary host's state and a node's state file: an
// accepted payload is written back as one that reads the same, and writing what was read settles at
// once; a refused one says why.
#include "check.h"
#include "codec/sparkplug.h"

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    sparkplug::Payload payload;
    QString why;
    if (sparkplug::decode(bytes, &payload, &why)) {
        const QByteArray once = sparkplug::encode(payload);
        sparkplug::Payload again;
        FUZZ_CHECK(sparkplug::decode(once, &again, &why));
        FUZZ_CHECK(again.seq == payload.seq && again.timestamp == payload.timestamp);
        FUZZ_CHECK(again.metrics.size() == payload.metrics.size());
        for (int i = 0; i < payload.metrics.size(); ++i) {
            FUZZ_CHECK(again.metrics[i].name == payload.metrics[i].name);
            FUZZ_CHECK(again.metrics[i].alias == payload.metrics[i].alias);
            FUZZ_CHECK(again.metrics[i].datatype == payload.metrics[i].datatype);
            FUZZ_CHECK(again.metrics[i].value.isNull() == payload.metrics[i].value.isNull());
            FUZZ_CHECK(again.metrics[i].properties.size() == payload.metrics[i].properties.size());
        }
        FUZZ_CHECK(sparkplug::encode(again) == once);
    } else {
        FUZZ_CHECK(!why.isEmpty());
    }
    const QString text = QString::fromUtf8(bytes);
    sparkplug::Topic topic;
    if (sparkplug::parseTopic(text, &topic)) {
        const QString back =
            topic.device.isEmpty()
                ? sparkplug::nodeTopic(topic.group, topic.type, topic.node)
                : sparkplug::deviceTopic(topic.group, topic.type, topic.node, topic.device);
        FUZZ_CHECK(back == text);
    }
    FUZZ_CHECK(sparkplug::checkId(sparkplug::validId(text), &why));
    sparkplug::HostState state;
    if (sparkplug::parseHostState(bytes, &state, &why)) {
        sparkplug::HostState back;
        FUZZ_CHECK(sparkplug::parseHostState(sparkplug::hostStatePayload(state), &back, &why));
        FUZZ_CHECK(back.online == state.online && back.timestamp == state.timestamp);
    }
    const int bdSeq = sparkplug::parseNodeState(bytes);
    FUZZ_CHECK(bdSeq >= -1 && bdSeq <= 255);
    if (bdSeq >= 0)
        FUZZ_CHECK(sparkplug::parseNodeState(sparkplug::nodeStatePayload(quint64(bdSeq))) == bdSeq);
    return 0;
}
