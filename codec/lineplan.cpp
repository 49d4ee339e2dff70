// The plan check: every fault of a plan before anything is sent to a sensor.
#include "codec/linefile.h"

#include "codec/blocks.h"
#include "codec/linefilewords.h"

#include <QSet>
#include <algorithm>
#include <iterator>

namespace linefile {
namespace {

const QString calibrateZero = QStringLiteral("zero");
const QString calibrateNominal = QStringLiteral("nominal");

} // namespace

QVector<PlanFault> checkPlan(const Line& plan)
{
    QVector<PlanFault> faults;
    if (plan.sensors.isEmpty())
        faults.append({0, QStringLiteral("sensors"),
                       QStringLiteral("План, ключ \"sensors\": нет ни одной записи")});
    for (int i = 0; i < plan.sensors.size(); ++i) {
        const Sensor& sensor = plan.sensors[i];
        const QString where = entryText(i + 1, sensor.address);
        const auto fault = [&](const QString& key, const QString& problem) {
            faults.append(
                {i + 1, key, QStringLiteral("%1, ключ %2: %3").arg(where, quoted(key), problem)});
        };
        const auto missing = [&](const QString& key) {
            faults.append({i + 1, key, QStringLiteral("%1: нет ключа %2").arg(where, quoted(key))});
        };
        if (sensor.address < 1 || sensor.address > addressMax)
            fault(QStringLiteral("address"),
                  QStringLiteral("адрес %1 вне диапазона от 1 до %2, который принимает смена "
                                 "адреса")
                      .arg(sensor.address)
                      .arg(addressMax));
        for (int j = 0; j < i; ++j) {
            const Sensor& before = plan.sensors[j];
            if (before.address == sensor.address && before.speed == sensor.speed) {
                fault(QStringLiteral("address"),
                      QStringLiteral("адрес %1 на скорости %2 уже отдан записи %3")
                          .arg(sensor.address)
                          .arg(sensor.speed)
                          .arg(j + 1));
                break;
            }
        }
        if (std::find(std::begin(listedSpeeds), std::end(listedSpeeds), sensor.speed) ==
            std::end(listedSpeeds)) {
            QStringList speeds;
            for (int speed : listedSpeeds)
                speeds << QString::number(speed);
            fault(QStringLiteral("speed"), QStringLiteral("скорости %1 нет среди %2")
                                               .arg(sensor.speed)
                                               .arg(speeds.join(QStringLiteral(", "))));
        }
        if (!sensor.name) {
            missing(QStringLiteral("name"));
        } else {
            const QString nameProblem = nameFault(*sensor.name);
            if (!nameProblem.isEmpty())
                fault(QStringLiteral("name"), nameProblem);
        }
        if (!sensor.setpoint)
            missing(QStringLiteral("setpoint"));
        else if (*sensor.setpoint < thresholdMin || *sensor.setpoint > thresholdMax)
            fault(QStringLiteral("setpoint"), QStringLiteral("уставка %1 вне диапазона от %2 до %3")
                                                  .arg(*sensor.setpoint)
                                                  .arg(thresholdMin)
                                                  .arg(thresholdMax));
        QSet<QString> seen;
        for (const QString& point : sensor.calibrate) {
            if (point != calibrateZero && point != calibrateNominal)
                fault(QStringLiteral("calibrate"),
                      QStringLiteral("неизвестная калибровка \"%1\", допустимы \"%2\" и \"%3\"")
                          .arg(point, calibrateZero, calibrateNominal));
            else if (seen.contains(point))
                fault(QStringLiteral("calibrate"),
                      QStringLiteral("калибровка \"%1\" указана дважды").arg(point));
            seen.insert(point);
        }
    }
    return faults;
}

} // namespace linefile
