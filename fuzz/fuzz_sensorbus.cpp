// The simulated sensor's handling of whatever reaches the line. Input: one byte choosing the
// sensor's state, then the bytes on the line, cut into requests as the bus cuts them; the
// last piece stands for a burst that ended with line silence.
#include "check.h"
#include "codec/protocol.h"
#include "codec/rtu.h"
#include "sim/sensorlogic.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

quint8 at(const QByteArray& bytes, int i)
{
    return quint8(bytes.at(i));
}

using rtu::Function;

// The full answer length the program's transactions expect for a request.
int expectedAnswerSize(const QByteArray& request)
{
    const Function function = Function(at(request, 1));
    const bool counted = function == Function::ReadCoils || function == Function::ReadRegisters;
    return rtu::answerSize(function, counted ? rtu::wordAt(request, 4) : 0);
}

void checkServed(sim::Sensor& sensor, const QByteArray& request)
{
    const sim::Sensor before = sensor;
    const quint8 addr = at(request, 0);
    const quint8 function = at(request, 1);
    const sim::Outcome outcome = sim::serveRequest(sensor, request);
    const QByteArray& answer = outcome.answer;

    // Every answer is a sealed frame from the requested address.
    FUZZ_CHECK(answer.size() >= 4 && sim::requestCrcOk(answer));
    FUZZ_CHECK(at(answer, 0) == addr);
    FUZZ_CHECK(sensor.flash.size() == sim::flashSize);
    FUZZ_CHECK(sensor.addr == before.addr && sensor.baud == before.baud);

    if (at(answer, 1) == (function | rtu::exceptionFlag)) {
        // Refused: an exception answer, and the sensor as it was.
        FUZZ_CHECK(answer.size() == rtu::exceptionAnswerSize);
        const int code = rtu::checkAnswer(answer, addr, function, expectedAnswerSize(request));
        FUZZ_CHECK(code == at(answer, 2) || code == rtu::UnknownError);
        FUZZ_CHECK(!outcome.retune);
        FUZZ_CHECK(sensor.flash == before.flash && sensor.inLoader == before.inLoader);
        FUZZ_CHECK(std::memcmp(&sensor.ust, &before.ust, sizeof sensor.ust) == 0);
        return;
    }

    // Accepted: the program judges the answer good.
    FUZZ_CHECK(at(answer, 1) == function);
    FUZZ_CHECK(rtu::checkAnswer(answer, addr, function, expectedAnswerSize(request)) == 0);
    FUZZ_CHECK(outcome.retune ==
               (function == rtu::code(Function::WriteRegisters) && !before.inLoader));
    if (outcome.retune)
        FUZZ_CHECK(sensor.ust.checksum == ustChecksum(sensor.ust));
    switch (Function(function)) {
    case Function::ReadRegisters: {
        const int count = rtu::wordAt(request, 4);
        const QByteArray image = rtu::wordAt(request, 2) == regmap::ustAddr
                                     ? blockBytes(sensor.ust)
                                     : blockBytes(sensor.param);
        FUZZ_CHECK(at(answer, 2) == 2 * count && answer.mid(3, 2 * count) == image.left(2 * count));
        break;
    }
    case Function::WriteRegisters:
        if (before.inLoader) {
            const int offset = rtu::wordAt(request, 2) - sim::flashStart;
            const QByteArray data = request.mid(6, request.size() - 8);
            FUZZ_CHECK(offset >= 0 && sensor.flash.mid(offset, data.size()) == data);
        } else {
            FUZZ_CHECK(blockBytes(sensor.ust) == request.mid(6, int(sizeof(UstBlock))));
        }
        break;
    case Function::GoToLoader:
        FUZZ_CHECK(sensor.inLoader && sensor.ust.loaderCode == regmap::loaderRequest);
        break;
    case Function::GoToApplication:
        FUZZ_CHECK(!sensor.inLoader && sensor.ust.loaderCode == 0);
        break;
    case Function::ReadPotentiometer:
        FUZZ_CHECK(at(answer, 3) == sensor.potent);
        break;
    case Function::WritePotentiometer:
        FUZZ_CHECK(sensor.potent == at(request, 3));
        break;
    default:
        break;
    }
}

// Gives a frame the CRC the program would send, so that the sensor's own handling is reached
// more often than by chance.
QByteArray withGoodCrc(const QByteArray& frame)
{
    return frame.size() >= 4 ? sim::sealed(frame.left(frame.size() - 2)) : frame;
}

} // namespace

// State byte: bits 0-3 the sensor's address less 1, bit 4 in its loader, bit 5 loader entry
// requested, bit 6 every request gets a good CRC, bit 7 a voltage rather than a temperature
// sensor.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const quint8 state = data[0];
    sim::Sensor sensor =
        sim::makeSensor(quint8(1 + (state & 0x0F)), 9600,
                        state & 0x80 ? SensorType::Voltage : SensorType::Temperature);
    sensor.inLoader = state & 0x10;
    if (state & 0x20) {
        sensor.ust.loaderCode = regmap::loaderRequest;
        sealChecksum(sensor.ust);
    }
    const bool sealAll = state & 0x40;

    QByteArray line(reinterpret_cast<const char*>(data + 1), int(size - 1));
    const QByteArray received = line;
    const QList<QByteArray> frames = sim::takeFrames(line);
    int cut = 0;
    for (const QByteArray& frame : frames) {
        // Cut in order, each exactly as long as its function says.
        FUZZ_CHECK(received.mid(cut, frame.size()) == frame);
        FUZZ_CHECK(sim::requestLength(frame) == frame.size());
        cut += frame.size();
        const QByteArray request = sealAll ? withGoodCrc(frame) : frame;
        if (sim::answerable(request, true) && at(request, 0) == sensor.addr)
            checkServed(sensor, request);
    }
    FUZZ_CHECK(received.mid(cut) == line && sim::requestLength(line) <= 0);
    const QByteArray burst = sealAll ? withGoodCrc(line) : line;
    if (sim::answerable(burst, false) && at(burst, 0) == sensor.addr)
        checkServed(sensor, burst);
    return 0;
}
