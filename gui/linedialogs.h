#pragma once

#include "codec/linefile.h"
#include "core/ops/lineops.h"
#include "codec/device.h"

#include <QDialog>

class QCheckBox;
class QDialogButtonBox;
class QLabel;
class QListWidget;
class QTableWidget;

// Picks the entry of a line file to put onto a sensor and shows what will change (field, now,
// after); the calibration points only with the box ticked. Entries without settings stay in
// the list, greyed, so that the file is seen whole.
class RestoreDialog : public QDialog
{
    Q_OBJECT
public:
    RestoreDialog(const QVector<linefile::Sensor>& entries, const DeviceVEL_DUO300& now,
                  QWidget* parent = nullptr);
    // The chosen entry's index, or -1.
    int entry() const;
    bool calibration() const;

private:
    void showChanges();

    QVector<linefile::Sensor> entries;
    DeviceVEL_DUO300 now;
    QListWidget* list;
    QTableWidget* changes;
    QCheckBox* calibrationBox;
    QLabel* summary;
    QDialogButtonBox* buttons;
};

// The fields in which the sensors differ from the file, one table.
class CompareDialog : public QDialog
{
    Q_OBJECT
public:
    CompareDialog(const QVector<ops::CompareRow>& rows, QWidget* parent = nullptr);
};
