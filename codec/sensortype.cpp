#include "codec/sensortype.h"

#include <cmath>

SensorType sensorTypeOf(quint16 word)
{
    switch (word) {
    case quint16(SensorType::Temperature):
        return SensorType::Temperature;
    case quint16(SensorType::Voltage):
        return SensorType::Voltage;
    default:
        return SensorType::Undetermined;
    }
}

const SensorTypeTraits& sensorTraits(SensorType type)
{
    // Temperatures come in hundredths of a degree, voltages in whole volts.
    static const SensorTypeTraits undetermined{QStringLiteral("тип не определён"),
                                               QStringLiteral("Не определён"),
                                               QString(),
                                               QString(),
                                               QString(),
                                               0,
                                               false};
    static const SensorTypeTraits temperature{QStringLiteral("датчик температуры"),
                                              QStringLiteral("Температура"),
                                              QStringLiteral("°С"),
                                              QStringLiteral("Уставка температуры, °С"),
                                              QStringLiteral("°C"),
                                              100,
                                              false};
    static const SensorTypeTraits voltage{QStringLiteral("датчик напряжения"),
                                          QStringLiteral("Напряжение"),
                                          QStringLiteral("В"),
                                          QStringLiteral("Уставка напряжения, В"),
                                          QStringLiteral("V"),
                                          1,
                                          true};
    switch (type) {
    case SensorType::Temperature:
        return temperature;
    case SensorType::Voltage:
        return voltage;
    case SensorType::Undetermined:
        break;
    }
    return undetermined;
}

double measuredValue(const ParamBlock& param)
{
    const int scale = sensorTraits(sensorTypeOf(param)).scale;
    return scale ? double(param.measure) / scale : std::nan("");
}
