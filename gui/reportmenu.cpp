// "Файл" → «Протокол наладки…»: the commissioning report of the listed sensors, or of a line
// file, read from the sensors now, shown in a print preview, printed or saved as a PDF.
#include "core/link/lineclient.h"
#include "core/ops/linereport.h"
#include "gui/buildinfo.h"
#include "gui/mainwindow.h"
#include "gui/remembered.h"
#include "print/reportdocument.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPushButton>
#include <QSysInfo>
#include <QToolBar>

namespace {

const QString reportTitle = QStringLiteral("Протокол наладки");
const QString siteKey = QStringLiteral("report/site");
const QString engineerKey = QStringLiteral("report/engineer");

// The names the report's header gives: the site and the engineer as last given, the line's
// name as the file or the port names it.
class ReportNamesDialog : public QDialog
{
public:
    ReportNamesDialog(const QString& line, QWidget* parent) : QDialog(parent)
    {
        setObjectName(QStringLiteral("reportNamesDialog"));
        setWindowTitle(reportTitle);
        const Remembered settings;
        site = field(QStringLiteral("site"), settings.value(siteKey).toString());
        lineName = field(QStringLiteral("line"), line);
        engineer = field(QStringLiteral("engineer"), settings.value(engineerKey).toString());
        auto* form = new QFormLayout(this);
        form->addRow(QStringLiteral("Объект:"), site);
        form->addRow(QStringLiteral("Линия:"), lineName);
        form->addRow(QStringLiteral("Инженер:"), engineer);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Считать датчики"));
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        form->addRow(buttons);
    }

    void fill(linereport::Header* header) const
    {
        header->site = site->text().trimmed();
        header->line = lineName->text().trimmed();
        header->engineer = engineer->text().trimmed();
        Remembered settings;
        settings.setValue(siteKey, header->site);
        settings.setValue(engineerKey, header->engineer);
    }

private:
    QLineEdit* field(const QString& name, const QString& text)
    {
        auto* edit = new QLineEdit(text, this);
        edit->setObjectName(name);
        edit->setMinimumWidth(320);
        return edit;
    }

    QLineEdit* site;
    QLineEdit* lineName;
    QLineEdit* engineer;
};

QString withPdfSuffix(const QString& path)
{
    if (path.isEmpty() || path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
        return path;
    return path + QLatin1String(".pdf");
}

} // namespace

void MainWindow::lineReport()
{
    const LineTurns::Turn turn = turns.take([this] { lineReport(); });
    if (!turn)
        return;
    if (ui->PortNameBox->currentText().isEmpty()) {
        askUser(QMessageBox::Warning, reportTitle,
                QStringLiteral("Не выбран последовательный порт."), QMessageBox::Ok);
        return;
    }

    // The listed sensors, each set against its entry in the line file opened or saved last;
    // or the sensors of a line file chosen now.
    bool fromList = !devices.isEmpty();
    if (fromList) {
        QMessageBox question(QMessageBox::Question, reportTitle,
                             QStringLiteral("Протокол каких датчиков составить?"),
                             QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
        question.button(QMessageBox::Yes)->setText(QStringLiteral("Из списка датчиков"));
        question.button(QMessageBox::No)->setText(QStringLiteral("Из файла линии…"));
        question.setDefaultButton(QMessageBox::Yes);
        const LineTurns::Asking asking(turns);
        const int answer = question.exec();
        if (answer == QMessageBox::Cancel)
            return;
        fromList = answer == QMessageBox::Yes;
    }
    linefile::Line file;
    QString fileName;
    if (fromList) {
        fileName = keptPath;
        file.port = keptLine.port;
        for (int row = 0; row < devices.size(); ++row) {
            const DeviceVEL_DUO300& dev = devices[row];
            linefile::Sensor entry;
            entry.address = dev.addr;
            entry.speed = dev.baudrate;
            for (const linefile::Sensor& kept : keptLine.sensors) {
                if (kept.address == dev.addr && kept.speed == dev.baudrate)
                    entry = kept;
            }
            file.sensors.append(entry);
        }
    } else {
        fileName = chooseLineFile(false);
        if (fileName.isEmpty())
            return;
        const linefile::ReadResult read = linefile::readFile(fileName, linefile::Mode::FileOrPlan);
        if (!read.ok()) {
            askUser(QMessageBox::Warning, reportTitle, read.refusal, QMessageBox::Ok);
            return;
        }
        file = read.line;
    }

    linereport::Header header;
    const QString port = ui->PortNameBox->currentText();
    ReportNamesDialog names(file.port.isEmpty() ? port : file.port, this);
    if (execDialog(names) != QDialog::Accepted)
        return;
    names.fill(&header);
    header.program = QStringLiteral("%1 %2").arg(QLatin1String(buildinfo::programName),
                                                 QLatin1String(buildinfo::version));
    header.host = QSysInfo::machineHostName();
    header.port = port;

    // Read only, with the window locked as for the line file's reading.
    stopSearch = false;
    lineJob = true;
    const int row = ui->listWidgetDevices->currentRow();
    DisableAllViewAction2();
    ui->listWidgetDevices->setCurrentRow(-1);
    linereport::ReadSensors reader(*line, *this);
    const ops::Result result = reader.run(port, file.sensors);
    lineJob = false;
    if (result.kind == ops::Result::Ending || closing())
        return;
    EnableAllViewAction2();
    rebuildDeviceList(row);
    if (!result.done() || stopSearch) {
        stopSearch = false;
        return;
    }
    header.at = QDateTime::currentDateTime();
    const linereport::Report report = linereport::make(header, fileName, file, reader.readings);

    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(linereport::title);
    printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                      QMarginsF(12, 12, 12, 10), QPageLayout::Millimeter));
    QPrintPreviewDialog preview(&printer, this);
    preview.setObjectName(QStringLiteral("reportPreview"));
    preview.setWindowTitle(linereport::title);
    connect(&preview, &QPrintPreviewDialog::paintRequested, this,
            [&report](QPrinter* to) { reportprint::draw(report, to); });
    auto* save = new QAction(QStringLiteral("Сохранить PDF…"), &preview);
    save->setObjectName(QStringLiteral("savePdf"));
    connect(save, &QAction::triggered, this, [this, &report] {
        const QString path = withPdfSuffix(chooseReportFile());
        if (path.isEmpty())
            return;
        const QString fault = reportprint::savePdf(report, path);
        askUser(fault.isEmpty() ? QMessageBox::Information : QMessageBox::Warning, reportTitle,
                fault.isEmpty() ? QStringLiteral("Протокол записан: %1").arg(path) : fault,
                QMessageBox::Ok);
    });
    if (auto* bar = preview.findChild<QToolBar*>())
        bar->addAction(save);
    execDialog(preview);
}

QString MainWindow::defaultReportFileChoice()
{
    const LineTurns::Asking asking(turns);
    const QString folder = keptPath.isEmpty() ? QString() : QFileInfo(keptPath).path();
    return QFileDialog::getSaveFileName(this, reportTitle, folder,
                                        QStringLiteral("PDF (*.pdf);;Все файлы (*)"));
}
