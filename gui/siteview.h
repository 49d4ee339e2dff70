#pragma once

#include "codec/readings.h"

#include <QFile>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>

class QSortFilterProxyModel;
class QSplitter;
class QTabWidget;
class QTimer;
class QTreeView;
class QTreeWidget;
class SiteControls;
class SiteMonitor;
class TrendPlot;

namespace site {
class LineTree;
}

// "Обзор площадки": every line published to an MQTT broker under a topic filter, each with
// its sensors in the line overview's columns and colours, and the trends of the ticked ones.
// It only subscribes: it publishes nothing and talks to no serial port. The broker's address,
// TLS, CA file, user name and topic filter are remembered between runs; the password is
// asked when needed and kept in memory only. The lines seen and the line files loaded are the
// lines the site should have: one not on the broker is listed as missing.
class SiteView : public QWidget
{
    Q_OBJECT
public:
    explicit SiteView(QWidget* parent = nullptr);

    // Asks for the broker's password; a null string when the user cancels.
    std::function<QString(const QString& user)> askPassword;
    // Asks where the CSV goes and with which separators; empty when the user cancels.
    std::function<QString(csv::Style* style)> chooseCsvFile;
    // Asks for line files to load as lines the site should have; empty when the user cancels.
    std::function<QStringList()> chooseLineFiles;

    const SiteMonitor& monitor() const { return *lines; }
    // Connects with the form's settings and remembers them; asks for the password first when
    // a user name is given and none is known (or the broker refused the last attempt).
    void connectToBroker();
    void disconnectFromBroker();

signals:
    // F1: the manual, at the chapter of this title.
    void helpRequested(const QString& chapter);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // The constructor's steps.
    void makeAsks();
    void makeControls();
    void makeLineView();
    QTabWidget* makeTrendsAndJournal();
    void layOut(QWidget* below);
    void makeShortcuts();
    void followMonitor();
    void restore();

    void showConnection();
    void showTrends();
    void refresh();
    void exportCsv();
    void rememberLines(const QSet<QString>& changed);
    void hideCurrentLine();
    void loadLineFiles();
    void openJournalFile();
    QString completenessSummary() const;
    void addToJournal(const QString& line, const QString& event);

    SiteMonitor* lines = nullptr;
    SiteControls* controls = nullptr;
    site::LineTree* tree = nullptr;
    QSortFilterProxyModel* sorted = nullptr;
    QTreeView* view = nullptr;
    TrendPlot* plot = nullptr;
    QSplitter* split = nullptr;
    QTreeWidget* journal = nullptr;
    QFile journalFile;
    QStringList remembered;  // the lines seen, remembered between runs
    QStringList loadedFiles; // the line files loaded, by their paths, remembered between runs
    QByteArray headerState;
    QTimer* clock = nullptr;
    int ticks = 0;
    bool fitted = false;
    QSet<QString> folded; // the lines the user folded, kept folded when the rows are made anew

    QString password;        // in memory only; null until asked
    QString shownBroker;     // the broker's address as the status names it
    bool wasRefused = false; // the broker refused since the password was last asked
};
