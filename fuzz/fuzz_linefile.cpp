// Any bytes read as a line file, as a plan and as either: whatever is accepted is written and read
// again as the same line, and the plan check names every fault it finds. The first bytes, taken as
// a sensor's blocks, make an entry that must be saved and opened again unchanged.
#include "check.h"
#include "codec/blocks.h"
#include "codec/linefile.h"

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sanitizer/lsan_interface.h>

namespace {

// Qt 5.15's JSON parser drops the earlier value of a repeated key without freeing it when
// that value is an array or an object; what it leaks is not ours to find.
linefile::ReadResult parseIgnoringQtLeaks(const QByteArray& bytes, linefile::Mode mode)
{
    __lsan::ScopedDisabler qtLeaks;
    return linefile::parse(bytes, mode);
}

void checkRead(const QByteArray& bytes, linefile::Mode mode)
{
    const linefile::ReadResult read = parseIgnoringQtLeaks(bytes, mode);
    if (!read.ok()) {
        FUZZ_CHECK(read.line == linefile::Line());
        return;
    }
    const QByteArray written = linefile::toJson(read.line);
    const linefile::ReadResult again = parseIgnoringQtLeaks(written, mode);
    FUZZ_CHECK(again.ok());
    FUZZ_CHECK(again.line == read.line);
    FUZZ_CHECK(linefile::toJson(again.line) == written);

    for (const linefile::Sensor& sensor : read.line.sensors) {
        FUZZ_CHECK(sensor.address >= 1 && sensor.address <= modbusAddressMax && sensor.speed > 0);
        FUZZ_CHECK(linefile::differences(sensor, sensor).isEmpty());
        const std::optional<UstBlock> ust = linefile::ustBlock(sensor);
        FUZZ_CHECK(ust.has_value() == !sensor.block.isEmpty());
        if (ust)
            FUZZ_CHECK(blockBytes(*ust) == sensor.block);
    }
    for (const linefile::PlanFault& fault : linefile::checkPlan(read.line)) {
        FUZZ_CHECK(fault.entry >= 0 && fault.entry <= read.line.sensors.size());
        FUZZ_CHECK(fault.text.contains(QLatin1Char('"') + fault.key + QLatin1Char('"')));
        if (fault.entry > 0)
            FUZZ_CHECK(fault.text.startsWith(QStringLiteral("Запись %1 ").arg(fault.entry)));
    }
}

void checkBlocks(const uint8_t* data, size_t size)
{
    UstBlock ust;
    ParamBlock param;
    if (size < 2 + sizeof ust + sizeof param)
        return;
    std::memcpy(&ust, data + 2, sizeof ust);
    std::memcpy(&param, data + 2 + sizeof ust, sizeof param);
    const int address = 1 + data[0] % modbusAddressMax;
    const int speed = 1200 << (data[1] % 8);
    linefile::Line line;
    line.sensors.append(linefile::fromBlocks(address, speed, ust, param, QDateTime()));
    const linefile::ReadResult read = linefile::parse(linefile::toJson(line), linefile::Mode::File);
    FUZZ_CHECK(read.ok());
    FUZZ_CHECK(read.line == line);
    const std::optional<UstBlock> back = linefile::ustBlock(read.line.sensors[0]);
    FUZZ_CHECK(back && std::memcmp(&*back, &ust, sizeof ust) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    checkRead(bytes, linefile::Mode::File);
    checkRead(bytes, linefile::Mode::Plan);
    checkRead(bytes, linefile::Mode::FileOrPlan);
    checkBlocks(data, size);
    return 0;
}
