#include "core/ops/linereport.h"
#include "codec/errortext.h"
#include "codec/rtu.h"
#include "codec/sensortype.h"
#include "core/ops/lineops.h"
#include "core/sensor/format.h"

#include <QJsonArray>

namespace linereport {

namespace {

const QString dash = QStringLiteral("—");

QString workTimeText(quint32 seconds)
{
    // To the minute: the seconds of a count since power-up say nothing to the customer.
    return QStringLiteral("%1 ч %2 мин")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'));
}

QString withUnit(const QString& value, const QString& unit)
{
    return unit.isEmpty() ? value : value + QLatin1Char(' ') + unit;
}

// The line file's sensor for a reading, as a file saved now would hold it.
linefile::Sensor asRead(const linefile::Sensor& entry, const Reading& reading, const QDateTime& at)
{
    if (reading.state != Reading::Answered) {
        linefile::Sensor silent;
        silent.address = entry.address;
        silent.speed = entry.speed;
        silent.answered = false;
        return silent;
    }
    return linefile::fromBlocks(entry.address, entry.speed, reading.dev.ust, reading.dev.param, at);
}

Row rowFor(const linefile::Sensor& entry, const Reading& reading)
{
    Row row;
    row.address = entry.address;
    row.speed = entry.speed;
    row.state = reading.state;
    row.json = QJsonObject{{QStringLiteral("address"), entry.address},
                           {QStringLiteral("speed"), entry.speed}};
    switch (reading.state) {
    case Reading::InLoader:
        row.note = QStringLiteral("В загрузчике: отвечает «несуществующая команда», программы "
                                  "нет; нужно перепрограммирование");
        row.json.insert(QStringLiteral("state"), QStringLiteral("loader"));
        row.json.insert(QStringLiteral("text"), row.note);
        return row;
    case Reading::Silent:
        row.note = QStringLiteral("Не ответил: %1").arg(errorTextFor(reading.error));
        row.json.insert(QStringLiteral("state"), QStringLiteral("silent"));
        row.json.insert(QStringLiteral("error"), reading.error);
        row.json.insert(QStringLiteral("text"), row.note);
        return row;
    case Reading::Answered:
        break;
    }
    const DeviceVEL_DUO300& dev = reading.dev;
    const SensorType type = sensorTypeOf(dev.param);
    const SensorTypeTraits& traits = sensorTraits(type);
    row.type = type == SensorType::Undetermined
                   ? QStringLiteral("Неизвестный (%1)").arg(dev.param.sensorType)
                   : traits.quantity;
    row.name = nameText(dev.ust);
    row.setpoint = withUnit(QString::number(dev.ust.threshold), traits.unit);
    row.version = versionText(dev.param);
    row.zeroAdc = traits.calibrated ? QString::number(dev.ust.zeroAdc) : dash;
    row.nominalAdc = traits.calibrated ? QString::number(dev.ust.nomAdc) : dash;
    row.measure =
        type == SensorType::Undetermined
            ? dash
            : withUnit(QString::number(measuredValue(dev.param), 'f', traits.scale > 1 ? 2 : 0),
                       traits.unit);
    row.adc = QString::number(dev.param.adc);
    row.coil = dev.coil[0] & 1 ? QStringLiteral("вкл") : QStringLiteral("выкл");
    row.workTime = workTimeText(dev.param.workTime);

    row.json.insert(QStringLiteral("state"), QStringLiteral("answered"));
    row.json.insert(QStringLiteral("type"), dev.param.sensorType);
    row.json.insert(QStringLiteral("name"), row.name);
    row.json.insert(QStringLiteral("setpoint"), dev.ust.threshold);
    row.json.insert(QStringLiteral("unit"),
                    traits.payloadUnit.isEmpty() ? QJsonValue() : QJsonValue(traits.payloadUnit));
    if (traits.calibrated) {
        row.json.insert(QStringLiteral("zeroAdc"), dev.ust.zeroAdc);
        row.json.insert(QStringLiteral("nomAdc"), dev.ust.nomAdc);
    }
    row.json.insert(QStringLiteral("version"), row.version);
    row.json.insert(QStringLiteral("measure"), type == SensorType::Undetermined
                                                   ? QJsonValue()
                                                   : QJsonValue(measuredValue(dev.param)));
    row.json.insert(QStringLiteral("adc"), dev.param.adc);
    row.json.insert(QStringLiteral("coil"), dev.coil[0]);
    row.json.insert(QStringLiteral("workTime"), qint64(dev.param.workTime));
    return row;
}

QString joined(const QStringList& parts)
{
    return parts.join(QStringLiteral(", "));
}

QString summaryText(const Report& report, const QStringList& silent, const QStringList& loader,
                    const QStringList& differing)
{
    const int total = report.rows.size();
    if (total == 0)
        return QStringLiteral("В файле линии нет датчиков.");
    if (report.matches)
        return QStringLiteral("Все датчики (%1) ответили, их значения совпадают с файлом линии.")
            .arg(total);
    QStringList parts{QStringLiteral("Ответили %1 из %2 датчиков").arg(report.answered).arg(total)};
    if (!silent.isEmpty())
        parts << QStringLiteral("не ответили: %1").arg(joined(silent));
    if (!loader.isEmpty())
        parts << QStringLiteral("в загрузчике: %1").arg(joined(loader));
    if (!differing.isEmpty())
        parts << QStringLiteral("расходятся с файлом линии: %1").arg(joined(differing));
    return parts.join(QStringLiteral("; ")) + QLatin1Char('.');
}

} // namespace

Report make(const Header& header, const QString& fileName, const linefile::Line& file,
            const QVector<Reading>& readings)
{
    Report report;
    report.header = header;
    report.fileName = fileName;
    QStringList silent, loader, differing;
    for (int i = 0; i < file.sensors.size(); ++i) {
        const linefile::Sensor& entry = file.sensors[i];
        const Reading reading = i < readings.size() ? readings[i] : Reading();
        Row row = rowFor(entry, reading);
        const QString label = ops::sensorLabel(entry);
        if (reading.state == Reading::Answered)
            ++report.answered;
        else
            (reading.state == Reading::InLoader ? loader : silent) << label;

        const linefile::Sensor read = asRead(entry, reading, header.at);
        QStringList fields;
        QJsonArray differs;
        for (const linefile::Difference& d : linefile::differences(entry, read)) {
            // A sensor that did not answer is its row's note, not a difference of its fields.
            if (d.key == QLatin1String("answered") && reading.state != Reading::Answered)
                continue;
            row.differs << d.key;
            differs.append(d.key);
            fields << ops::fieldCaption(d.key);
            report.differences.append({entry.address, entry.speed, label, d.key,
                                       ops::fieldCaption(d.key), d.expected, d.actual});
        }
        if (!fields.isEmpty()) {
            differing << QStringLiteral("%1 (%2)").arg(label, joined(fields));
            row.json.insert(QStringLiteral("differs"), differs);
        }
        report.rows.append(row);
    }
    report.matches = !report.rows.isEmpty() && report.answered == report.rows.size() &&
                     report.differences.isEmpty();
    report.summary = summaryText(report, silent, loader, differing);
    return report;
}

QJsonObject toJson(const Report& report)
{
    const Header& h = report.header;
    QJsonArray sensors;
    for (const Row& row : report.rows)
        sensors.append(row.json);
    QJsonArray differences;
    for (const Difference& d : report.differences)
        differences.append(QJsonObject{{QStringLiteral("address"), d.address},
                                       {QStringLiteral("speed"), d.speed},
                                       {QStringLiteral("key"), d.key},
                                       {QStringLiteral("field"), d.field},
                                       {QStringLiteral("inFile"), d.inFile},
                                       {QStringLiteral("onSensor"), d.onSensor}});
    return QJsonObject{
        {QStringLiteral("format"), QStringLiteral("velduo-report")},
        {QStringLiteral("version"), 1},
        {QStringLiteral("title"), title},
        {QStringLiteral("site"), h.site},
        {QStringLiteral("line"), h.line},
        {QStringLiteral("engineer"), h.engineer},
        {QStringLiteral("at"), h.at.toString(Qt::ISODate)},
        {QStringLiteral("program"), h.program},
        {QStringLiteral("host"), h.host},
        {QStringLiteral("port"), h.port},
        {QStringLiteral("file"), report.fileName},
        {QStringLiteral("sensors"), sensors},
        {QStringLiteral("differences"), differences},
        {QStringLiteral("summary"), QJsonObject{{QStringLiteral("sensors"), report.rows.size()},
                                                {QStringLiteral("answered"), report.answered},
                                                {QStringLiteral("matches"), report.matches},
                                                {QStringLiteral("text"), report.summary}}},
    };
}

QString timeText(const QDateTime& at)
{
    const int offset = at.offsetFromUtc();
    const int minutes = qAbs(offset) / 60;
    return at.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")) +
           QStringLiteral(" (UTC%1%2:%3)")
               .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QStringList columnCaptions()
{
    return {QStringLiteral("Тип"),       QStringLiteral("Название"),
            QStringLiteral("Уставка"),   QStringLiteral("Версия ПО"),
            QStringLiteral("Нуль АЦП"),  QStringLiteral("Номинал АЦП"),
            QStringLiteral("Измерение"), QStringLiteral("АЦП"),
            QStringLiteral("Выход"),     QStringLiteral("Время работы")};
}

QStringList columnKeys()
{
    return {QStringLiteral("type"),    QStringLiteral("name"),    QStringLiteral("setpoint"),
            QStringLiteral("version"), QStringLiteral("zeroAdc"), QStringLiteral("nomAdc"),
            QStringLiteral("measure"), QStringLiteral("adc"),     QStringLiteral("coil"),
            QStringLiteral("workTime")};
}

QStringList cells(const Row& row)
{
    return {row.type,       row.name,    row.setpoint, row.version, row.zeroAdc,
            row.nominalAdc, row.measure, row.adc,      row.coil,    row.workTime};
}

ops::Result ReadSensors::run(const QString& portName, const QVector<linefile::Sensor>& sensors)
{
    readings.clear();
    host.progress(0, sensors.size());
    for (int i = 0; i < sensors.size(); ++i) {
        // Between sensors no answer is awaited: this is where a Cancel arrives.
        if (!line.pause(0))
            return ops::Result::ending();
        if (host.cancelled())
            return ops::Result::cancelled();
        Reading reading;
        DeviceVEL_DUO300& dev = reading.dev;
        dev.addr = sensors[i].address;
        dev.baudrate = sensors[i].speed;
        if (line.portName() != portName || line.baudrate() != dev.baudrate)
            line.open(portName, dev.baudrate);

        const ops::Result settings = ops::ReadSettings(line, host).run(&dev, 2);
        if (settings.kind == ops::Result::Ending)
            return settings;
        // The error of the first read that failed; the parameters and the coil only after the
        // settings, so that a silent sensor costs one read's attempts.
        int error = settings.error;
        if (settings.done()) {
            ops::PollSensor poll(line, host);
            const Reply params = poll.readValues(&dev, 2);
            if (params.ending)
                return ops::Result::ending();
            const Reply coil = params.ok() ? poll.readCoil(&dev) : params;
            if (coil.ending)
                return ops::Result::ending();
            error = coil.error;
        }
        if (error == rtu::NoError)
            reading.state = Reading::Answered;
        else if (dev.cmdRejected)
            reading.state = Reading::InLoader;
        reading.error = error;
        readings.append(reading);
        host.progress(i + 1, sensors.size());
    }
    return ops::Result::success();
}

} // namespace linereport
