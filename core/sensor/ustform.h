#pragma once

#include "codec/blocks.h"

#include <QString>

// The settings form as a write takes it, with the captions its warnings name. Free of widgets,
// so that the decisions can be tested directly.
struct UstForm
{
    QString name;
    QString nameLabel;
    int speed = 0; // bit/s; 0 when no speed is chosen
    QString speedLabel;
    QString threshold;
    QString thresholdLabel;
};

// Why the form must not be written, as the warning says it; empty when it may be written.
// Nothing of a refused form reaches the sensor: a missing speed would be written as 0 and
// cut the sensor off the line, a setpoint out of range would be written as another number,
// and a name the sensor's encoding cannot hold would be written as other characters.
QString ustFormRefusal(const UstForm& form);

// Why a write is refused when the record's settings image never came from the sensor and the
// read made for the write failed too: the image would carry address 0, speed 0 and zero
// calibration points.
QString unreadSettingsRefusal(int addr);

// Why a settings block read from a sensor must not be the base of a write: its checksum does
// not match (a bit changed on the way or in the sensor), or it names a speed the sensor cannot
// be set to or an address outside 1..addressMax. Written back, such a block would put the
// sensor where neither the search nor a manual addition finds it. Empty when it is sound.
QString ustBlockDamage(const UstBlock& ust);

// Why a write is refused when every read of the block for it came damaged.
QString damagedSettingsRefusal(int addr, const QString& damage);

// Store one form value into a settings image; the checksum is left to the caller.
void storeSpeed(UstBlock& ust, int bitPerSecond);
void storeThreshold(UstBlock& ust, const QString& text);

// Stores the form's name, speed and setpoint into a settings image.
void applyUstForm(const UstForm& form, UstBlock& ust);
