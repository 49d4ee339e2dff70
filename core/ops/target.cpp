#include "core/ops/target.h"
#include "codec/blocks.h"
#include "codec/errortext.h"
#include "codec/rtu.h"

namespace ops {

namespace {

// Whatever answered the probe, as the refusal names it.
QString holder(const Probe& probe)
{
    if (probe.error == rtu::NoError) {
        // The probe reads the settings block: the holder's name is in it.
        UstBlock ust;
        copyFromAnswer(&ust, int(sizeof ust), probe.answer);
        const QString name = nameText(ust);
        return name.isEmpty() ? QStringLiteral("датчик без названия")
                              : QStringLiteral("датчик «%1»").arg(name);
    }
    if (probe.error == rtu::UnknownCommand)
        return QStringLiteral("устройство, ответившее «несуществующая команда» (так отвечает "
                              "датчик, оставшийся в загрузчике)");
    return QStringLiteral("устройство, чей ответ не принят (%1)").arg(errorTextFor(probe.error));
}

} // namespace

TargetVerdict judgeTarget(const Place& from, const Place& to, const Probe& probe)
{
    if (from == to)
        return {true, false, QString()};
    if (probe.error == rtu::NoAnswer && !probe.portLost)
        return {true, false, QString()};
    // Silence on a lost port, or no probe at all, tells nothing.
    if (probe.error == Probe::notProbed || probe.error == rtu::NoAnswer)
        return {false, false,
                QStringLiteral("Не удалось проверить, свободен ли адрес %1 на скорости %2: "
                               "порт недоступен. Ничего не записано.")
                    .arg(to.address)
                    .arg(to.speed)};
    return {false, true,
            QStringLiteral("Адрес %1 на скорости %2 уже занят: там отвечает %3. Ничего "
                           "не записано.")
                .arg(to.address)
                .arg(to.speed)
                .arg(holder(probe))};
}

} // namespace ops
