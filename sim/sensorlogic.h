#pragma once

#include "sim/sensorbus.h"

// What one simulated sensor makes of a request: pure functions, no line and no clock.
namespace sim {

// How many bytes the request at the start of bytes takes: its full length once that many
// bytes are there, 0 while more are needed, -1 when the function code is not one the
// sensor or its loader frames (such bytes end only with line silence).
int requestLength(const QByteArray& bytes);

// The request's last two bytes are the CRC the program puts there (rtu::calcCrc order).
bool requestCrcOk(const QByteArray& frame);

// Cuts the whole requests that requestLength frames off the front of the bytes received so far,
// in order; what is left waits for more bytes or for line silence.
QList<QByteArray> takeFrames(QByteArray& rx);

// Whether a sensor answers these bytes: a frame cut by takeFrames (framed), or a burst that
// ended with line silence. Both need a good CRC; a burst is answered only when no known
// function frames it.
bool answerable(const QByteArray& bytes, bool framed);

// body followed by its CRC.
QByteArray sealed(QByteArray body);

QByteArray exceptionAnswer(quint8 addr, quint8 function, quint8 code);

// Application area of the loader's flash, as byte offsets of its write requests.
constexpr int flashStart = 0x1400;
constexpr int flashSize = 10240;
constexpr int flashPageSize = 1024;
constexpr int flashFirstPage = flashStart / flashPageSize;

struct Outcome
{
    QByteArray answer;
    // A settings write was stored: the sensor moves to its new address and speed once the
    // answer is out, so that the answer still goes out at the old ones.
    bool retune = false;
};

// Executes a request that carries the sensor's address and a good CRC and builds the answer.
Outcome serveRequest(Sensor& sensor, const QByteArray& frame);

// Moves the sensor to the address and speed its settings block names.
void retune(Sensor& sensor);

// The ADC reading when it follows the potentiometer.
void followPotentiometer(Sensor& sensor);

// A new sensor as addSensor makes it.
Sensor makeSensor(quint8 addr, int baud, SensorType type);
// The same with the parameters block's type word as given, so that a sensor may name a type
// the program does not know.
Sensor makeSensorWithTypeWord(quint8 addr, int baud, quint16 typeWord);

// ADC counts per potentiometer position of a voltage sensor whose reading follows its gain:
// from the potentiometer's first position (64) the reading (1024) lies below the calibration
// window (1228.8..3891.2), two of the calibration's steps of 10 positions short of it.
constexpr int gainAdcPerStep = 16;

// A sensor as it leaves the factory: address 1, 115200 Bd, the factory settings block. A voltage
// sensor's ADC reading follows its gain.
Sensor factorySensor(SensorType type);

// Sensor addr of a full line at addresses 1..N: voltage and temperature sensors in turn at the
// speeds of the search's default list in turn, so that every type meets every speed within six
// addresses; each measured value drifts over a few minutes with a phase of its own.
Sensor lineSensor(quint8 addr);

// The measured value and the ADC reading that the sensor's drift gives at atMs of the bus's
// clock; nothing changes while the drift is off.
void applyDrift(Sensor& sensor, qint64 atMs);

// n bytes that are no frame of this bus.
QByteArray garbage(int n);

} // namespace sim
