// The line file's reader: the JSON document checked key by key into a line or a plan.
#include "codec/linefile.h"

#include "codec/blocks.h"
#include "codec/filefault.h"
#include "codec/jsonkeys.h"
#include "codec/linefilewords.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <cmath>
#include <iterator>
#include <limits>

namespace linefile {
namespace {

const char* const sensorKeys[] = {"address",   "speed",   "answered", "type",    "name",
                                  "setpoint",  "zeroAdc", "nomAdc",   "version", "readAt",
                                  "calibrate", "flash",   "block"};
const char* const lineKeys[] = {"format", "version", "port", "sensors"};

// A value as the file has it, short enough for a message.
QString shown(const QJsonValue& value)
{
    QByteArray text = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    text = text.mid(1, text.size() - 2);
    QString result = QString::fromUtf8(text);
    if (result.size() > 40)
        result = result.left(40) + QStringLiteral("…");
    return result;
}

// Reads the keys of one JSON object; the first fault ends the reading and is kept in refusal.
class Keys
{
public:
    Keys(const QJsonObject& object, const QString& where) : object(object), where(where) {}

    QString refusal;

    void setWhere(const QString& text) { where = text; }

    bool integer(const char* key, bool required, double min, double max, std::optional<int>& out)
    {
        const QJsonValue value = object.value(QLatin1String(key));
        if (!present(key, value, required))
            return refusal.isEmpty();
        const double number = value.toDouble();
        if (!value.isDouble() || number != std::trunc(number))
            return illTyped(key, value, QStringLiteral("целым числом"));
        if (number < min || number > max)
            return fail(key, number < min && max == std::numeric_limits<int>::max()
                                 ? QStringLiteral("%1 меньше %2").arg(shown(value)).arg(qint64(min))
                                 : QStringLiteral("%1 вне диапазона от %2 до %3")
                                       .arg(shown(value))
                                       .arg(qint64(min))
                                       .arg(qint64(max)));
        out = int(number);
        return true;
    }

    bool text(const char* key, bool required, std::optional<QString>& out)
    {
        const QJsonValue value = object.value(QLatin1String(key));
        if (!present(key, value, required))
            return refusal.isEmpty();
        if (!value.isString())
            return illTyped(key, value, QStringLiteral("строкой"));
        out = value.toString();
        return true;
    }

    bool name(bool required, std::optional<QString>& out)
    {
        if (!text("name", required, out))
            return false;
        if (!out)
            return true;
        const QString fault = nameFault(*out);
        return fault.isEmpty() || fail("name", fault);
    }

    bool boolean(const char* key, bool& out)
    {
        const QJsonValue value = object.value(QLatin1String(key));
        if (!present(key, value, false))
            return true;
        if (!value.isBool())
            return illTyped(key, value, QStringLiteral("true или false"));
        out = value.toBool();
        return true;
    }

    bool textList(const char* key, QStringList& out)
    {
        const QJsonValue value = object.value(QLatin1String(key));
        if (!present(key, value, false))
            return true;
        if (!value.isArray())
            return illTyped(key, value, QStringLiteral("списком строк"));
        for (const QJsonValue item : value.toArray()) {
            if (!item.isString())
                return illTyped(key, value, QStringLiteral("списком строк"));
            out << item.toString();
        }
        return true;
    }

    bool time(const char* key, QDateTime& out)
    {
        std::optional<QString> value;
        if (!text(key, false, value) || !value)
            return refusal.isEmpty();
        out = QDateTime::fromString(*value, Qt::ISODateWithMs);
        return out.isValid() ||
               fail(key, QStringLiteral("«%1» не дата и время ISO 8601").arg(*value));
    }

    bool block(bool required, QByteArray& out)
    {
        std::optional<QString> value;
        if (!text("block", required, value) || !value)
            return refusal.isEmpty();
        // fromHex skips what is not a hex digit; the file must hold nothing else.
        bool digits = value->size() == 2 * int(sizeof(UstBlock));
        for (const QChar c : *value) {
            const char16_t u = c.unicode();
            digits = digits &&
                     ((u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F'));
        }
        if (!digits)
            return fail("block", QStringLiteral("ожидается блок уставок: %1 байт, %2 "
                                                "шестнадцатеричных цифр")
                                     .arg(sizeof(UstBlock))
                                     .arg(2 * sizeof(UstBlock)));
        out = QByteArray::fromHex(value->toLatin1());
        return true;
    }

private:
    bool present(const char* key, const QJsonValue& value, bool required)
    {
        if (!value.isUndefined())
            return true;
        if (required)
            refusal = QStringLiteral("%1: нет ключа %2").arg(where, quoted(QLatin1String(key)));
        return false;
    }

    bool illTyped(const char* key, const QJsonValue& value, const QString& expected)
    {
        return fail(key,
                    QStringLiteral("должен быть %1, а в файле %2").arg(expected, shown(value)));
    }

    bool fail(const char* key, const QString& problem)
    {
        refusal = QStringLiteral("%1, ключ %2: %3").arg(where, quoted(QLatin1String(key)), problem);
        return false;
    }

    const QJsonObject& object;
    QString where;
};

QJsonObject withoutKeys(QJsonObject object, const char* const* begin, const char* const* end)
{
    for (auto key = begin; key != end; ++key)
        object.remove(QLatin1String(*key));
    return object;
}

// One entry of sensors; refusal is set when it is refused.
Sensor readSensor(const QJsonObject& object, int entry, Mode mode, QString& refusal)
{
    Sensor sensor;
    Keys keys(object, entryText(entry, std::nullopt));
    std::optional<int> address, speed;
    const bool plan = mode == Mode::Plan;
    const bool ok = [&] {
        if (!keys.integer("address", true, 1, modbusAddressMax, address))
            return false;
        keys.setWhere(entryText(entry, address));
        if (!keys.integer("speed", true, 1, std::numeric_limits<int>::max(), speed) ||
            !keys.boolean("answered", sensor.answered))
            return false;
        // A line file holds everything that was read; a plan only what the sensor must become.
        const bool read = !plan && sensor.answered;
        return keys.integer("type", read, 0, 65535, sensor.type) &&
               keys.name(plan || read, sensor.name) &&
               // What the sensor can hold. A plan takes any whole number, so that the plan check
               // names a setpoint out of range with the entry's other faults, in file order.
               keys.integer(
                   "setpoint", plan || read,
                   plan ? std::numeric_limits<int>::min() : std::numeric_limits<qint16>::min(),
                   plan ? std::numeric_limits<int>::max() : std::numeric_limits<qint16>::max(),
                   sensor.setpoint) &&
               keys.integer("zeroAdc", read, 0, 65535, sensor.zeroAdc) &&
               keys.integer("nomAdc", read, 0, 65535, sensor.nomAdc) &&
               keys.text("version", read, sensor.version) && keys.time("readAt", sensor.readAt) &&
               keys.textList("calibrate", sensor.calibrate) &&
               keys.boolean("flash", sensor.flash) && keys.block(read, sensor.block);
    }();
    if (!ok) {
        refusal = keys.refusal;
        return sensor;
    }
    sensor.address = *address;
    sensor.speed = *speed;
    sensor.unknown = withoutKeys(object, std::begin(sensorKeys), std::end(sensorKeys));
    return sensor;
}

ReadResult refused(const QString& text)
{
    ReadResult result;
    result.refusal = text;
    return result;
}

// Some entry of the document's sensors has this key.
bool anEntryHas(const QByteArray& json, QLatin1String key)
{
    const QJsonArray sensors =
        QJsonDocument::fromJson(json).object().value(QLatin1String("sensors")).toArray();
    for (const QJsonValue& entry : sensors)
        if (entry.toObject().contains(key))
            return true;
    return false;
}

// The parser's own texts are English and untranslated: ours, by its code.
QString jsonErrorText(QJsonParseError::ParseError error)
{
    switch (error) {
    case QJsonParseError::UnterminatedObject:
        return QStringLiteral("объект не закрыт «}»");
    case QJsonParseError::MissingNameSeparator:
        return QStringLiteral("после ключа нет «:»");
    case QJsonParseError::UnterminatedArray:
        return QStringLiteral("список не закрыт «]»");
    case QJsonParseError::MissingValueSeparator:
        return QStringLiteral("между значениями нет «,»");
    case QJsonParseError::IllegalValue:
        return QStringLiteral("недопустимое значение");
    case QJsonParseError::TerminationByNumber:
        return QStringLiteral("текст оборван на числе");
    case QJsonParseError::IllegalNumber:
        return QStringLiteral("недопустимое число");
    case QJsonParseError::IllegalEscapeSequence:
        return QStringLiteral("недопустимая последовательность «\\» в строке");
    case QJsonParseError::IllegalUTF8String:
        return QStringLiteral("строка не в UTF-8");
    case QJsonParseError::UnterminatedString:
        return QStringLiteral("строка не закрыта кавычкой");
    case QJsonParseError::MissingObject:
        return QStringLiteral("ожидался объект");
    case QJsonParseError::DeepNesting:
        return QStringLiteral("слишком глубокая вложенность");
    case QJsonParseError::DocumentTooLarge:
        return QStringLiteral("файл слишком велик");
    case QJsonParseError::GarbageAtEnd:
        return QStringLiteral("лишний текст после конца документа");
    case QJsonParseError::NoError:
        break;
    }
    return QStringLiteral("ошибка разбора %1").arg(int(error));
}

} // namespace

ReadResult parse(const QByteArray& json, Mode mode)
{
    if (mode == Mode::FileOrPlan) {
        ReadResult asFile = parse(json, Mode::File);
        // A plan's refusal names its own fault, not the keys a line file has and a plan lacks.
        if (asFile.ok() || anEntryHas(json, QLatin1String("type")))
            return asFile;
        return parse(json, Mode::Plan);
    }
    // JSON has no control characters outside escapes but white space. Qt's parser lets them
    // into keys that it then cannot find again.
    for (int i = 0; i < json.size(); ++i) {
        const uchar c = uchar(json[i]);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
            return refused(QStringLiteral("Файл не в формате JSON: управляющий символ 0x%1 "
                                          "(смещение %2)")
                               .arg(c, 2, 16, QLatin1Char('0'))
                               .arg(i));
    }
    // A key given twice is ambiguous, and Qt's parser would lose the memory of its value: a
    // view runs for days on what a broker hands it.
    if (const std::optional<QString> key = jsonkeys::repeatedKey(json))
        return refused(QStringLiteral("Файл не в формате JSON: ключ \"%1\" повторяется в одном "
                                      "объекте")
                           .arg(*key));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        return refused(QStringLiteral("Файл не в формате JSON: %1 (смещение %2)")
                           .arg(jsonErrorText(error.error))
                           .arg(error.offset));
    if (!document.isObject())
        return refused(QStringLiteral("Файл не является файлом линии: в нём нет объекта JSON"));
    const QJsonObject object = document.object();

    const QJsonValue format = object.value(QLatin1String("format"));
    if (format.isUndefined())
        return refused(QStringLiteral("Файл не является файлом линии: нет ключа \"format\""));
    if (format != QLatin1String(formatName))
        return refused(QStringLiteral("Файл, ключ \"format\": формат %1, а ожидается \"%2\"")
                           .arg(shown(format), QLatin1String(formatName)));

    Keys keys(object, QStringLiteral("Файл"));
    std::optional<int> version;
    if (!keys.integer("version", true, 1, std::numeric_limits<int>::max(), version))
        return refused(keys.refusal);
    if (*version > formatVersion)
        return refused(QStringLiteral("Файл, ключ \"version\": версия формата %1 новее той, что "
                                      "понимает программа (%2); обновите программу")
                           .arg(*version)
                           .arg(formatVersion));

    ReadResult result;
    std::optional<QString> port;
    if (!keys.text("port", mode == Mode::File, port))
        return refused(keys.refusal);
    result.line.port = port.value_or(QString());

    const QJsonValue sensors = object.value(QLatin1String("sensors"));
    if (sensors.isUndefined())
        return refused(QStringLiteral("Файл: нет ключа \"sensors\""));
    if (!sensors.isArray())
        return refused(QStringLiteral("Файл, ключ \"sensors\": должен быть списком датчиков, а в "
                                      "файле %1")
                           .arg(shown(sensors)));
    const QJsonArray list = sensors.toArray();
    for (int i = 0; i < list.size(); ++i) {
        if (!list[i].isObject())
            return refused(QStringLiteral("%1: ожидается объект JSON, а в файле %2")
                               .arg(entryText(i + 1, std::nullopt), shown(list[i])));
        QString refusal;
        result.line.sensors.append(readSensor(list[i].toObject(), i + 1, mode, refusal));
        if (!refusal.isEmpty())
            return refused(refusal);
    }
    result.line.unknown = withoutKeys(object, std::begin(lineKeys), std::end(lineKeys));
    return result;
}

ReadResult readFile(const QString& path, Mode mode)
{
    QFile file(path);
    QString why;
    if (!openFile(file, QIODevice::ReadOnly, &why))
        return refused(QStringLiteral("Не удалось открыть файл «%1»: %2").arg(path, why));
    return parse(file.readAll(), mode);
}

} // namespace linefile
