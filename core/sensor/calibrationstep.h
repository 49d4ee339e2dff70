#pragma once

#include <QByteArray>
#include <QtGlobal>

// The gain adjustment of a voltage sensor, free of the window and the line: which way the
// potentiometer goes and when a phase ends.
namespace calibration {

// The ADC window of the nominal point: 30 % and 95 % of the 12-bit range.
constexpr double windowLow = 4096 * 0.30;  // 1228.8
constexpr double windowHigh = 4096 * 0.95; // 3891.2
constexpr int potentStep = 10;
// Enough writes to cross the potentiometer's whole range once in steps of 10. A sensor that
// stops answering keeps a stale reading, and its phase would otherwise never end.
constexpr int maxWrites = 26;
// Each step gives the sensor time to settle before its reading is taken.
constexpr unsigned long pauseMs = 50;

enum class Phase
{
    Raise, // the reading is below the window: more gain
    Lower  // the reading is above the window: less gain
};

// What the potentiometer read gave.
struct PotentRead
{
    enum Outcome
    {
        Failed, // the exchange failed
        Short,  // an answer without the position byte
        Position
    };
    Outcome outcome;
    quint8 position; // only for Position
};

// The read's outcome from the exchange's error code and answer (the position at index 3).
PotentRead potentRead(int error, const QByteArray& answer);

// True while the reading lies beyond the window on the side the phase corrects.
bool beyondWindow(Phase phase, double adc);

// What the phase does after a potentiometer read: write `position`, or end.
struct Step
{
    bool ends;
    quint8 position; // only when the phase goes on
};

Step nextStep(Phase phase, const PotentRead& read, int writesMade);

} // namespace calibration
