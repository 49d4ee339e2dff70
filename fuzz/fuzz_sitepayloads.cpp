// Any bytes as a reading's payload, as a sensor's state and as a topic, as a subscriber of a
// site gets them from the broker: what is accepted is within what the publishers can send,
// and writes back to a payload (or topic) that reads the same.
#include "check.h"
#include "codec/blocks.h"
#include "codec/brokerurl.h"
#include "codec/sitepayloads.h"

#include <algorithm>
#include <iterator>

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

namespace {

bool same(const Reading& a, const Reading& b)
{
    return a.msecs == b.msecs && a.addr == b.addr && a.baudrate == b.baudrate &&
           a.error == b.error && a.sensorType == b.sensorType && a.measure == b.measure &&
           a.adc == b.adc && a.coil == b.coil;
}

void checkAccepted(const broker::SensorReport& report)
{
    const Reading& r = report.reading;
    FUZZ_CHECK(r.addr >= 1 && r.addr <= modbusAddressMax);
    FUZZ_CHECK(std::count(std::begin(listedSpeeds), std::end(listedSpeeds), r.baudrate) == 1);
    FUZZ_CHECK(r.error >= 0 && r.error <= 255);
    FUZZ_CHECK(r.ok() || !report.text.isEmpty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    broker::SensorReport report;
    QString why;
    if (broker::parseReadingPayload(bytes, &report, &why)) {
        checkAccepted(report);
        FUZZ_CHECK(report.seq >= 1);
        broker::SensorReport again;
        FUZZ_CHECK(broker::parseReadingPayload(broker::readingPayload(report.reading, report.seq),
                                               &again, &why));
        FUZZ_CHECK(same(again.reading, report.reading) && again.seq == report.seq);
    } else {
        FUZZ_CHECK(!why.isEmpty());
    }
    why.clear();
    if (broker::parseSensorPayload(bytes, &report, &why)) {
        checkAccepted(report);
        FUZZ_CHECK(report.dropped >= 0);
        // Only a failed poll's state carries the last answer, and that one answered.
        FUZZ_CHECK(!report.lastAnswer || (!report.reading.ok() && report.lastAnswer->ok() &&
                                          report.lastAnswer->addr == report.reading.addr));
    } else {
        FUZZ_CHECK(!why.isEmpty());
    }

    broker::PublisherState state;
    if (broker::parseStatePayload(bytes, &state)) {
        FUZZ_CHECK(state.state.size() <= 32 && state.reason.size() <= 160);
    }

    // Shown, a text holds no character that could reorder or hide the row, and stays short.
    const QString topic = QString::fromUtf8(bytes);
    const QString shown = broker::shownText(topic, 40);
    FUZZ_CHECK(shown.size() <= 40);
    for (const QChar c : shown)
        FUZZ_CHECK(c.category() != QChar::Other_Control && c.category() != QChar::Other_Format);
    broker::Topic parsed;
    if (broker::parseTopic(topic, &parsed)) {
        FUZZ_CHECK(!parsed.prefix.isEmpty());
        QString again;
        switch (parsed.kind) {
        case broker::Topic::Status:
            again = broker::statusTopic(parsed.prefix);
            break;
        case broker::Topic::Line:
            again = broker::lineTopic(parsed.prefix);
            break;
        case broker::Topic::Sensor:
            again = broker::sensorTopic(parsed.prefix, parsed.address);
            break;
        case broker::Topic::Reading:
            again = broker::readingTopic(parsed.prefix, parsed.address);
            break;
        }
        FUZZ_CHECK(again == topic);
    }
    return 0;
}
