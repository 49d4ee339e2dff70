#include "core/devices/searchplan.h"
#include "codec/blocks.h"

#include <algorithm>
#include <functional>

int listNumber(const QString& text)
{
    return text.toInt(nullptr, 10);
}

QStringList sortedNumerically(const QStringList& texts, Qt::SortOrder order)
{
    QList<int> numbers;
    for (const QString& text : texts)
        numbers.append(listNumber(text));
    if (order == Qt::AscendingOrder)
        std::sort(numbers.begin(), numbers.end());
    else
        std::sort(numbers.begin(), numbers.end(), std::greater<int>());
    QStringList sorted;
    for (int number : qAsConst(numbers))
        sorted.append(QString::number(number));
    return sorted;
}

QList<SearchStep> searchPlan(const QStringList& speeds, const QStringList& addrs)
{
    QList<SearchStep> plan;
    for (const QString& speed : speeds) {
        const int baudrate = listNumber(speed);
        plan.append({SearchStep::Reopen, baudrate, 0});
        for (const QString& addr : addrs)
            plan.append({SearchStep::Probe, baudrate, listNumber(addr)});
    }
    return plan;
}

int probeCount(const QList<SearchStep>& plan)
{
    return int(std::count_if(plan.cbegin(), plan.cend(), [](const SearchStep& step) {
        return step.kind == SearchStep::Probe;
    }));
}

QStringList defaultSearchSpeeds()
{
    // The factory's speed, then two of the commonest below it.
    QStringList speeds;
    for (int speed : {factorySpeed, 38400, 9600})
        speeds << QString::number(speed);
    return speeds;
}

QStringList defaultSearchAddresses()
{
    QStringList addresses;
    for (int addr = 1; addr <= addressMax; ++addr)
        addresses << QString::number(addr);
    return addresses;
}
