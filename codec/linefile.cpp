// The line file's sensors: as read from the blocks, as compared, and the words the reader,
// the plan check and the writer share.
#include "codec/linefile.h"

#include "codec/blocks.h"
#include "codec/linefilewords.h"

#include <cstring>

namespace linefile {

bool Sensor::operator==(const Sensor& other) const
{
    return address == other.address && speed == other.speed && answered == other.answered &&
           type == other.type && name == other.name && setpoint == other.setpoint &&
           zeroAdc == other.zeroAdc && nomAdc == other.nomAdc && version == other.version &&
           block == other.block && readAt == other.readAt && calibrate == other.calibrate &&
           flash == other.flash && unknown == other.unknown;
}

bool Line::operator==(const Line& other) const
{
    return port == other.port && sensors == other.sensors && unknown == other.unknown;
}

QString quoted(const QString& key)
{
    return QLatin1Char('"') + key + QLatin1Char('"');
}

QString entryText(int entry, std::optional<int> address)
{
    QString text = QStringLiteral("Запись %1").arg(entry);
    if (address)
        text += QStringLiteral(" (адрес %1)").arg(*address);
    return text;
}

QString nameFault(const QString& name)
{
    if (name.contains(QChar(0)))
        return QStringLiteral("имя содержит нулевой символ");
    if (!nameEncodable(name))
        return QStringLiteral("имя «%1» содержит символы вне Windows-1251").arg(name);
    // Windows-1251 holds every character it encodes in one byte.
    constexpr int nameBytes = int(sizeof(UstBlock::name));
    if (name.size() > nameBytes)
        return QStringLiteral("имя «%1» длиннее %2 байт").arg(name).arg(nameBytes);
    return QString();
}

Sensor fromBlocks(int address, int speed, const UstBlock& ust, const ParamBlock& param,
                  const QDateTime& readAt)
{
    Sensor sensor;
    sensor.address = address;
    sensor.speed = speed;
    // Copied as values: the blocks are packed, and a sensor record may hold them at an odd
    // address, where a reference to a field would be misaligned.
    sensor.type = int(param.sensorType);
    sensor.name = nameText(ust);
    sensor.setpoint = int(ust.threshold);
    sensor.zeroAdc = int(ust.zeroAdc);
    sensor.nomAdc = int(ust.nomAdc);
    sensor.version = versionText(param);
    sensor.block = blockBytes(ust);
    sensor.readAt = readAt;
    return sensor;
}

namespace {

QString valueOrDash(const std::optional<QString>& value)
{
    return value ? *value : QStringLiteral("—");
}

QString valueOrDash(const std::optional<int>& value)
{
    return value ? QString::number(*value) : QStringLiteral("—");
}

} // namespace

std::optional<UstBlock> ustBlock(const Sensor& sensor)
{
    if (sensor.block.size() != int(sizeof(UstBlock)))
        return std::nullopt;
    UstBlock ust;
    std::memcpy(&ust, sensor.block.constData(), sizeof ust);
    return ust;
}

QVector<Difference> differences(const Sensor& expected, const Sensor& actual)
{
    QVector<Difference> rows;
    const auto compare = [&](const char* key, const auto& want, const auto& have) {
        if (want && want != have)
            rows.append({QLatin1String(key), valueOrDash(want), valueOrDash(have)});
    };
    compare("address", std::optional<int>(expected.address), std::optional<int>(actual.address));
    compare("speed", std::optional<int>(expected.speed), std::optional<int>(actual.speed));
    if (expected.answered != actual.answered) {
        const auto yesNo = [](bool answered) {
            return answered ? QStringLiteral("считан") : QStringLiteral("не ответил");
        };
        rows.append({QStringLiteral("answered"), yesNo(expected.answered), yesNo(actual.answered)});
    }
    // A sensor that did not answer has nothing more to compare.
    if (!expected.answered || !actual.answered)
        return rows;
    compare("name", expected.name, actual.name);
    compare("setpoint", expected.setpoint, actual.setpoint);
    compare("zeroAdc", expected.zeroAdc, actual.zeroAdc);
    compare("nomAdc", expected.nomAdc, actual.nomAdc);
    compare("version", expected.version, actual.version);
    return rows;
}

} // namespace linefile
