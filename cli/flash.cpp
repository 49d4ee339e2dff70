// velduo flash: a sensor's program replaced by an image.
#include "cli/command.h"
#include "codec/firmwareimage.h"
#include "codec/plural.h"

namespace {

int flash(Context& context, const SensorArg& sensor, const QString& imagePath,
          const firmware::ImageFile& image)
{
    // What the confirmation names: type, name. A sensor that rejects the read may sit in its
    // loader and is reprogrammed all the same.
    DeviceVEL_DUO300 dev;
    if (const int code = readSensor(context, sensor, LiveValues | Settings | LoaderGoesOn, &dev))
        return code;
    Session& session = *context.session;
    const QString what = sensorText(sensor.address, sensor.speed);
    session.host().setActivity(QStringLiteral("Перепрограммирование %1").arg(what));
    ops::Reprogram reprogram(session.line(), session.host());
    const ops::Result result = reprogram.run(&dev, imagePath, image);
    session.host().finishProgress();
    const QString hint = reprogram.leftInLoader
                             ? ops::leftInLoaderText(dev, flashWayOut(dev.addr, dev.baudrate))
                             : QString();
    if (const int code = context.report(result, what, hint))
        return code;
    const int imageSize = image.bytes.size();
    context.result(QStringLiteral("Датчик %1 перепрограммирован: %2, %3\n")
                       .arg(what, imagePath, bytesText(imageSize)),
                   QJsonObject{{QStringLiteral("address"), dev.addr},
                               {QStringLiteral("speed"), dev.baudrate},
                               {QStringLiteral("image"), imagePath},
                               {QStringLiteral("bytes"), imageSize}});
    return exitcode::done;
}

} // namespace

Job prepareFlash(Context& context, int* code)
{
    SensorArg sensor;
    if (!sensorArgument(context, 2, &sensor, code))
        return Job();
    const QString imagePath = context.args.at(1);
    // The image is read and checked whole before the port is opened.
    const firmware::ImageFile image = readImage(imagePath);
    if (!image.refusal.isEmpty())
        return noJob(code, context.refuse(image.refusal));
    return [sensor, imagePath, image](Context& context) {
        return flash(context, sensor, imagePath, image);
    };
}

HelpPage flashHelp()
{
    return {"перепрограммирование датчика",
            "velduo flash SENSOR IMAGE [--yes]",
            "Заменяет программу датчика образом IMAGE (до 10240 байт), как окно. Образ\n"
            "читается и проверяется целиком до первого байта на линии (байты 10236-10239,\n"
            "место контрольной суммы, должны быть пустыми, 0xFF); подтверждение называет\n"
            "датчик и образ. Так же возвращается датчик, оставшийся в загрузчике после\n"
            "прерванного перепрограммирования.\n",
            {},
            "    velduo flash 5@9600 VEL_DUO300.bin --yes\n",
            {{}, {}, Completion::AnyFile}};
}
