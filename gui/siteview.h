#pragma once

#include "codec/readings.h"

#include <QFile>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSortFilterProxyModel;
class QSplitter;
class QTreeWidget;
class QSpinBox;
class QTimer;
class QTreeView;
class SiteMonitor;
class TrendPlot;

namespace site {
class LineTree;
}

// "Обзор площадки": every line published to an MQTT broker under a topic filter, each with
// its sensors in the line overview's columns and colours, and the trends of the ticked ones.
// It only subscribes: it publishes nothing and talks to no serial port. The broker's address,
// TLS, CA file, user name and topic filter are remembered between runs; the password is
// asked when needed and kept in memory only.
class SiteView : public QWidget
{
    Q_OBJECT
public:
    explicit SiteView(QWidget* parent = nullptr);

    // Asks for the broker's password; a null string when the user cancels.
    std::function<QString(const QString& user)> askPassword;
    // Asks where the CSV goes and with which separators; empty when the user cancels.
    std::function<QString(csv::Style* style)> chooseCsvFile;

    const SiteMonitor& monitor() const { return *lines; }
    // Connects with the form's settings and remembers them; asks for the password first when
    // a user name is given and none is known (or the broker refused the last attempt).
    void connectToBroker();
    void disconnectFromBroker();

signals:
    // F1: the manual, at the site view's chapter.
    void helpRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void showConnection();
    void showTrends();
    void refresh();
    void exportCsv();
    void remember() const;
    void rememberLines(const QSet<QString>& changed);
    void hideCurrentLine();
    void openJournalFile();
    QString completenessSummary() const;
    void addToJournal(const QString& line, const QString& event);

    SiteMonitor* lines = nullptr;
    site::LineTree* tree = nullptr;
    QSortFilterProxyModel* sorted = nullptr;
    QTreeView* view = nullptr;
    TrendPlot* plot = nullptr;
    QSplitter* split = nullptr;
    QTreeWidget* journal = nullptr;
    QFile journalFile;
    QStringList remembered; // the lines seen, remembered between runs
    QByteArray headerState;
    QTimer* clock = nullptr;
    int ticks = 0;
    bool fitted = false;
    QSet<QString> folded; // the lines the user folded, kept folded when the rows are made anew

    QLineEdit* host = nullptr;
    QSpinBox* port = nullptr;
    QCheckBox* tls = nullptr;
    QLineEdit* caFile = nullptr;
    QLineEdit* user = nullptr;
    QLineEdit* topics = nullptr;
    QPushButton* connectButton = nullptr;
    QPushButton* disconnectButton = nullptr;
    QLabel* status = nullptr;

    QString password;        // in memory only; null until asked
    QString shownBroker;     // the broker's address as the status names it
    bool wasRefused = false; // the broker refused since the password was last asked
};
