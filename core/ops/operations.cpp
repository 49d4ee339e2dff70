#include "core/ops/operations.h"
#include "codec/errortext.h"
#include "core/devices/searchplan.h"

namespace ops {

namespace {

const QString writeTitle = QStringLiteral("Запись уставок");
const QString addressTitle = QStringLiteral("Программирование адреса");

} // namespace

void Operation::record(DeviceVEL_DUO300* dev, const Reply& reply)
{
    if (SensorRegistry::recordOutcome(*dev, reply.error))
        emit line.loaderChanged(dev);
    emit line.outcome(dev, reply.error);
}

Result Operation::writeBlock(DeviceVEL_DUO300* dev, const UstBlock& block, const QString& title,
                             bool claimed)
{
    const Place to{block.mbAddr, block.speed * 100};
    if (!claimed) {
        const Result free = claimTarget(dev, to, title);
        if (!free.done())
            return free;
    }
    const Reply reply =
        line.write(quint8(dev->addr), regmap::ustAddr, regmap::ustCount, blockBytes(block), 3);
    if (reply.ending)
        return Result::ending();
    record(dev, reply);
    // The sensor answers at the written address and speed from now on: the record follows.
    if (reply.ok()) {
        dev->ust = block;
        dev->ustSound = true;
        dev->addr = to.address;
        dev->baudrate = to.speed;
    }
    emit line.settingsChanged(dev);
    if (!reply.ok())
        return Result::failed(reply.error, writeTitle, errorTextFor(reply.error));
    return Result::success();
}

Result Operation::soundSettings(DeviceVEL_DUO300* dev, const QString& title, bool fresh)
{
    if (!fresh && dev->ustRead && dev->ustSound)
        return Result::success();
    return ReadSettings(line, host).runForWrite(dev, title);
}

Result Operation::claimTarget(DeviceVEL_DUO300* dev, const Place& to, const QString& title)
{
    return CheckTarget(line, host).run({dev->addr, dev->baudrate}, to, title);
}

Result ReadSettings::run(DeviceVEL_DUO300* dev, int attempts)
{
    const Reply reply = line.read(quint8(dev->addr), regmap::ustAddr, regmap::ustCount, attempts);
    if (reply.ending)
        return Result::ending();
    record(dev, reply);
    if (reply.ok()) {
        copyFromAnswer(&dev->ust, int(sizeof dev->ust), reply.answer);
        dev->ustRead = true;
        // The answer's CRC is not checked: the block's own checksum and ranges tell whether
        // it may be written back. It is shown either way.
        dev->ustSound = ustBlockDamage(dev->ust).isEmpty();
    }
    emit line.settingsChanged(dev);
    if (!reply.ok())
        return Result::failed(reply.error, QString(), errorTextFor(reply.error));
    return Result::success();
}

Result ReadSettings::runForWrite(DeviceVEL_DUO300* dev, const QString& title)
{
    QString damage;
    for (int read = 0; read < usualAttempts; ++read) {
        const Result result = run(dev, usualAttempts);
        if (result.kind == Result::Ending)
            return result;
        if (!result.done())
            return Result::refused(title, unreadSettingsRefusal(dev->addr), result.error);
        damage = ustBlockDamage(dev->ust);
        if (damage.isEmpty())
            return Result::success();
        line.note(QStringLiteral("Warning: "),
                  QStringLiteral("Настройки датчика с адресом %1 пришли повреждёнными: %2")
                      .arg(dev->addr)
                      .arg(damage));
    }
    return Result::failed(0, title, damagedSettingsRefusal(dev->addr, damage));
}

Result CheckTarget::run(const Place& from, const Place& to, const QString& title, int attempts)
{
    Probe probe;
    if (from != to) {
        const int speed = line.baudrate();
        line.useSpeed(to.speed);
        // Each probe alone, so that the first answer of any kind ends the probing.
        for (int i = 0; i < attempts && !line.ending(); ++i) {
            const Reply reply = line.read(quint8(to.address), regmap::ustAddr, regmap::ustCount, 1);
            if (reply.ending)
                break;
            probe.error = reply.error;
            probe.answer = reply.answer;
            if (reply.error != rtu::NoAnswer)
                break;
        }
        probe.portLost = !line.lostPort().isEmpty();
        line.useSpeed(speed);
    }
    if (line.ending())
        return Result::ending();
    verdict = judgeTarget(from, to, probe);
    if (!verdict.free)
        return Result::refused(title, verdict.text);
    return Result::success();
}

Result WriteSettings::run(DeviceVEL_DUO300* dev, const UstForm& form)
{
    const QString refusal = ustFormRefusal(form);
    if (!refusal.isEmpty())
        return Result::refused(writeTitle, refusal);
    const Result read = soundSettings(dev, writeTitle);
    if (!read.done())
        return read;

    // A new speed moves the sensor: writeBlock sends it only where nothing answers yet.
    UstBlock block = dev->ust;
    applyUstForm(form, block);
    sealChecksum(block);
    return writeBlock(dev, block, writeTitle);
}

Result ChangeAddress::run(DeviceVEL_DUO300* dev, int newAddr)
{
    if (newAddr == dev->addr)
        return Result::success();
    // 32 passes the window's field but is not a valid sensor address, and 0 is the broadcast.
    if (newAddr < 1 || newAddr > addressMax)
        return Result::refused(
            addressTitle,
            QStringLiteral(
                "Введено недопустимое значение Адреса Modbus\nВведите значение от 1 до ") +
                QString::number(addressMax));
    const Result read = soundSettings(dev, addressTitle);
    if (!read.done())
        return read;

    // The new address is probed before the question, so that the user is not asked to confirm
    // a move that cannot be made.
    CheckTarget check(line, host);
    const Result free =
        check.run({dev->addr, dev->baudrate}, {newAddr, dev->baudrate}, addressTitle);
    if (check.verdict.answered)
        return Result::refused(addressTitle,
                               QStringLiteral("В сети уже имеется устройство с адресом '") +
                                   QString::number(newAddr) + QStringLiteral("'\n") + free.text);
    if (!free.done())
        return free;
    if (host.ask({QStringLiteral("address"), Icon::Warning, addressTitle,
                  QStringLiteral("Адрес устройства будет изменён с '%1' на '%2'")
                      .arg(dev->addr)
                      .arg(newAddr),
                  Ok | Cancel, NoButton}) != Ok)
        return Result::declined();

    UstBlock block = dev->ust;
    block.mbAddr = quint16(newAddr);
    sealChecksum(block);
    return writeBlock(dev, block, addressTitle, true);
}

Result ResetSettings::run(DeviceVEL_DUO300* dev)
{
    const QString title = QStringLiteral("Сброс настроек");
    if (host.ask({QStringLiteral("reset"), Icon::Warning, title,
                  QStringLiteral("Будут установлены настройки по умолчанию для датчика '%1'")
                      .arg(dev->addr),
                  Ok | Cancel, NoButton}) != Ok)
        return Result::declined();
    host.committed();

    // The factory settings move the sensor to the factory address and speed: only when nothing
    // answers there yet.
    const UstBlock defaults = defaultUstBlock();
    const Result free = claimTarget(dev, {defaults.mbAddr, defaults.speed * 100}, title);
    if (!free.done())
        return free;
    const Reply reply =
        line.write(quint8(dev->addr), regmap::ustAddr, regmap::ustCount, blockBytes(defaults), 1);
    if (reply.ending)
        return Result::ending();
    record(dev, reply);
    // The record keeps its own image, address and speed: the program goes on where it was.
    emit line.settingsChanged(dev);
    if (!reply.ok())
        return Result::failed(reply.error, QString(), errorTextFor(reply.error));
    // The sensor no longer answers there: say where to find it.
    line.note(QStringLiteral("Warning: "),
              QStringLiteral("Датчик с адресом %1 принял настройки по умолчанию: теперь он "
                             "отвечает по адресу %2 на скорости %3. Добавьте его с этими "
                             "адресом и скоростью.")
                  .arg(dev->addr)
                  .arg(defaults.mbAddr)
                  .arg(defaults.speed * 100));
    return Result::success();
}

Reply PollSensor::readValues(DeviceVEL_DUO300* dev, int attempts)
{
    const Reply params =
        line.read(quint8(dev->addr), regmap::paramAddr, regmap::paramCount, attempts);
    if (params.ending)
        return params;
    record(dev, params);
    if (params.ok())
        copyFromAnswer(&dev->param, int(sizeof dev->param), params.answer);
    // After a failed read nothing shows a value that the sensor did not just send.
    emit line.paramsChanged(dev);
    return params;
}

Result PollSensor::run(DeviceVEL_DUO300* dev)
{
    const Reply params = readValues(dev, 1);
    if (params.ending)
        return Result::ending();

    const Reply coil = readCoil(dev);
    if (coil.ending)
        return Result::ending();
    if (!params.ok())
        return Result::failed(params.error, QString(), errorTextFor(params.error));
    if (!coil.ok())
        return Result::failed(coil.error, QString(), errorTextFor(coil.error));
    return Result::success();
}

Reply PollSensor::readCoil(DeviceVEL_DUO300* dev)
{
    const Reply coil = line.readCoil(quint8(dev->addr), 0, 1, 1);
    if (coil.ending)
        return coil;
    if (coil.ok())
        copyFromAnswer(dev->coil, int(sizeof dev->coil), coil.answer);
    else
        dev->coil[0] = 0;
    record(dev, coil);
    return coil;
}

bool PollSensor::readParam(DeviceVEL_DUO300* dev, int attempts)
{
    const Reply coil = line.readCoil(quint8(dev->addr), 0, 1, 1);
    if (coil.ending)
        return false;
    record(dev, coil);
    if (coil.ok())
        copyFromAnswer(dev->coil, int(sizeof dev->coil), coil.answer);

    return !readValues(dev, attempts).ending;
}

int AddSensor::run(int addr, int baudrate, Result* result)
{
    DeviceVEL_DUO300 dev{};
    dev.addr = addr;
    dev.baudrate = baudrate;
    dev.commError = true;
    const int row = registry.add(dev);
    if (row < 0)
        return -1;
    emit line.listChanged(row);
    const Result read = ReadSettings(line, host).run(&registry[row], 2);
    if (result)
        *result = read;
    if (read.kind == Result::Ending)
        return row;
    emit line.listChanged(row);
    return row;
}

Result SearchLine::run(const QString& portName, const QStringList& speeds, const QStringList& addrs)
{
    found.clear();
    const QList<SearchStep> plan = searchPlan(speeds, addrs);
    const int maximum = probeCount(plan) + 1;
    int probes = 0;
    int progress = 1;
    host.progress(progress, maximum);
    bool cancelled = false;
    for (const SearchStep& step : plan) {
        // Between speeds no answer is awaited: this is where a Cancel arrives.
        if (step.kind == SearchStep::Reopen && !line.pause(0))
            return Result::ending();
        if ((cancelled = host.cancelled()))
            break;
        if (step.kind == SearchStep::Reopen) {
            line.reopen(portName, step.baudrate);
            continue;
        }

        // One attempt: an address without a sensor costs one answer time-out.
        const Reply reply = line.read(quint8(step.addr), 0, 2, 1);
        if (reply.ending)
            return Result::ending();
        // A valid answer or an unknown-command exception: somebody is there.
        if (reply.error == rtu::NoError || reply.error == rtu::UnknownCommand) {
            Result read;
            const int row = AddSensor(line, host, registry).run(step.addr, step.baudrate, &read);
            if (read.kind == Result::Ending)
                return Result::ending();
            // It answered the probe, whatever its settings read said; one already listed keeps
            // its record as it is.
            if (row >= 0) {
                registry[row].commError = false;
                found.append(row);
                if (onFound && !onFound(row)) {
                    cancelled = true;
                    break;
                }
            }
        }
        host.progress(++probes, maximum);
        progress = probes;
    }
    host.progress(progress, progress);
    if (cancelled)
        return Result::cancelled();
    return Result::success();
}

QString loaderNotice(const DeviceVEL_DUO300& dev, const QString& wayOut)
{
    if (!dev.cmdRejected)
        return QString();
    return QStringLiteral("Датчик %1@%2 отвечает «несуществующая команда», как отвечает его "
                          "загрузчик: по-видимому, перепрограммирование было прервано, и датчик "
                          "остался в загрузчике, без своей программы. Чтобы вернуть его, "
                          "перепрограммируйте его снова: %3.")
        .arg(dev.addr)
        .arg(dev.baudrate)
        .arg(wayOut);
}

QString leftInLoaderText(const DeviceVEL_DUO300& dev, const QString& wayOut)
{
    return QStringLiteral("Перепрограммирование не завершено: датчик %1@%2 остался в "
                          "загрузчике, без своей программы. Чтобы вернуть его, "
                          "перепрограммируйте его снова: %3.")
        .arg(dev.addr)
        .arg(dev.baudrate)
        .arg(wayOut);
}

} // namespace ops
