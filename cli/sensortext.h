#pragma once

#include "cli/command.h"
#include "codec/device.h"
#include "codec/linefile.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

// A sensor's record as the library keeps it, at the address and speed it is talked to.
DeviceVEL_DUO300 recordFor(const SensorArg& sensor);
// The sensor as a line file describes it; without live values when only its settings were read.
linefile::Sensor described(const DeviceVEL_DUO300& dev, bool withParams);
// The measured value in its unit, as JSON gives it.
QJsonValue measureValue(const ParamBlock& param);
// The object with the live values added.
QJsonObject withLiveValues(QJsonObject object, const ParamBlock& param);
// The settings and the live values, a row a field.
QString settingsText(const UstBlock& ust);
QString liveText(const DeviceVEL_DUO300& dev);
