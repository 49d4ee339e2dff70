#include "gui/mainwindow.h"
#include "core/devices/searchplan.h"
#include "core/link/lineclient.h"
#include "core/link/monitorlog.h"
#include "core/ops/linepoller.h"
#include "core/sensor/ustform.h"
#include "gui/notices.h"
#include "gui/overview.h"
#include "gui/rowdelegate.h"
#include "gui/siteview.h"
#include "ui_mainwindow.h"

#include <QDateTime>
#include <QFileInfo>
#include <QIntValidator>
#include <QKeyEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>

namespace {

void fillBaudRates(QComboBox* box)
{
    for (int rate : listedSpeeds)
        box->addItem(QString::number(rate), rate);
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), ui(new Ui::MainWindow), line(std::make_unique<LineClient>(this)),
      turns(*line)
{
    ui->setupUi(this);
    ui->groupBox_11->setEnabled(true);

    // The document always ends with an empty paragraph after the last line.
    ui->consol->setMaximumBlockCount(monitorLineLimit + 1);
    openLog();

    searchComPort();
    connect(ui->Btn_Search, &QPushButton::clicked, this, &MainWindow::searchComPort);
    connect(ui->PortNameBox, &QComboBox::currentTextChanged, this, &MainWindow::portChosen);

    fillBaudRates(ui->BaudRateBox);
    ui->BaudRateBox->setCurrentIndex(0);
    connect(ui->cBtnClear, &QPushButton::clicked, ui->consol, &QPlainTextEdit::clear);
    connect(ui->BtnSetFile, &QToolButton::clicked, this, &MainWindow::SetFileReprog);
    connect(ui->BtnReadUst, &QPushButton::clicked, this, &MainWindow::readUst);
    connect(ui->BtnWriteUst, &QPushButton::clicked, this, &MainWindow::writeUst);
    connect(ui->BtnWriteAddr, &QPushButton::clicked, this, &MainWindow::writeAddr);
    connect(ui->BtnSetDefault, &QPushButton::clicked, this, &MainWindow::setDefault);

    connect(line.get(), &LineClient::portError, this, &MainWindow::errorComPort);
    connect(line.get(), &LineClient::print, this, &MainWindow::Print);
    connect(line.get(), &LineClient::outPort, this, &MainWindow::PrintRead);
    connect(line.get(), &LineClient::portOpened, this, &MainWindow::portOpened);
    // Whatever the port was open for, it is now open for the speed of this sequence.
    connect(line.get(), &LineClient::reopened, this, [this] { portUse = PortUse(); });
    // What the operations on the line tell of the sensors: the list and the forms show it.
    connect(line.get(), &LineClient::outcome, this, &MainWindow::checkError);
    connect(line.get(), &LineClient::loaderChanged, this, &MainWindow::loaderChanged);
    connect(line.get(), &LineClient::settingsChanged, this, &MainWindow::settingsChanged);
    connect(line.get(), &LineClient::paramsChanged, this, &MainWindow::paramsChanged);
    connect(line.get(), &LineClient::listChanged, this, &MainWindow::listChanged);

    sendTimer = new QTimer(this);
    sendTimer->setInterval(100);
    connect(this, &MainWindow::startTimer, sendTimer, qOverload<>(&QTimer::start));
    connect(this, &MainWindow::stopTimer, sendTimer, &QTimer::stop);
    connect(sendTimer, &QTimer::timeout, this, &MainWindow::slotSendTimerOut);
    emit startTimer();

    addrValidator = new QIntValidator(1, enteredAddressMax, this);
    ustValidator = new QIntValidator(thresholdMin, thresholdMax, this);
    ui->lineEditAddrMB->setValidator(addrValidator);
    ui->lineEditAddrDevice->setValidator(addrValidator);
    ui->lineEditUstThreshold->setValidator(ustValidator);

    connect(ui->BtnReprog2, &QPushButton::clicked, this, &MainWindow::Reprog);
    ui->lineEditReprogFilePath->hide();
    ui->BtnSetFile->hide();

    ui->listWidgetSpeed->addItems(defaultSearchSpeeds());

    fillBaudRates(ui->comboBoxSearchSpeed);
    ui->comboBoxSearchSpeed->setCurrentIndex(0);
    fillBaudRates(ui->comboBoxUstSpeed);
    ui->comboBoxUstSpeed->setCurrentIndex(-1);

    ui->listWidgetAddr->addItems(defaultSearchAddresses());

    connect(ui->btnAddSpeed, &QPushButton::clicked, this, &MainWindow::addSpeed);
    connect(ui->btnAddAddr, &QPushButton::clicked, this, &MainWindow::addAddr);
    connect(ui->btnRmSpeed, &QPushButton::clicked, this, &MainWindow::rmSpeed);
    connect(ui->btnRmAddr, &QPushButton::clicked, this, &MainWindow::rmAddr);
    connect(ui->BtnAutoSearch, &QPushButton::clicked, this, &MainWindow::autoSearchDevice);
    connect(ui->btnAddDevice, &QPushButton::clicked, this, &MainWindow::setFlagAddDevice);
    ui->lineEditAddrMB->installEventFilter(this);
    connect(ui->listWidgetDevices, &QListWidget::itemSelectionChanged, this,
            &MainWindow::selectDevice);
    connect(ui->listWidgetAddr, &QListWidget::itemSelectionChanged, this,
            &MainWindow::changeSelectListAddr);
    connect(ui->listWidgetSpeed, &QListWidget::itemSelectionChanged, this,
            &MainWindow::changeSelectListSpeed);
    // A right click acts at once, without a menu.
    ui->listWidgetDevices->setContextMenuPolicy(Qt::CustomContextMenu);
    ui->listWidgetDevices->setItemDelegate(new DeviceRowDelegate(ui->listWidgetDevices));
    connect(ui->listWidgetDevices, &QWidget::customContextMenuRequested, this,
            &MainWindow::setFlagRmDevice);
    ui->listWidgetSpeed->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->listWidgetSpeed, &QWidget::customContextMenuRequested, this, &MainWindow::rmSpeed);
    ui->listWidgetAddr->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->listWidgetAddr, &QWidget::customContextMenuRequested, this, &MainWindow::rmAddr);

    ui->listWidgetDevices->setCurrentRow(-1);
    ui->btnRmAddr->setEnabled(false);
    ui->btnRmSpeed->setEnabled(false);

    connect(ui->BtnRmDevice, &QPushButton::clicked, this, &MainWindow::setFlagRmDevice);
    connect(ui->actionAboutSensor, &QAction::triggered, this, &MainWindow::openHelpPdfFile);
    // From anywhere in the window, as desktop programs open their help.
    ui->actionAboutSensor->setShortcut(QKeySequence(Qt::Key_F1));
    connect(ui->actionAboutApplication, &QAction::triggered, this, &MainWindow::openMsgAboutAppl);
    connect(ui->actionLineOverview, &QAction::triggered, this, &MainWindow::showLineOverview);
    connect(ui->actionSiteView, &QAction::triggered, this, &MainWindow::showSiteView);
    // F10 opens the menus from the keyboard, as Alt does with the letters underlined.
    auto* menus = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(menus, &QShortcut::activated, this,
            [this] { menuBar()->setActiveAction(ui->menuFile->menuAction()); });

    searchProgress = new QProgressBar(this);
    searchProgress->setRange(0, 100);
    searchCancel = new QPushButton(QStringLiteral("Отмена"), this);
    connect(searchCancel, &QPushButton::clicked, this, &MainWindow::stopSearchDevice);
    ui->statusBar->addPermanentWidget(searchProgress, 0);
    ui->statusBar->addPermanentWidget(searchCancel, 0);
    ui->statusBar->hide();

    reprogFile = QStringLiteral("VEL_DUO300.bin");

    enableSensorButtons(false);

    tickCount = 0;
    ui->groupBox_12->hide();
    fitToDesktop();

    chooseLineFile = [this](bool forSave) { return defaultLineFileChoice(forSave); };
    chooseReportFile = [this] { return defaultReportFileChoice(); };
    connect(ui->actionOpenLine, &QAction::triggered, this, &MainWindow::openLine);
    connect(ui->actionSaveLine, &QAction::triggered, this, &MainWindow::saveLine);
    connect(ui->actionCompareLine, &QAction::triggered, this, &MainWindow::compareLine);
    connect(ui->actionRestoreSensor, &QAction::triggered, this, &MainWindow::restoreSensor);
    connect(ui->actionLineReport, &QAction::triggered, this, &MainWindow::lineReport);
    connect(ui->actionQuit, &QAction::triggered, this, &QWidget::close);
    // Compare needs a file opened or saved first.
    ui->actionCompareLine->setEnabled(false);
    restoreSession();
    // A place remembered at another font size must still hold every caption.
    resize(size().expandedTo(sizeHint()));
}

MainWindow::~MainWindow()
{
    turns.close();
    sendTimer->stop();
    saveSession();
    // Each before what it refers to: the overview drives the poller, the poller uses the line.
    // The line goes while the window is whole: it stops its worker in order, and its last
    // monitor lines still reach the monitor and the log.
    overview.reset();
    poller.reset();
    line.reset();
    logFile.close();
    ui->lineEditAddrMB->removeEventFilter(this);
}

void MainWindow::openLog()
{
    logFile.setFileName(QStringLiteral("log.txt"));
    if (logFile.open(QIODevice::Append))
        appendLogLine(logFile, sessionStartLine(QDateTime::currentDateTime()));
    else
        Print(QStringLiteral("Warning: "),
              logUnavailableText(QFileInfo(logFile).absoluteFilePath(), logFile.errorString()));
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    // Whatever the field holds: the button's own check refuses an address out of range, where
    // the field's validator would let Enter pass without a word.
    if (watched == ui->lineEditAddrMB && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            ui->btnAddDevice->click();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::enableSensorButtons(bool enable)
{
    for (QPushButton* button :
         {ui->BtnReadUst, ui->BtnWriteUst, ui->BtnReprog2, ui->BtnSetZero, ui->BtnSetNom,
          ui->BtnRmDevice, ui->BtnWriteAddr, ui->BtnSetDefault})
        button->setEnabled(enable);
    ui->actionRestoreSensor->setEnabled(enable);
}

void MainWindow::showLineOverview()
{
    if (!overview) {
        poller = std::make_unique<LinePoller>(*line, *this, devices, this);
        poller->setBusy([this] { return turns.taken(); });
        // User actions that came during the poller's exchange run as soon as it has ended.
        connect(
            poller.get(), &LinePoller::reading, this, [this] { turns.runQueued(); },
            Qt::QueuedConnection);
        overview = std::make_unique<LineOverview>(
            poller.get(), devices, [this] { return ui->PortNameBox->currentText(); }, this);
        // The sensor chosen in the overview is shown at once: its live values, the window in
        // front.
        connect(overview.get(), &LineOverview::sensorChosen, this, [this](int row) {
            ui->listWidgetDevices->setCurrentRow(row);
            ui->tabWidget->setCurrentWidget(ui->tab);
            raise();
            activateWindow();
        });
    }
    overview->show();
    overview->raise();
    overview->activateWindow();
}

void MainWindow::showSiteView()
{
    if (!siteView) {
        siteView = new SiteView(this);
        connect(siteView, &SiteView::helpRequested, this, &MainWindow::openManualAt);
    }
    siteView->show();
    siteView->raise();
    siteView->activateWindow();
}
