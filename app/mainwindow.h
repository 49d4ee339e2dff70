#pragma once

#include "reprog/firmwareimage.h"
#include "sensor/device.h"

#include <QByteArray>
#include <QFile>
#include <QMainWindow>
#include <QQueue>
#include <QString>
#include <QVector>

class QComboBox;
class QEventLoop;
class QIntValidator;
class QListWidget;
class QProgressBar;
class QPushButton;
class QThread;
class QTimer;

namespace calibration {
enum class Phase;
}

struct UstForm;

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Read-only view of the known sensors, row i of the device list being record i.
    const QVector<DeviceVEL_DUO300>& deviceRecords() const { return devices; }

    // Port monitor: the most recent lines it keeps, so that days of polling do not grow the
    // process; the log file keeps every line.
    static constexpr int monitorLineLimit = 5000;

signals:
    void savesettings(QString name, int baudrate, int DataBits, int Parity, int StopBits,
                      int FlowControl);
    void connectPort();
    void disconnectPort();
    void mb_read(quint8 addr, quint16 reg_addr, quint16 reg_count, int attempNumber = 1,
                 int* errCode = nullptr);
    void mb_readCoil(quint8 addr, quint16 reg_addr, quint16 reg_count, int attempNumber = 1);
    void mb_write(quint8 addr, quint16 reg_addr, quint16 reg_count, QByteArray data,
                  int attempNumber = 1);
    void mb_erasePage(quint8 addr, quint8 startPage, quint8 countPage, int attempNumber = 1);
    void mb_goToLoader(quint8 addr, int attempNumber = 1);
    void mb_goToMainAppl(quint8 addr, int attempNumber = 1);
    void mb_readPotent(quint8 addr, int attempNumber = 1);
    void mb_writePotent(quint8 addr, quint8 A, int attempNumber = 1);
    void startTimer();
    void stopTimer();

private slots:
    // Port monitor and log.
    void Print(QString prefix, QString data);
    void errorComPort(QString prefix, QString data);
    void PrintRead(QString prefix, QByteArray data);

    // Serial port selection.
    void searchComPort();

    // Request handshake.
    bool permitCommunication();
    void checkError(DeviceVEL_DUO300* dev, int error);
    void packetReady(QByteArray pac, int error);
    bool waitAnswer();
    void DisableAllViewAction();
    void EnableAllViewAction();
    void DisableAllViewAction2();
    void EnableAllViewAction2();
    void DisableAllViewAction3();
    void EnableAllViewAction3();

    // Settings.
    void readUst();
    void ReadUst(DeviceVEL_DUO300* dev, int countTry);
    void writeUst();
    void WriteUst(DeviceVEL_DUO300* dev);
    void writeAddr();
    void WriteAddr(DeviceVEL_DUO300* dev);
    void setDefault();
    void setDevName(QString ust);
    void setMBSpeed(int ust);
    void setThreshold(QString ust);
    void setViewSettings(DeviceVEL_DUO300* dev);

    // Polling and display.
    void slotSendTimerOut();
    void readCoil();
    void ReadParam(DeviceVEL_DUO300* dev, int countTry);
    void setViewParam(DeviceVEL_DUO300* dev);

    // Port recovery: the worker reports the adapter gone and the port open again.
    void portLost(QString name);
    void portOpened(QString name);

    // Device list.
    void setFlagRmDevice();
    void rmDevice();
    void setFlagAddDevice();
    void btnAddDevice();
    void addDevice(DeviceVEL_DUO300* dev);
    void updateDeviceList();
    void selectDevice();

    // About box and help manual.
    void openMsgAboutAppl();
    void openHelpPdfFile();

    // Calibration of a voltage sensor; connected by name when the form is set up.
    void on_BtnSetZero_clicked();
    void on_BtnSetNom_clicked();

    // Automatic search and the speed and address lists it scans.
    void sortListWidget(QListWidget* lw, Qt::SortOrder dir);
    void sortComboBox(QComboBox* cb, Qt::SortOrder dir);
    void changeSelectListAddr();
    void changeSelectListSpeed();
    void addSpeed();
    void rmSpeed();
    void addAddr();
    void rmAddr();
    void autoSearchDevice();
    void stopSearchDevice();

    // Firmware reprogramming: the steps act on the record the run took when it started.
    void SetFileReprog();
    void Reprog();
    void WriteLoaderCode();
    void goToLoader();
    void erasesFlash();
    bool ReprogDevice(quint8 addr, const firmware::UploadPlan& plan);
    bool goToMainAppl();

private:
    using Action = void (MainWindow::*)();

    // Marks an operation in progress; when the outermost one ends, the user actions that came
    // during its waits run, one after the other.
    class Operation
    {
    public:
        explicit Operation(MainWindow* window) : w(window) { ++w->operations; }
        ~Operation()
        {
            if (--w->operations == 0)
                w->runDeferred();
        }
        Operation(const Operation&) = delete;
        Operation& operator=(const Operation&) = delete;

    private:
        MainWindow* w;
    };

    // Closes and re-opens the port at the given speed, pacing the worker with short pauses.
    void reopenPort(int baudrate);
    void reopenPortNamed(const QString& name, int baudrate);
    // The record of the current row, or null.
    DeviceVEL_DUO300* selectedDevice();
    // A write goes over the sensor's own settings image: when the record has none, it is read
    // first. False when that read fails too (after a warning titled as the write's boxes) or
    // the program is ending.
    bool haveSensorSettings(DeviceVEL_DUO300* dev, const QString& title);
    // Writes a settings block to the sensor and settles the address the record goes on with;
    // false when the wait was cut short by the end of the program.
    bool writeBlockSettlingAddress(DeviceVEL_DUO300* dev, const UstBlock& block, int attempts);
    // Rebuilds the device list and puts the current row back.
    void rebuildListKeepingRow();
    // A modal message box; counts as a wait, so that nothing else starts meanwhile. Without a
    // default button given, the box chooses its own.
    int askUser(int icon, const QString& title, const QString& text, int buttons,
                int defaultButton = 0);
    // True when a wait is in progress: the action is then queued to run after the operation.
    bool deferWhileWaiting(Action action);
    void runDeferred();
    void enableSensorButtons(bool enable);
    // The three lock pairs differ in what they disable and whether they show the status bar.
    enum class Lock
    {
        AllViews,
        Search,
        Reset
    };
    void setLocked(Lock pair, bool locked);
    // One line to the log file only, when it is open.
    void appendToLog(const QString& line);
    // Opens the log for appending and starts the session's line in it; when it cannot be
    // opened, the monitor says so.
    void openLog();
    // Enter in the manual addition's address field adds the sensor, as its button does.
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Icon, monitor font and a size that holds every caption at the desktop's font size.
    void fitToDesktop();

    // One phase of the gain adjustment on dev; false when the program is ending.
    bool adjustGain(DeviceVEL_DUO300* dev, calibration::Phase phase);

    // Operations work on the record they took when they started, never on the selection.
    // The row that shows a record of the list, or -1.
    int rowOf(const DeviceVEL_DUO300* dev) const;
    // Reads coil 0 of the given sensor (the poll's step).
    void readCoilOf(DeviceVEL_DUO300* dev);
    // The settings form's values and captions.
    UstForm ustForm() const;
    // The addresses the manual addition accepts (0 is the broadcast address).
    static constexpr int manualAddrMin = 1;
    static constexpr int manualAddrMax = 32;
    // Re-opens the port that its adapter took away, at the given speed; the poll calls it, so
    // it runs at most once a second while the port is lost.
    void recoverLostPort(int baudrate);
    QString lostPort; // the port whose adapter went away, until it is open again

    // Locks the window and probes the listed addresses at the listed speeds; false when the
    // program is ending.
    bool runSearch();

    // The reprogramming steps after the window is locked, on reprogDevice.
    void reprogram(const firmware::UploadPlan& plan);
    // A "Ошибка" box for a failed reprogramming step: the step's text and the error's.
    void reprogFailure(const QString& what, int error);
    // Waits ms milliseconds as a wait of an operation; false when the program is ending.
    bool pauseFor(int ms);

    Ui::MainWindow* ui;
    QTimer* sendTimer = nullptr;
    QString reprogFile; // firmware image, relative to the working directory
    QVector<DeviceVEL_DUO300> devices;
    QFile logFile;
    QIntValidator* addrValidator = nullptr;
    QIntValidator* ustValidator = nullptr;
    QProgressBar* searchProgress = nullptr;
    QPushButton* searchCancel = nullptr;
    bool answerReady = false;
    QByteArray answer;
    int answerError = 0;
    bool flagRmDevice = false;
    bool flagAddDevice = false;
    int tickCount = 0;

    bool stopSearch = false; // Cancel was clicked: the running search probes no further

    QThread* workerThread = nullptr; // kept to stop the worker in order at exit
    // Target of the address probe's error code: the worker may write it after a wait was cut
    // short by the end of the program, so it must outlive any one operation.
    int probeError = 0;
    QEventLoop* waitLoop = nullptr;
    int nestedLoops = 0;     // waits and questions in progress
    int operations = 0;      // operations in progress
    bool draining = false;   // deferred actions are being run
    bool closing = false;    // the program is ending: nothing more is started or stored
    QQueue<Action> deferred; // user actions that came during a wait

    // Port re-opening: the port is closed and opened again when the selected sensor changes,
    // not when the device list is merely rebuilt around the same record.
    struct PortUse
    {
        int row = -1; // the row whose selection last ran the port sequence; -1: none since
        int baudrate = 0;
        // A rebuild that lands on this row at this speed leaves the port as it is.
        bool keeps(int currentRow, int rate) const
        {
            return row >= 0 && row == currentRow && baudrate == rate;
        }
    };
    PortUse portUse;
    // Rebuilds the device list, makes row current and shows it; the port sequence runs only
    // when the row holds another record than the one the port was last opened for.
    void rebuildDeviceList(int row);
    // Shows the selected record; a user's selection always runs the port sequence.
    void showSelection(bool rebuilt);

    // The record a reprogramming run took when it started; null outside a run.
    DeviceVEL_DUO300* reprogDevice = nullptr;
};
