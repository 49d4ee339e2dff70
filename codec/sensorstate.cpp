#include "codec/sensorstate.h"

#include <cmath>

bool SensorState::take(const Reading& reading, const QString& failure,
                       const std::optional<Reading>& lastAnswer)
{
    if (reading.msecs < lastAt)
        return false;
    const Reading* answer = reading.ok() ? &reading : nullptr;
    if (!answer && lastAnswer && lastAnswer->ok() && lastAnswer->msecs > answeredAt)
        answer = &*lastAnswer;
    if (answer) {
        answered = true;
        type = answer->sensorType;
        measure = answer->measure;
        adc = answer->adc;
        coil = answer->coil;
        answeredAt = answer->msecs;
    }
    lastAt = reading.msecs;
    lastError = reading.error;
    errorText = reading.ok() ? QString() : failure;
    return true;
}

double SensorState::value() const
{
    const int scale = sensorTraits(type).scale;
    return answered && scale ? double(measure) / scale : std::nan("");
}
