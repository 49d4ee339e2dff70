#include "gui/linedialogs.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QTableWidget* table(const QStringList& headers, const QString& name, QWidget* parent)
{
    auto* t = new QTableWidget(0, headers.size(), parent);
    t->setObjectName(name);
    t->setHorizontalHeaderLabels(headers);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->verticalHeader()->hide();
    t->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    t->horizontalHeader()->setStretchLastSection(true);
    return t;
}

void fillRow(QTableWidget* t, int row, const QStringList& cells)
{
    for (int column = 0; column < cells.size(); ++column)
        t->setItem(row, column, new QTableWidgetItem(cells[column]));
}

} // namespace

RestoreDialog::RestoreDialog(const QVector<linefile::Sensor>& entries, const DeviceVEL_DUO300& now,
                             QWidget* parent)
    : QDialog(parent), entries(entries), now(now)
{
    setObjectName(QStringLiteral("restoreDialog"));
    setWindowTitle(QStringLiteral("Восстановить датчик из файла"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(
        QStringLiteral("Запись файла для датчика %1@%2:").arg(now.addr).arg(now.baudrate), this));
    list = new QListWidget(this);
    list->setObjectName(QStringLiteral("entries"));
    for (const linefile::Sensor& entry : entries) {
        auto* item = new QListWidgetItem(ops::entryChoiceText(entry), list);
        const QString refusal = ops::restoreRefusal(entry);
        if (!refusal.isEmpty()) {
            item->setFlags(item->flags() & ~(Qt::ItemIsEnabled | Qt::ItemIsSelectable));
            item->setToolTip(refusal);
        }
    }
    layout->addWidget(list);
    calibrationBox = new QCheckBox(QStringLiteral("также точки калибровки"), this);
    calibrationBox->setObjectName(QStringLiteral("calibration"));
    layout->addWidget(calibrationBox);
    changes = table({QStringLiteral("Поле"), QStringLiteral("Сейчас"), QStringLiteral("После")},
                    QStringLiteral("changes"), this);
    layout->addWidget(changes);
    summary = new QLabel(this);
    layout->addWidget(summary);
    buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Записать"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
    // Enter cancels, unless the focus was taken to "Записать" itself.
    buttons->button(QDialogButtonBox::Cancel)->setDefault(true);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // The entry is the selected one: a list given the focus makes its first row current without
    // selecting it, and that is nobody's choice.
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setCurrentRow(ops::matchingEntry(entries, now));
    connect(list, &QListWidget::itemSelectionChanged, this, &RestoreDialog::showChanges);
    connect(calibrationBox, &QCheckBox::toggled, this, &RestoreDialog::showChanges);
    resize(520, 440);
    showChanges();
}

int RestoreDialog::entry() const
{
    const QList<QListWidgetItem*> chosen = list->selectedItems();
    // A greyed entry cannot be chosen with the mouse, nor selected by anyone else.
    return chosen.size() == 1 && (chosen.first()->flags() & Qt::ItemIsEnabled)
               ? list->row(chosen.first())
               : -1;
}

bool RestoreDialog::calibration() const
{
    return calibrationBox->isChecked();
}

void RestoreDialog::showChanges()
{
    const int chosen = entry();
    const QVector<ops::Change> rows =
        chosen < 0 ? QVector<ops::Change>()
                   : ops::restoreChanges(entries[chosen], now, calibration());
    changes->setRowCount(rows.size());
    for (int i = 0; i < rows.size(); ++i)
        fillRow(changes, i, {rows[i].field, rows[i].now, rows[i].after});
    summary->setText(chosen < 0 ? QStringLiteral("Выберите запись.")
                     : rows.isEmpty() ? QStringLiteral("Датчик уже совпадает с записью.")
                                      : QString());
    buttons->button(QDialogButtonBox::Ok)->setEnabled(chosen >= 0);
}

CompareDialog::CompareDialog(const QVector<ops::CompareRow>& rows, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("compareDialog"));
    setWindowTitle(QStringLiteral("Сравнить с датчиками"));
    auto* layout = new QVBoxLayout(this);
    QTableWidget* t = table({QStringLiteral("Датчик"), QStringLiteral("Поле"),
                             QStringLiteral("В файле"), QStringLiteral("На датчике")},
                            QStringLiteral("differences"), this);
    t->setRowCount(rows.size());
    for (int i = 0; i < rows.size(); ++i)
        fillRow(t, i, {rows[i].sensor, rows[i].field, rows[i].inFile, rows[i].onSensor});
    layout->addWidget(t);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("Закрыть"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(640, 360);
}
