// velduo calibrate: a voltage sensor's zero and nominal points.
#include "cli/command.h"
#include "cli/sensortext.h"
#include "codec/sensortype.h"
#include "core/sensor/format.h"

#include <unistd.h>

namespace {

// The points, as the command line names them.
const QString zeroPoint = QStringLiteral("zero");
const QString nominalPoint = QStringLiteral("nominal");

int calibrate(Context& context, const SensorArg& sensor, bool zero)
{
    DeviceVEL_DUO300 dev;
    if (const int code = readSensor(context, sensor, LiveValues, &dev))
        return code;
    const QString what = sensorText(sensor.address, sensor.speed);
    if (!sensorTraits(sensorTypeOf(dev.param)).calibrated)
        return context.refuse(QStringLiteral("Датчик %1: калибруются только датчики напряжения, "
                                             "а это %2")
                                  .arg(what, sensorTypeText(sensorTypeOf(dev.param))));
    Session& session = *context.session;
    TerminalHost& host = session.host();
    // On a terminal the operator applies the voltage first, as the commissioning asks; a
    // script (no terminal) or --yes has it applied already.
    if (!context.yes && ::isatty(STDIN_FILENO) == 1) {
        const QString prompt =
            zero ? QStringLiteral("Подайте 0 В на датчик %1, затем нажмите Enter").arg(what)
                 : QStringLiteral("Подайте номинальное напряжение на датчик %1, затем нажмите "
                                  "Enter")
                       .arg(what);
        if (!host.waitForEnter(prompt))
            return context.report(session.ended() ? ops::Result::ending() : ops::Result::declined(),
                                  what);
    }
    host.setActivity(zero ? QStringLiteral("Калибровка нуля %1").arg(what)
                          : QStringLiteral("Калибровка номинала %1").arg(what));
    host.onParams = [&host](DeviceVEL_DUO300* read) {
        host.status(QStringLiteral("АЦП %1").arg(read->param.adc));
    };
    const ops::Result result = zero ? ops::CalibrateZero(session.line(), host).run(&dev)
                                    : ops::CalibrateNominal(session.line(), host).run(&dev);
    host.onParams = nullptr;
    host.finishProgress();
    if (const int code = context.report(result, what))
        return code;
    context.result(zero ? QStringLiteral("Датчик %1: точка нуля записана, АЦП %2\n")
                              .arg(what)
                              .arg(dev.ust.zeroAdc)
                        : QStringLiteral("Датчик %1: точка номинала записана, АЦП %2\n")
                              .arg(what)
                              .arg(dev.ust.nomAdc),
                   linefile::toObject(described(dev, true)));
    return exitcode::done;
}

} // namespace

Job prepareCalibrate(Context& context, int* code)
{
    if (context.args.isEmpty() ||
        (context.args.at(0) != zeroPoint && context.args.at(0) != nominalPoint))
        return noJob(code, context.usage(
                               QStringLiteral("ожидается %1 или %2").arg(zeroPoint, nominalPoint)));
    const bool zero = context.args.takeFirst() == zeroPoint;
    SensorArg sensor;
    if (!sensorArgument(context, 1, &sensor, code))
        return Job();
    return [sensor, zero](Context& context) { return calibrate(context, sensor, zero); };
}

HelpPage calibrateHelp()
{
    return {"калибровка датчика напряжения",
            "velduo calibrate zero SENSOR\nvelduo calibrate nominal SENSOR",
            "Калибровка, как в окне, только для датчиков напряжения. zero записывает\n"
            "текущий отсчёт АЦП как точку нуля (подайте 0 В). nominal шагами\n"
            "потенциометра вводит отсчёт в окно 30-95 % шкалы и записывает его как точку\n"
            "номинала (подайте номинальное напряжение). На терминале velduo сначала\n"
            "просит подать напряжение и ждёт Enter; с --yes или без терминала не ждёт.\n",
            {},
            "    velduo calibrate zero 5@9600\n    velduo calibrate nominal 5@9600\n",
            {{}, {zeroPoint, nominalPoint}}};
}
