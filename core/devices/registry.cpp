#include "core/devices/registry.h"
#include "codec/rtu.h"

#include <functional>

DeviceVEL_DUO300* SensorRegistry::at(int row)
{
    return row >= 0 && row < list.size() ? &list[row] : nullptr;
}

int SensorRegistry::add(const DeviceVEL_DUO300& dev)
{
    if (find(dev.addr, dev.baudrate) >= 0)
        return -1;
    list.append(dev);
    return list.size() - 1;
}

void SensorRegistry::remove(int row)
{
    if (row >= 0 && row < list.size())
        list.remove(row);
}

int SensorRegistry::find(int addr, int baudrate) const
{
    for (int row = 0; row < list.size(); ++row)
        if (list.at(row).addr == addr && list.at(row).baudrate == baudrate)
            return row;
    return -1;
}

int SensorRegistry::rowOf(const DeviceVEL_DUO300* dev) const
{
    const DeviceVEL_DUO300* first = list.constData();
    const std::less<const DeviceVEL_DUO300*> before;
    if (list.isEmpty() || before(dev, first) || !before(dev, first + list.size()))
        return -1;
    return int(dev - first);
}

bool SensorRegistry::recordOutcome(DeviceVEL_DUO300& dev, int error)
{
    const bool answeredAsLoader = dev.cmdRejected;
    dev.commError = error != rtu::NoError;
    dev.cmdRejected = error == rtu::UnknownCommand;
    return dev.cmdRejected != answeredAsLoader;
}

void SensorRegistry::blocksFromAnotherPort()
{
    for (DeviceVEL_DUO300& dev : list)
        dev.ustSound = false;
}
