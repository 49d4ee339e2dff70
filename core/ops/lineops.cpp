#include "core/ops/lineops.h"
#include "codec/errortext.h"
#include "core/sensor/format.h"

#include <QMap>
#include <cstring>

namespace ops {

namespace {

const QString restoreTitle = QStringLiteral("Восстановление датчика");

} // namespace

QString fieldCaption(const QString& key)
{
    static const QMap<QString, QString> captions = {
        {QStringLiteral("address"), QStringLiteral("Адрес")},
        {QStringLiteral("speed"), QStringLiteral("Скорость")},
        {QStringLiteral("answered"), QStringLiteral("Ответ")},
        {QStringLiteral("name"), QStringLiteral("Название")},
        {QStringLiteral("setpoint"), QStringLiteral("Уставка")},
        {QStringLiteral("zeroAdc"), QStringLiteral("Точка нуля (АЦП)")},
        {QStringLiteral("nomAdc"), QStringLiteral("Номинальная точка (АЦП)")},
        {QStringLiteral("version"), QStringLiteral("Версия ПО")},
    };
    return captions.value(key, key);
}

QString sensorLabel(const linefile::Sensor& sensor)
{
    QString label = QStringLiteral("%1@%2").arg(sensor.address).arg(sensor.speed);
    if (sensor.name && !sensor.name->isEmpty())
        label += QStringLiteral(" «%1»").arg(*sensor.name);
    return label;
}

QVector<CompareRow> compareRows(const linefile::Line& file, const linefile::Line& read)
{
    QVector<CompareRow> rows;
    for (int i = 0; i < file.sensors.size() && i < read.sensors.size(); ++i) {
        const QString label = sensorLabel(file.sensors[i]);
        for (const linefile::Difference& d :
             linefile::differences(file.sensors[i], read.sensors[i]))
            rows.append({label, fieldCaption(d.key), d.expected, d.actual});
    }
    return rows;
}

QVector<Change> restoreChanges(const linefile::Sensor& entry, const DeviceVEL_DUO300& now,
                               bool calibration)
{
    QVector<Change> changes;
    const auto change = [&](const char* key, const QString& was, const QString& after) {
        if (was != after)
            changes.append({fieldCaption(QLatin1String(key)), was, after});
    };
    change("address", QString::number(now.addr), QString::number(entry.address));
    change("speed", QString::number(now.baudrate), QString::number(entry.speed));
    if (entry.name)
        change("name", nameText(now.ust), *entry.name);
    if (entry.setpoint)
        change("setpoint", QString::number(now.ust.threshold), QString::number(*entry.setpoint));
    if (calibration && entry.zeroAdc)
        change("zeroAdc", QString::number(now.ust.zeroAdc), QString::number(*entry.zeroAdc));
    if (calibration && entry.nomAdc)
        change("nomAdc", QString::number(now.ust.nomAdc), QString::number(*entry.nomAdc));
    return changes;
}

UstBlock restoredBlock(const UstBlock& now, const linefile::Sensor& entry, bool calibration)
{
    UstBlock block = now;
    block.mbAddr = quint16(entry.address);
    if (entry.name)
        setNameText(block, *entry.name);
    storeSpeed(block, entry.speed);
    if (entry.setpoint)
        block.threshold = qint16(*entry.setpoint);
    if (calibration && entry.zeroAdc)
        block.zeroAdc = quint16(*entry.zeroAdc);
    if (calibration && entry.nomAdc)
        block.nomAdc = quint16(*entry.nomAdc);
    sealChecksum(block);
    return block;
}

QString restoreRefusal(const linefile::Sensor& entry)
{
    if (!entry.answered || !entry.name || !entry.setpoint)
        return QStringLiteral("Датчик %1 не был считан, когда файл сохраняли: в файле нет его "
                              "настроек.")
            .arg(sensorLabel(entry));
    if (entry.address < 1 || entry.address > addressMax)
        return QStringLiteral("Адрес %1 вне диапазона от 1 до %2, который принимает смена адреса.")
            .arg(entry.address)
            .arg(addressMax);
    UstForm form;
    form.name = *entry.name;
    form.nameLabel = fieldCaption(QStringLiteral("name"));
    form.speed = entry.speed;
    form.speedLabel = fieldCaption(QStringLiteral("speed"));
    form.threshold = QString::number(*entry.setpoint);
    form.thresholdLabel = fieldCaption(QStringLiteral("setpoint"));
    return ustFormRefusal(form);
}

QString entryChoiceText(const linefile::Sensor& entry)
{
    if (!entry.type)
        return sensorLabel(entry);
    return QStringLiteral("%1, %2").arg(sensorLabel(entry),
                                        sensorTypeText(sensorTypeOf(quint16(*entry.type))));
}

int matchingEntry(const QVector<linefile::Sensor>& entries, const DeviceVEL_DUO300& now)
{
    int named = -1;
    int sameName = 0;
    const QString name = now.ustRead ? nameText(now.ust) : QString();
    for (int i = 0; i < entries.size(); ++i) {
        const linefile::Sensor& entry = entries[i];
        if (!restoreRefusal(entry).isEmpty())
            continue;
        if (entry.address == now.addr && entry.speed == now.baudrate)
            return i;
        if (!name.isEmpty() && entry.name && *entry.name == name) {
            named = i;
            ++sameName;
        }
    }
    return sameName == 1 ? named : -1;
}

Result ReadLine::run(const QString& portName, const QVector<DeviceVEL_DUO300*>& devs)
{
    read = linefile::Line();
    read.port = portName;
    silent.clear();
    host.progress(0, devs.size());
    for (int i = 0; i < devs.size(); ++i) {
        // Between sensors no answer is awaited: this is where a Cancel arrives.
        if (!line.pause(0))
            return Result::ending();
        if (host.cancelled())
            return Result::cancelled();
        DeviceVEL_DUO300* dev = devs[i];
        line.use(portName, dev->baudrate);

        const Result settings = ReadSettings(line, host).run(dev, 2);
        if (settings.kind == Result::Ending)
            return settings;
        bool whole = settings.done();
        if (whole) {
            const Reply params = PollSensor(line, host).readValues(dev, 2);
            if (params.ending)
                return Result::ending();
            whole = params.ok();
        }
        if (whole) {
            read.sensors.append(linefile::fromBlocks(dev->addr, dev->baudrate, dev->ust, dev->param,
                                                     QDateTime::currentDateTime()));
        } else {
            linefile::Sensor sensor;
            sensor.address = dev->addr;
            sensor.speed = dev->baudrate;
            sensor.answered = false;
            read.sensors.append(sensor);
            silent.append(sensor);
        }
        host.progress(i + 1, devs.size());
    }
    return Result::success();
}

Result RestoreSensor::run(DeviceVEL_DUO300* dev, const linefile::Sensor& entry, bool calibration)
{
    remaining.clear();
    const QString refusal = restoreRefusal(entry);
    if (!refusal.isEmpty())
        return Result::refused(restoreTitle, refusal);
    const Result read = soundSettings(dev, restoreTitle);
    if (!read.done())
        return read;

    // Address, speed and the rest in one write: the sensor moves straight to the entry's place,
    // which writeBlock probes first, and passes through no other.
    const int steps = 3;
    host.progress(0, steps);
    if (host.cancelled())
        return Result::cancelled();
    const UstBlock block = restoredBlock(dev->ust, entry, calibration);
    if (std::memcmp(&block, &dev->ust, sizeof block) != 0) {
        const Result written = writeBlock(dev, block, restoreTitle);
        if (!written.done())
            return written;
    }
    host.progress(2, steps);

    // Read back where nothing else answered before the write: only the restored sensor can.
    line.use(line.portName(), dev->baudrate);
    const Result back = ReadSettings(line, host).run(dev, 3);
    if (back.kind == Result::Ending)
        return back;
    if (!back.done())
        return Result::failed(back.error, restoreTitle,
                              QStringLiteral("Датчик не ответил после записи по адресу %1 на "
                                             "скорости %2: %3")
                                  .arg(dev->addr)
                                  .arg(dev->baudrate)
                                  .arg(errorTextFor(back.error)));
    host.progress(steps, steps);
    remaining = restoreChanges(entry, *dev, calibration);
    return Result::success();
}

} // namespace ops
