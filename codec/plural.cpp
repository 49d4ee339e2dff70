#include "codec/plural.h"

QString pluralForm(qint64 count, const QString& one, const QString& few, const QString& many)
{
    const qint64 n = count < 0 ? -count : count;
    const qint64 lastTwo = n % 100;
    const qint64 last = n % 10;
    if (lastTwo >= 11 && lastTwo <= 14)
        return many;
    if (last == 1)
        return one;
    if (last >= 2 && last <= 4)
        return few;
    return many;
}

QString countText(qint64 count, const QString& one, const QString& few, const QString& many)
{
    return QString::number(count) + QLatin1Char(' ') + pluralForm(count, one, few, many);
}

QString readingsText(qint64 count)
{
    return countText(count, QStringLiteral("показание"), QStringLiteral("показания"),
                     QStringLiteral("показаний"));
}

QString bytesText(qint64 count)
{
    return countText(count, QStringLiteral("байт"), QStringLiteral("байта"),
                     QStringLiteral("байт"));
}
