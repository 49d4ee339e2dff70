#pragma once

#include "codec/device.h"

#include <QFileInfo>
#include <QString>

// The question asked before a sensor's application is erased: which sensor, and which image
// file replaces its application. Free of widgets, so that it can be tested directly.
QString reprogConfirmationText(const DeviceVEL_DUO300& dev, const QFileInfo& image);
