#include "sim/sensorlogic.h"

#include "codec/protocol.h"
#include "codec/rtu.h"
#include "codec/sensortype.h"

#include <cmath>
#include <cstring>

namespace sim {
namespace {

quint8 byteAt(const QByteArray& bytes, int i)
{
    return quint8(bytes.at(i));
}

using rtu::Exception;
using rtu::Function;

QByteArray refused(quint8 addr, Function function, Exception exception)
{
    return sealed(rtu::exceptionAnswer(addr, function, exception));
}

Outcome readRegisters(const Sensor& sensor, quint8 addr, const QByteArray& frame)
{
    const quint16 reg = rtu::wordAt(frame, 2);
    const quint16 count = rtu::wordAt(frame, 4);
    QByteArray image;
    if (reg == regmap::paramAddr && count >= 1 && count <= regmap::paramCount)
        image = blockBytes(sensor.param);
    else if (reg == regmap::ustAddr && count >= 1 && count <= regmap::ustCount)
        image = blockBytes(sensor.ust);
    else
        return {refused(addr, Function::ReadRegisters, Exception::RegisterAddressError)};
    QByteArray answer = rtu::answerHead(addr, Function::ReadRegisters);
    answer.append(char(2 * count));
    answer.append(image.left(2 * count));
    return {sealed(answer)};
}

Outcome readCoils(const Sensor& sensor, quint8 addr, const QByteArray& frame)
{
    if (rtu::wordAt(frame, 2) != 0 || rtu::wordAt(frame, 4) != 1)
        return {refused(addr, Function::ReadCoils, Exception::RegisterAddressError)};
    QByteArray answer = rtu::answerHead(addr, Function::ReadCoils);
    answer.append(char(1));
    answer.append(char(sensor.coil));
    return {sealed(answer)};
}

Outcome writeRegisters(Sensor& sensor, quint8 addr, const QByteArray& frame)
{
    const int reg = rtu::wordAt(frame, 2);
    const int count = rtu::wordAt(frame, 4);
    const QByteArray data = frame.mid(6, 2 * count);
    const QByteArray echo = sealed(frame.left(6));

    if (sensor.inLoader) {
        // The register field is a byte offset into flash here.
        if (count < 1 || reg < flashStart || reg + 2 * count > flashStart + flashSize)
            return {refused(addr, Function::WriteRegisters, Exception::RegisterAddressError)};
        sensor.flash.replace(reg - flashStart, data.size(), data);
        return {echo};
    }

    if (reg != regmap::ustAddr || count != regmap::ustCount)
        return {refused(addr, Function::WriteRegisters, Exception::RegisterAddressError)};
    UstBlock ust;
    std::memcpy(&ust, data.constData(), sizeof ust);
    if (ust.checksum != ustChecksum(ust))
        return {refused(addr, Function::WriteRegisters, Exception::BadSettings)};
    sensor.ust = ust;
    return {echo, true};
}

Outcome erasePages(Sensor& sensor, quint8 addr, const QByteArray& frame)
{
    const int first = byteAt(frame, 2);
    const int count = byteAt(frame, 3);
    for (int page = first; page < first + count; ++page) {
        const int offset = (page - flashFirstPage) * flashPageSize;
        if (offset >= 0 && offset < flashSize)
            sensor.flash.replace(offset, flashPageSize, QByteArray(flashPageSize, char(0xFF)));
    }
    return {sealed(rtu::eraseAnswer(addr, quint8(rtu::FlashStatus::Complete)))};
}

} // namespace

int requestLength(const QByteArray& bytes)
{
    if (bytes.size() < 2)
        return 0;
    if (!rtu::isFunction(byteAt(bytes, 1)))
        return -1;
    const Function function = Function(byteAt(bytes, 1));
    int count = 0;
    if (function == Function::WriteRegisters) {
        // The data's length follows from the register count.
        if (bytes.size() < 6)
            return 0;
        count = rtu::wordAt(bytes, 4);
    }
    const int length = rtu::requestSize(function, count);
    return bytes.size() >= length ? length : 0;
}

bool requestCrcOk(const QByteArray& frame)
{
    if (frame.size() < 4)
        return false;
    return sealed(frame.left(frame.size() - 2)) == frame;
}

QList<QByteArray> takeFrames(QByteArray& rx)
{
    QList<QByteArray> frames;
    for (int length = requestLength(rx); length > 0; length = requestLength(rx)) {
        frames.append(rx.left(length));
        rx.remove(0, length);
    }
    return frames;
}

bool answerable(const QByteArray& bytes, bool framed)
{
    return requestCrcOk(bytes) && (framed || requestLength(bytes) == -1);
}

QByteArray sealed(QByteArray body)
{
    rtu::calcCrc(body, body.size());
    return body;
}

QByteArray exceptionAnswer(quint8 addr, quint8 function, quint8 code)
{
    return sealed(rtu::exceptionAnswer(addr, function, code));
}

Outcome serveRequest(Sensor& sensor, const QByteArray& frame)
{
    const quint8 addr = byteAt(frame, 0);
    const quint8 code = byteAt(frame, 1);
    if (!rtu::isFunction(code))
        return {exceptionAnswer(addr, code, quint8(Exception::UnknownCommand))};
    const Function function = Function(code);
    const bool applicationOnly =
        function == Function::ReadCoils || function == Function::ReadRegisters ||
        function == Function::ReadPotentiometer || function == Function::WritePotentiometer;
    if ((applicationOnly && sensor.inLoader) ||
        (function == Function::ErasePages && !sensor.inLoader))
        return {refused(addr, function, Exception::UnknownCommand)};

    QByteArray answer = rtu::answerHead(addr, function);
    switch (function) {
    case Function::ReadCoils:
        return readCoils(sensor, addr, frame);
    case Function::ReadRegisters:
        return readRegisters(sensor, addr, frame);
    case Function::WriteRegisters:
        return writeRegisters(sensor, addr, frame);
    case Function::ErasePages:
        return erasePages(sensor, addr, frame);
    case Function::GoToLoader:
        if (sensor.ust.loaderCode != regmap::loaderRequest)
            return {refused(addr, function, Exception::UnknownCommand)};
        sensor.inLoader = true;
        answer.append(char(0));
        return {sealed(answer)};
    case Function::GoToApplication:
        // Cleared so that the next start does not land in the loader again.
        sensor.inLoader = false;
        sensor.ust.loaderCode = 0;
        sealChecksum(sensor.ust);
        answer.append(char(0));
        return {sealed(answer)};
    case Function::ReadPotentiometer:
        answer.append(char(0));
        answer.append(char(sensor.potent));
        return {sealed(answer)};
    case Function::WritePotentiometer:
        if (!sensor.potentStuck)
            sensor.potent = byteAt(frame, 3);
        followPotentiometer(sensor);
        answer.append(char(0));
        return {sealed(answer)};
    }
    return {refused(addr, function, Exception::UnknownCommand)};
}

void retune(Sensor& sensor)
{
    sensor.addr = quint8(sensor.ust.mbAddr);
    sensor.baud = sensor.ust.speed * 100;
}

void followPotentiometer(Sensor& sensor)
{
    if (sensor.adcPerStep != 0)
        sensor.param.adc =
            quint16(qBound(0, sensor.adcBase + sensor.adcPerStep * sensor.potent, 4095));
}

Sensor makeSensor(quint8 addr, int baud, SensorType type)
{
    return makeSensorWithTypeWord(addr, baud, quint16(type));
}

Sensor makeSensorWithTypeWord(quint8 addr, int baud, quint16 typeWord)
{
    Sensor sensor;
    sensor.addr = addr;
    sensor.baud = baud;
    sensor.ust = defaultUstBlock();
    sensor.ust.mbAddr = addr;
    sensor.ust.speed = quint16(baud / 100);
    sealChecksum(sensor.ust);
    sensor.param.sensorType = typeWord;
    switch (sensorTypeOf(typeWord)) {
    case SensorType::Voltage:
        sensor.param.measure = 230;
        break;
    case SensorType::Temperature:
        sensor.param.measure = 2345;
        break;
    case SensorType::Undetermined:
        break;
    }
    sensor.param.adc = 2048;
    std::strncpy(sensor.param.version, "VEL-1.0.2", sizeof sensor.param.version);
    sensor.flash = QByteArray(flashSize, char(0xFF));
    return sensor;
}

Sensor factorySensor(SensorType type)
{
    const UstBlock factory = defaultUstBlock();
    Sensor sensor = makeSensor(quint8(factory.mbAddr), factory.speed * 100, type);
    if (type == SensorType::Voltage) {
        sensor.adcPerStep = gainAdcPerStep;
        followPotentiometer(sensor);
    }
    return sensor;
}

Sensor lineSensor(quint8 addr)
{
    static const int bauds[] = {factorySpeed, 38400, 9600};
    const SensorType type = addr % 2 ? SensorType::Voltage : SensorType::Temperature;
    Sensor sensor = makeSensor(addr, bauds[(addr + 2) % 3], type);
    Drift& drift = sensor.drift;
    drift.periodMs = (3 + addr % 3) * 60000;
    drift.phaseMs = addr * drift.periodMs / 7;
    drift.measureMid = sensor.param.measure;
    const bool voltage = type == SensorType::Voltage;
    drift.measureSwing = voltage ? 12 : 250; // volts, hundredths of a degree
    drift.adcMid = sensor.param.adc;
    // A voltage sensor's reading is proportional to the voltage; a temperature sensor's is no
    // figure the program shows.
    drift.adcSwing = voltage ? drift.adcMid * drift.measureSwing / drift.measureMid : 0;
    return sensor;
}

void applyDrift(Sensor& sensor, qint64 atMs)
{
    const Drift& drift = sensor.drift;
    if (drift.periodMs <= 0)
        return;
    qint64 into = (atMs + drift.phaseMs) % drift.periodMs;
    if (into < 0)
        into += drift.periodMs;
    constexpr double twoPi = 6.283185307179586;
    const double swing = std::sin(twoPi * double(into) / double(drift.periodMs));
    const int measure = drift.measureMid + int(std::lround(drift.measureSwing * swing));
    const int adc = drift.adcMid + int(std::lround(drift.adcSwing * swing));
    sensor.param.measure = qint16(qBound(-32768, measure, 32767));
    sensor.param.adc = quint16(qBound(0, adc, 4095));
}

QByteArray garbage(int n)
{
    QByteArray bytes(qMax(n, 0), '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(0xA5 + 37 * i);
    return bytes;
}

} // namespace sim
