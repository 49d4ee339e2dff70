#include "core/sensor/ustform.h"

#include <QStringList>
#include <algorithm>
#include <iterator>

namespace {

QString quoted(const QString& label)
{
    return QStringLiteral("«") + label + QStringLiteral("»");
}

// The characters of text, each once, that the name's encoding has no byte for.
QString unencodable(const QString& text)
{
    QString found;
    for (uint codePoint : text.toUcs4()) {
        const QString character = QString::fromUcs4(&codePoint, 1);
        if (!nameEncodable(character) && !found.contains(character))
            found += character;
    }
    return found;
}

} // namespace

QString ustFormRefusal(const UstForm& form)
{
    const QString refused = QStringLiteral("Уставки не записаны: ");
    QStringList missing;
    if (form.speed <= 0)
        missing << quoted(form.speedLabel);
    if (form.threshold.isEmpty())
        missing << quoted(form.thresholdLabel);
    if (!missing.isEmpty())
        return refused + QStringLiteral("не заполнено поле %1.").arg(missing.join(", "));

    // Any other speed would leave the sensor where no search looks for it.
    if (std::find(std::begin(listedSpeeds), std::end(listedSpeeds), form.speed) ==
        std::end(listedSpeeds)) {
        QStringList speeds;
        for (int speed : listedSpeeds)
            speeds << QString::number(speed);
        return refused + QStringLiteral("значение поля %1 должно быть одним из: %2.")
                             .arg(quoted(form.speedLabel), speeds.join(QStringLiteral(", ")));
    }

    bool number = false;
    const int threshold = form.threshold.toInt(&number);
    if (!number || threshold < thresholdMin || threshold > thresholdMax)
        return refused + QStringLiteral("значение поля %1 должно быть от %2 до %3.")
                             .arg(quoted(form.thresholdLabel))
                             .arg(thresholdMin)
                             .arg(thresholdMax);

    const QString foreign = unencodable(form.name);
    if (!foreign.isEmpty())
        return refused + QStringLiteral("в поле %1 есть знаки, которых нет в кодировке датчика "
                                        "(Windows-1251): %2.")
                             .arg(quoted(form.nameLabel), foreign);
    return QString();
}

QString unreadSettingsRefusal(int addr)
{
    return QStringLiteral("Не удалось считать настройки датчика с адресом %1: ничего не записано.")
        .arg(addr);
}

QString ustBlockDamage(const UstBlock& ust)
{
    if (ust.checksum != ustChecksum(ust))
        return QStringLiteral("контрольная сумма блока 0x%1, а должна быть 0x%2")
            .arg(ust.checksum, 8, 16, QLatin1Char('0'))
            .arg(ustChecksum(ust), 8, 16, QLatin1Char('0'));
    const int speed = ust.speed * 100;
    if (std::find(std::begin(listedSpeeds), std::end(listedSpeeds), speed) ==
        std::end(listedSpeeds))
        return QStringLiteral("в блоке скорость %1, такой скорости у датчика нет").arg(speed);
    if (ust.mbAddr < 1 || ust.mbAddr > addressMax)
        return QStringLiteral("в блоке адрес %1, вне диапазона от 1 до %2")
            .arg(ust.mbAddr)
            .arg(addressMax);
    return QString();
}

QString damagedSettingsRefusal(int addr, const QString& damage)
{
    return QStringLiteral("Настройки датчика с адресом %1 при каждом чтении приходят "
                          "повреждёнными (%2): ничего не записано.")
        .arg(addr)
        .arg(damage);
}

void storeSpeed(UstBlock& ust, int bitPerSecond)
{
    ust.speed = quint16(bitPerSecond / 100);
}

void storeThreshold(UstBlock& ust, const QString& text)
{
    ust.threshold = qint16(text.toInt());
}

void applyUstForm(const UstForm& form, UstBlock& ust)
{
    setNameText(ust, form.name);
    storeSpeed(ust, form.speed);
    storeThreshold(ust, form.threshold);
}
