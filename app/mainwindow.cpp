#include "app/mainwindow.h"
#include "app/notices.h"
#include "devices/rowdelegate.h"
#include "link/modbus.h"
#include "ui_mainwindow.h"

#include <QDateTime>
#include <QFileInfo>
#include <QIntValidator>
#include <QKeyEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>

namespace {

const int baudRates[] = {115200, 57600, 38400, 19200, 9600, 4800, 2400, 1200};

void fillBaudRates(QComboBox* box)
{
    for (int rate : baudRates)
        box->addItem(QString::number(rate), rate);
}

} // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    ui->groupBox_11->setEnabled(true);

    // The document always ends with an empty paragraph after the last line.
    ui->consol->setMaximumBlockCount(monitorLineLimit + 1);
    openLog();

    searchComPort();
    connect(ui->Btn_Search, &QPushButton::clicked, this, &MainWindow::searchComPort);

    fillBaudRates(ui->BaudRateBox);
    ui->BaudRateBox->setCurrentIndex(0);
    connect(ui->cBtnClear, &QPushButton::clicked, ui->consol, &QPlainTextEdit::clear);
    connect(ui->BtnSetFile, &QToolButton::clicked, this, &MainWindow::SetFileReprog);
    connect(ui->BtnReadUst, &QPushButton::clicked, this, &MainWindow::readUst);
    connect(ui->BtnWriteUst, &QPushButton::clicked, this, &MainWindow::writeUst);
    connect(ui->BtnWriteAddr, &QPushButton::clicked, this, &MainWindow::writeAddr);
    connect(ui->BtnSetDefault, &QPushButton::clicked, this, &MainWindow::setDefault);

    qRegisterMetaType<int*>("int*");
    workerThread = new QThread;
    auto* worker = new ModBus;
    worker->moveToThread(workerThread);
    worker->port->moveToThread(workerThread);

    connect(worker, &ModBus::error_, this, &MainWindow::errorComPort);
    connect(worker, &ModBus::print, this, &MainWindow::Print);
    connect(workerThread, &QThread::started, worker, &ModBus::process_Port);
    connect(worker, &ModBus::finished_Port, workerThread, &QThread::quit);
    connect(workerThread, &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &ModBus::finished_Port, workerThread, &QObject::deleteLater);
    connect(this, &MainWindow::savesettings, worker, &ModBus::Write_Settings_Port);
    connect(this, &MainWindow::connectPort, worker, &ModBus::ConnectPort);
    connect(this, &MainWindow::disconnectPort, worker, &ModBus::DisconnectPort);
    connect(worker, &ModBus::outPort, this, &MainWindow::PrintRead);
    connect(worker, &ModBus::portLost, this, &MainWindow::portLost);
    connect(worker, &ModBus::portOpened, this, &MainWindow::portOpened);
    connect(this, &MainWindow::mb_read, worker, &ModBus::mb_read);
    connect(this, &MainWindow::mb_readCoil, worker, &ModBus::mb_readCoil);
    connect(this, &MainWindow::mb_write, worker, &ModBus::mb_write);
    connect(this, &MainWindow::mb_erasePage, worker, &ModBus::mb_erasePage);
    connect(this, &MainWindow::mb_goToLoader, worker, &ModBus::mb_goToLoader);
    connect(this, &MainWindow::mb_goToMainAppl, worker, &ModBus::mb_goToMainAppl);
    connect(this, &MainWindow::mb_readPotent, worker, &ModBus::mb_readPotent);
    connect(this, &MainWindow::mb_writePotent, worker, &ModBus::mb_writePotent);
    connect(worker, &ModBus::packetReady, this, &MainWindow::packetReady,
            Qt::BlockingQueuedConnection);

    workerThread->start();

    sendTimer = new QTimer(this);
    sendTimer->setInterval(100);
    connect(this, &MainWindow::startTimer, sendTimer, qOverload<>(&QTimer::start));
    connect(this, &MainWindow::stopTimer, sendTimer, &QTimer::stop);
    connect(sendTimer, &QTimer::timeout, this, &MainWindow::slotSendTimerOut);
    emit startTimer();

    addrValidator = new QIntValidator(1, 32);
    ustValidator = new QIntValidator(-30000, 30000);
    ui->lineEditAddrMB->setValidator(addrValidator);
    ui->lineEditAddrDevice->setValidator(addrValidator);
    ui->lineEditUstThreshold->setValidator(ustValidator);

    connect(ui->BtnReprog2, &QPushButton::clicked, this, &MainWindow::Reprog);
    ui->lineEditReprogFilePath->hide();
    ui->BtnSetFile->hide();

    for (const char* rate : {"115200", "38400", "9600"})
        ui->listWidgetSpeed->addItem(QString::fromLatin1(rate));

    fillBaudRates(ui->comboBoxSearchSpeed);
    ui->comboBoxSearchSpeed->setCurrentIndex(0);
    fillBaudRates(ui->comboBoxUstSpeed);
    ui->comboBoxUstSpeed->setCurrentIndex(-1);

    for (int addr = 1; addr <= 31; ++addr)
        ui->listWidgetAddr->addItem(QString::number(addr));

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
    answerReady = false;

    connect(ui->BtnRmDevice, &QPushButton::clicked, this, &MainWindow::setFlagRmDevice);
    connect(ui->actionAboutSensor, &QAction::triggered, this, &MainWindow::openHelpPdfFile);
    // From anywhere in the window, as desktop programs open their help.
    ui->actionAboutSensor->setShortcut(QKeySequence(Qt::Key_F1));
    connect(ui->actionAboutApplication, &QAction::triggered, this, &MainWindow::openMsgAboutAppl);

    searchProgress = new QProgressBar(this);
    searchProgress->setRange(0, 100);
    searchCancel = new QPushButton(QStringLiteral("Отмена"), this);
    connect(searchCancel, &QPushButton::clicked, this, &MainWindow::stopSearchDevice);
    ui->statusBar->addPermanentWidget(searchProgress, 0);
    ui->statusBar->addPermanentWidget(searchCancel, 0);
    ui->statusBar->hide();

    reprogFile = QStringLiteral("VEL_DUO300.bin");

    enableSensorButtons(false);

    flagRmDevice = false;
    flagAddDevice = false;
    tickCount = 0;
    ui->groupBox_12->hide();
    fitToDesktop();
}

MainWindow::~MainWindow()
{
    closing = true;
    sendTimer->stop();

    // Stop the worker in order: a transaction in progress gives up its attempts, and an answer
    // it is handing over is taken but not used (nothing waits for it any more), which releases
    // the worker blocked on that hand-over. Its last monitor lines still reach the log.
    workerThread->requestInterruption();
    workerThread->quit();
    while (!workerThread->wait(20))
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);

    delete searchCancel;
    delete searchProgress;
    delete addrValidator;
    delete ustValidator;
    delete sendTimer;
    logFile.close();
    ui->lineEditAddrMB->removeEventFilter(this);
    delete ui;
}

void MainWindow::openLog()
{
    logFile.setFileName(QStringLiteral("log.txt"));
    if (logFile.open(QIODevice::Append))
        appendToLog(sessionStartLine(QDateTime::currentDateTime()));
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
}
