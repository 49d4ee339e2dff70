#pragma once

#include "codec/readings.h"
#include "codec/sensortype.h"

#include <QString>
#include <optional>

// What a view or a publisher knows of one sensor: the values of its last answer, kept after
// a failed poll, and the outcome of its last poll. The overviews' rows, the site's sensors and
// the sensor's retained state on a broker are all this.
struct SensorState
{
    SensorState() = default;
    // A sensor of which nothing is known yet.
    SensorState(qint32 address, qint32 speed) : addr(address), baudrate(speed) {}

    qint32 addr = 0;
    qint32 baudrate = 0;
    QString name;          // empty until its settings were read or a line file named it
    bool answered = false; // a poll was answered: the values below are known
    SensorType type = SensorType::Undetermined;
    qint16 measure = 0; // as the parameters block gives it: volts, or hundredths of °C
    quint16 adc = 0;
    quint8 coil = 0; // coil status byte
    quint32 workTime = 0;
    QString version;
    qint64 answeredAt = 0; // ms since the epoch of its last answer
    int lastError = -1;    // outcome of its last poll; -1: none came yet
    QString errorText;     // the last failed poll's own text; empty when only its code tells it
    qint64 lastAt = 0;     // time of the newest poll taken in: an older one changes nothing

    // One poll's result. A failed poll keeps the values of the last answer and sets the error
    // and its text; a poll older than the newest taken changes nothing (false). A failed poll
    // told by a sensor's retained state may bring the sensor's last answer along: its values
    // are taken when they are newer than those kept.
    bool take(const Reading& reading, const QString& failure = QString(),
              const std::optional<Reading>& lastAnswer = std::nullopt);
    // The measured value in volts or degrees Celsius; NaN before an answer, or while the type
    // is undetermined.
    double value() const;
};
