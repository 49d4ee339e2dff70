#pragma once

#include "codec/device.h"
#include "codec/linefile.h"
#include "core/devices/registry.h"
#include "core/ops/operationhost.h"
#include "gui/lineturns.h"

#include <QByteArray>
#include <QFile>
#include <QMainWindow>
#include <QString>
#include <QVector>
#include <functional>
#include <memory>

class LineClient;
class LineOverview;
class SiteView;
class LinePoller;
class QComboBox;
class QDialog;
class QIntValidator;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTimer;

namespace ops {
struct Result;
class ReadLine;
} // namespace ops

struct UstForm;

namespace Ui {
class MainWindow;
}

// The window over the line client and the operations: it builds each operation's input from
// the form, runs it, and shows its outcome; as the operations' host it asks with its boxes,
// shows progress in the status bar and colours the list.
class MainWindow : public QMainWindow, public ops::OperationHost
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Read-only view of the known sensors, row i of the device list being record i.
    const QVector<DeviceVEL_DUO300>& deviceRecords() const { return devices.records(); }

    // Port monitor: the most recent lines it keeps, so that days of polling do not grow the
    // process; the log file keeps every line.
    static constexpr int monitorLineLimit = 5000;

    // Asks for the path of a line file to open, or to save when forSave; empty when the user
    // gave none. A file dialog unless replaced, as tests do to name their own files.
    std::function<QString(bool forSave)> chooseLineFile;
    // Asks where to save the commissioning report's PDF; a file dialog unless replaced.
    std::function<QString()> chooseReportFile;
    // How many files the "Файл" menu lists as opened or saved last.
    static constexpr int recentFileLimit = 5;
    // How the window brings back a sensor left in its loader.
    static const QString reflashWayOut;

signals:
    void startTimer();
    void stopTimer();

private slots:
    // Port monitor and log.
    void Print(QString prefix, QString data);
    // The worker's answer bytes, written through Print in hexadecimal.
    void PrintRead(QString prefix, QByteArray data);
    void errorComPort(QString prefix, QString data);

    // Serial port selection.
    void searchComPort();
    // Another port was chosen (in the box, or by a line file): the overview follows it.
    void portChosen();

    // Request handshake.
    bool permitCommunication();
    void checkError(DeviceVEL_DUO300* dev, int error);
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

    // Port recovery: the port of an adapter that came back is open again.
    void portOpened(QString name);

    // Device list.
    void setFlagRmDevice();
    void rmDevice();
    void setFlagAddDevice();
    void btnAddDevice();
    void addDevice(DeviceVEL_DUO300* dev);
    void updateDeviceList();
    void selectDevice();

    // The overview of the whole line, polled while it is open.
    void showLineOverview();
    // Every line of a site, from an MQTT broker; no port needed.
    void showSiteView();

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

    // Firmware reprogramming.
    void SetFileReprog();
    void Reprog();
    void lockForReprogramming();

    // The line file: the "Файл" menu.
    void openLine();
    void openRequested();
    void saveLine();
    void compareLine();
    void restoreSensor();
    // The commissioning report of the listed sensors or of a line file, read from them now.
    void lineReport();

private:
    // Asks the line client for the chosen port at the selected sensor's speed, by the window's
    // port sequence, when another job (the search, the line's poller, the line file's reading,
    // a restore) left it open for another, or anew when the user selected the sensor. Every
    // exchange of the window's with the selected sensor is preceded by it: the port is never
    // left as someone else opened it.
    void takePortBack(bool anew = false);
    // The record of the current row, or null.
    DeviceVEL_DUO300* selectedDevice();
    // Rebuilds the device list and puts the current row back.
    void rebuildListKeepingRow();
    // A modal message box; counts as a wait, so that nothing else of the window's starts
    // meanwhile. One with the single button Ok only informs: the overview's poller goes on
    // while it is open.
    int askUser(int icon, const QString& title, const QString& text, int buttons,
                int defaultButton = 0);
    // The box itself; an operation's boxes (ask()) always hold the line, the operation waits
    // for them whatever they say.
    int showBox(int icon, const QString& title, const QString& text, int buttons, int defaultButton,
                bool informs);
    // Shows why an operation was refused or failed, when it says so itself.
    void showRefusal(const ops::Result& result);
    // The manual at the chapter of this title, in the desktop's PDF viewer when it is one that
    // can be told a page; else the whole manual, as the help action opens it.
    void openManualAt(const QString& chapter);
    void enableSensorButtons(bool enable);
    // The three lock pairs differ in what they disable and whether they show the status bar.
    enum class Lock
    {
        AllViews,
        Search,
        Reset
    };
    void setLocked(Lock pair, bool locked);
    // Opens the log for appending and starts the session's line in it; when it cannot be
    // opened, the monitor says so.
    void openLog();
    // Enter in the manual addition's address field adds the sensor, as its button does.
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The user's own close during a flash asks first: the sensor would stay in its loader.
    void closeEvent(QCloseEvent* event) override;
    // Icon, monitor font and a size that holds every caption at the desktop's font size.
    void fitToDesktop();

    // The line file. Reads the sensors with the window locked as for a search, the selection
    // set aside meanwhile; false when the program is ending.
    bool readLine(ops::ReadLine& reader, const QVector<DeviceVEL_DUO300*>& devs);
    // The device list replaced with the file's sensors; false when the file was refused or the
    // user kept the list.
    bool openLineFile(const QString& path);
    // The file that compare and restore work with, and the top of the recent files.
    void keepLine(const QString& path, const linefile::Line& line);
    void rebuildRecentFiles();
    // An empty form: no sensor is selected.
    void clearSensorViews();
    // A dialog of the window's own; counts as a wait, as a message box does.
    int execDialog(QDialog& dialog);
    QString defaultLineFileChoice(bool forSave);
    QString defaultReportFileChoice();
    // The port, the window's place and the recent files, from and for the next run.
    void restoreSession();
    void saveSession() const;

    // The operations' host: the window's boxes and progress bar.
    int ask(const ops::Question& question) override;
    void progress(int value, int maximum) override;
    bool cancelled() override;
    void committed() override;
    // What the line tells of the sensors, besides the outcomes (checkError): the list and the
    // forms follow.
    void loaderChanged(DeviceVEL_DUO300* dev);
    void settingsChanged(DeviceVEL_DUO300* dev);
    void paramsChanged(DeviceVEL_DUO300* dev);
    void listChanged(int row);
    // What the window does when the running operation is confirmed.
    void (MainWindow::*onCommit)() = nullptr;

    // The settings form's values and captions.
    UstForm ustForm() const;
    // The lowest address the manual addition accepts (0 is the broadcast address); the highest
    // is enteredAddressMax.
    static constexpr int manualAddrMin = 1;

    // Locks the window and probes the listed addresses at the listed speeds; false when the
    // program is ending.
    bool runSearch();

    std::unique_ptr<Ui::MainWindow> ui;
    QTimer* sendTimer = nullptr;
    QString reprogFile; // firmware image, relative to the working directory
    SensorRegistry devices;
    QFile logFile;
    QIntValidator* addrValidator = nullptr;
    QIntValidator* ustValidator = nullptr;
    QProgressBar* searchProgress = nullptr;
    QPushButton* searchCancel = nullptr;
    int tickCount = 0;

    bool stopSearch = false; // Cancel was clicked: the running search probes no further
    bool flashing = false;   // a flash was confirmed and has not ended
    bool lineJob = false;    // the line file's reading runs: Cancel stops it without a box

    QString keptPath;        // the line file opened or saved last; empty when none
    linefile::Line keptLine; // its sensors
    QStringList recentFiles; // most recent first
    QList<QAction*> recentActions;
    QString requestedPath; // a recent file chosen, to be opened once nothing waits

    // The line and what refers to it: children of the window as its other objects are, held
    // here as well and declared so that each is destroyed before what it refers to (the
    // overview before the poller it drives, the poller before the line and the list).
    std::unique_ptr<LineClient> line;
    LineTurns turns;
    bool closing() const { return turns.closing(); } // nothing more is started or stored
    // What the polling tick serves, in this order: the device list's removal and addition.
    enum TickRank
    {
        removeRank,
        addRank
    };
    // The poller of the whole line and its overview, made when first opened. The poller takes
    // its turns between the window's own exchanges.
    std::unique_ptr<LinePoller> poller;
    std::unique_ptr<LineOverview> overview;
    SiteView* siteView = nullptr; // made when first opened

    // Port re-opening: the port is closed and opened again when the selected sensor changes,
    // not when the device list is merely rebuilt around the same record. The speed it is open
    // at is the line client's to tell.
    struct PortUse
    {
        int row = -1; // the row whose selection last ran the port sequence; -1: none since
    };
    PortUse portUse;
    // Rebuilds the device list, makes row current and shows it; the port sequence runs only
    // when the row holds another record than the one the port was last opened for.
    void rebuildDeviceList(int row);
    // Shows the selected record; a user's selection always runs the port sequence.
    void showSelection(bool rebuilt);
};
