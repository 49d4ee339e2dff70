#pragma once

#include "codec/blocks.h"
#include "codec/protocol.h"
#include "codec/sensortype.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <memory>

// A simulated VEL_DUO300 bus on a pseudo-terminal. The bus holds the master side and
// serves it from its own thread; the program under test opens the slave side (slavePath())
// with QSerialPort exactly as it would open a real adapter.
namespace sim {

// Milliseconds of the steady clock: the clock that every time stamp below uses.
qint64 nowMs();

// One piece of a scripted answer: written delayMs after the end of the request (first
// chunk) or after the previous chunk.
struct Chunk
{
    int delayMs = 0;
    QByteArray bytes;
};

// The function code under which a fault spoils every function of its sensor: one that no
// function has.
constexpr quint8 everyFunction = 0;

// Misbehaviour on cue, per sensor and function code.
enum class Fault
{
    None,
    Silence,       // no answer at all
    Exception,     // exception answer (function | exceptionFlag) with code `value`
    Delay,         // the normal answer, `value` ms late
    Chunks,        // the normal answer split in two halves written `value` ms apart
    WrongAddress,  // the normal answer with address + 1
    WrongFunction, // the normal answer with function code `value`
    Short,         // the normal answer less its last `value` bytes
    Long,          // the normal answer with `value` extra bytes
    Garbage,       // `value` bytes of garbage instead of the answer
    EraseStatus,   // erase answered with flash status `value`
    BitFlip,       // the normal answer with the lowest bit of its byte `value` flipped, the CRC
                   // left as sent: a hit on the line that only the answer's CRC would show
};

struct FaultSpec
{
    Fault kind = Fault::None;
    int value = 0;
    int times = -1; // answers it spoils before it clears itself; -1 until clearFaults()
    int after = 0;  // answers served normally before it starts (a sensor that fails mid-way)
    // For writes (WriteRegisters): only the write to this register address is spoiled, for
    // instance one chunk of a firmware upload or its checksum; -1 spoils every write.
    int writeRegister = -1;
};

// A slow swing of the measured value: measureMid + measureSwing * sin(2 pi (t + phaseMs) /
// periodMs) at time t of the bus's clock; the ADC reading swings in step with it, from adcMid by
// adcSwing. Off while periodMs is 0.
struct Drift
{
    qint64 periodMs = 0;
    qint64 phaseMs = 0;
    int measureMid = 0;
    int measureSwing = 0;
    int adcMid = 0;
    int adcSwing = 0;
};

// The state of one simulated sensor.
struct Sensor
{
    quint8 addr = 1;
    int baud = factorySpeed;
    UstBlock ust = defaultUstBlock();
    ParamBlock param{};
    quint8 coil = 0;    // coil status byte, bit 0 is coil 0
    quint8 potent = 64; // potentiometer position
    // Writes to the potentiometer are answered but leave it where it is.
    bool potentStuck = false;
    // When adcPerStep is not 0 the ADC reading follows the potentiometer:
    // adc = clamp(adcBase + adcPerStep * potent, 0, 4095).
    int adcBase = 0;
    int adcPerStep = 0;
    bool inLoader = false;
    QByteArray flash; // application area 0x1400..0x3BFF, 10240 bytes, 0xFF when erased
    // Applied when the parameters are read; it sets the ADC reading itself.
    Drift drift;
};

// What reached the bus: one request (a frame, or a burst of bytes ended by silence).
struct Received
{
    QByteArray bytes;
    qint64 atMs = 0; // when its last byte arrived
    int baud = 0;    // the line's baud rate as the program had set it
};

// What the bus wrote to the line.
struct Sent
{
    QByteArray bytes;
    qint64 atMs = 0;
};

class SensorBus
{
public:
    SensorBus();
    ~SensorBus();
    SensorBus(const SensorBus&) = delete;
    SensorBus& operator=(const SensorBus&) = delete;

    // Creates the pseudo-terminal and starts serving it. With a link path, a symbolic link
    // there names the terminal, as a fixed device name names an adapter: a bus opened later
    // behind the same link stands for the adapter plugged in again.
    bool open(QString* error = nullptr, const QString& linkPath = QString());
    QString slavePath() const;

    // A sensor of the type, answering at addr and baud; its settings block says the same (a
    // sensor naming a type word the program does not know is made by makeSensorWithTypeWord
    // and added as given). It replaces a sensor
    // at the same address and speed; at another speed it is a sensor of its own, and the
    // functions below that take only an address act on the sensor that answers there, or on
    // the one that came onto the line first when several do at different speeds.
    void addSensor(quint8 addr, int baud, SensorType type);
    // A sensor as given, answering at its addr and baud.
    void addSensor(const Sensor& sensor);

    // count sensors with factory settings (factorySensor(type)) wait behind the line, to be
    // plugged in one at a time: the next comes onto the line, at the factory address and
    // speed, as soon as no sensor answers there, that is at once for the first and then when
    // the one before has moved away (to another address or speed). Once on the line a sensor
    // is like any other: the functions that take an address find it where it answers now.
    void queueFactorySensors(int count, SensorType type = SensorType::Voltage);
    // How many of them are still waiting to be plugged in.
    int factorySensorsWaiting() const;
    bool hasSensor(quint8 addr) const;
    Sensor sensor(quint8 addr) const;
    void updateSensor(quint8 addr, const std::function<void(Sensor&)>& change);

    void setFault(quint8 addr, quint8 function, FaultSpec fault);
    void setFault(quint8 addr, rtu::Function function, FaultSpec fault)
    {
        setFault(addr, rtu::code(function), fault);
    }
    void clearFaults();

    // Answers take the time their bytes need on the wire at the line's baud rate: each piece
    // is written once its last byte would have crossed the wire.
    void setWireTime(bool emulate);
    // With wire time: a sensor also waits for the request's own wire time before it answers,
    // as it sees the request only once its last byte has crossed the line.
    void setRequestWireTime(bool emulate);

    // The published Modbus RTU framing instead of the sensors' own, so that a common Modbus
    // master can talk to the bus: the CRC low byte first, in requests and answers, and
    // function 0x10 with its byte count. Scripted answers go out as given.
    void setStandardFraming(bool standard);

    // The next request, whatever it is, is answered by these chunks instead of a sensor;
    // an empty list keeps the line silent for it. Scripts are used in the order queued.
    void queueScript(const QList<Chunk>& answer);

    // Writes bytes to the line now, unasked.
    void writeRaw(const QByteArray& bytes);

    // Closes the master side: the adapter is unplugged. Its link goes with it.
    void hangUp();

    QList<Received> received() const;
    QList<Sent> sent() const;
    void clearLog();
    // Waits until at least count requests have been received, or timeoutMs has passed.
    bool waitForReceived(int count, int timeoutMs) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace sim
