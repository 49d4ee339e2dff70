// The line file's writer: indented JSON, known keys in a fixed order.
#include "codec/linefile.h"

#include "codec/filefault.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

namespace linefile {
namespace {

// A value for the indented document; objects and arrays go on their own lines.
QByteArray valueText(const QJsonValue& value, int indent)
{
    QByteArray text;
    if (value.isObject() || value.isArray()) {
        text = value.isObject() ? QJsonDocument(value.toObject()).toJson(QJsonDocument::Indented)
                                : QJsonDocument(value.toArray()).toJson(QJsonDocument::Indented);
        text.chop(1);
        // JSON strings hold no raw line breaks, so every one here is between lines.
        return text.replace("\n", "\n" + QByteArray(indent, ' '));
    }
    text = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return text.mid(1, text.size() - 2);
}

using Member = std::pair<QString, QByteArray>; // key, value as written

QByteArray objectText(const QVector<Member>& members, int indent)
{
    const QByteArray inner(indent + 4, ' ');
    QByteArray text = "{\n";
    for (int i = 0; i < members.size(); ++i) {
        text += inner + valueText(members[i].first, 0) + ": " + members[i].second;
        text += i + 1 < members.size() ? ",\n" : "\n";
    }
    return text + QByteArray(indent, ' ') + "}";
}

void addUnknown(QVector<Member>& members, const QJsonObject& unknown, int indent)
{
    for (auto it = unknown.begin(); it != unknown.end(); ++it)
        members.append({it.key(), valueText(it.value(), indent + 4)});
}

// The keys of one sensor in the file's order, unknown keys last.
QVector<std::pair<QString, QJsonValue>> sensorValues(const Sensor& sensor)
{
    QVector<std::pair<QString, QJsonValue>> values;
    const auto add = [&](const char* key, const QJsonValue& value) {
        values.append({QLatin1String(key), value});
    };
    add("address", sensor.address);
    add("speed", sensor.speed);
    if (!sensor.answered)
        add("answered", false);
    if (sensor.type)
        add("type", *sensor.type);
    if (sensor.name)
        add("name", *sensor.name);
    if (sensor.setpoint)
        add("setpoint", *sensor.setpoint);
    if (sensor.zeroAdc)
        add("zeroAdc", *sensor.zeroAdc);
    if (sensor.nomAdc)
        add("nomAdc", *sensor.nomAdc);
    if (sensor.version)
        add("version", *sensor.version);
    if (sensor.readAt.isValid()) {
        // With its offset from UTC, so that the time means the same anywhere.
        const QDateTime at = sensor.readAt.toOffsetFromUtc(sensor.readAt.offsetFromUtc());
        add("readAt", at.toString(Qt::ISODateWithMs));
    }
    if (!sensor.calibrate.isEmpty())
        add("calibrate", QJsonArray::fromStringList(sensor.calibrate));
    if (sensor.flash)
        add("flash", true);
    if (!sensor.block.isEmpty())
        add("block", QString::fromLatin1(sensor.block.toHex()));
    for (auto it = sensor.unknown.begin(); it != sensor.unknown.end(); ++it)
        values.append({it.key(), it.value()});
    return values;
}

QByteArray sensorText(const Sensor& sensor, int indent)
{
    QVector<Member> members;
    for (const auto& [key, value] : sensorValues(sensor)) {
        // The calibrations stay on one line, short as they are.
        const QByteArray text = key == QLatin1String("calibrate")
                                    ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact)
                                    : valueText(value, indent + 4);
        members.append({key, text});
    }
    return objectText(members, indent);
}

} // namespace

QByteArray toJson(const Line& line)
{
    QVector<Member> members{
        {QStringLiteral("format"), valueText(QLatin1String(formatName), 4)},
        {QStringLiteral("version"), valueText(formatVersion, 4)},
        {QStringLiteral("port"), valueText(line.port, 4)},
    };
    addUnknown(members, line.unknown, 0);
    QByteArray sensors = "[";
    for (int i = 0; i < line.sensors.size(); ++i)
        sensors += (i ? ",\n" : "\n") + QByteArray(8, ' ') + sensorText(line.sensors[i], 8);
    sensors += line.sensors.isEmpty() ? "]" : "\n    ]";
    members.append({QStringLiteral("sensors"), sensors});
    return objectText(members, 0) + "\n";
}

QByteArray toCompactJson(const Line& line)
{
    // The indented document without the white space between its tokens; strings keep theirs
    // (JSON strings hold no raw white space but the space itself).
    const QByteArray indented = toJson(line);
    QByteArray compact;
    compact.reserve(indented.size());
    bool inString = false;
    for (int i = 0; i < indented.size(); ++i) {
        const char c = indented.at(i);
        if (inString) {
            compact.append(c);
            if (c == '\\' && i + 1 < indented.size())
                compact.append(indented.at(++i));
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
            compact.append(c);
        } else if (c != ' ' && c != '\n') {
            compact.append(c);
        }
    }
    return compact;
}

QString save(const Line& line, const QString& path)
{
    QSaveFile file(path);
    QString why;
    if (!openFile(file, QIODevice::WriteOnly, &why))
        return QStringLiteral("Не удалось сохранить файл «%1»: %2").arg(path, why);
    if (file.write(toJson(line)) < 0 || !file.commit())
        return QStringLiteral("Не удалось сохранить файл «%1»: %2").arg(path, file.errorString());
    return QString();
}

QJsonObject toObject(const Sensor& sensor)
{
    QJsonObject object;
    for (const auto& [key, value] : sensorValues(sensor))
        object.insert(key, value);
    return object;
}

} // namespace linefile
