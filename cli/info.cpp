// velduo info and read: what a sensor tells of itself.
#include "cli/command.h"
#include "cli/sensortext.h"

namespace {

int info(Context& context, const SensorArg& sensor)
{
    DeviceVEL_DUO300 dev;
    if (const int code = readSensor(context, sensor, LiveValues | Settings, &dev))
        return code;
    context.result(QStringLiteral("Датчик %1\n").arg(sensorText(sensor.address, sensor.speed)) +
                       liveText(dev) + settingsText(dev.ust),
                   withLiveValues(linefile::toObject(described(dev, true)), dev.param));
    return exitcode::done;
}

int read(Context& context, const SensorArg& sensor)
{
    DeviceVEL_DUO300 dev;
    if (const int code = readSensor(context, sensor, Settings, &dev))
        return code;
    context.result(QStringLiteral("Датчик %1\n").arg(sensorText(sensor.address, sensor.speed)) +
                       settingsText(dev.ust),
                   linefile::toObject(described(dev, false)));
    return exitcode::done;
}

// The job for the one sensor the arguments name.
Job forSensor(Context& context, int* code, int (*job)(Context&, const SensorArg&))
{
    SensorArg sensor;
    if (!sensorArgument(context, 1, &sensor, code))
        return Job();
    return [sensor, job](Context& context) { return job(context, sensor); };
}

} // namespace

Job prepareInfo(Context& context, int* code)
{
    return forSensor(context, code, info);
}

Job prepareRead(Context& context, int* code)
{
    return forSensor(context, code, read);
}

HelpPage infoHelp()
{
    return {"живые значения и уставки датчика",
            "velduo info SENSOR [--json]",
            "Считывает текущие параметры (тип, измеренное значение, отсчёт АЦП, время\n"
            "работы, версию ПО) и уставки датчика.\n",
            {},
            "    velduo info 5@9600\n    velduo info 1 --json\n"};
}

HelpPage readHelp()
{
    return {"уставки датчика",
            "velduo read SENSOR [--json]",
            "Считывает уставки: имя, скорость, уставку, точки нуля и номинала (отсчёты\n"
            "АЦП) и весь блок уставок в шестнадцатеричном виде.\n",
            {},
            "    velduo read 5@9600\n"};
}
