#include "gui/siteview.h"
#include "codec/brokerurl.h"
#include "codec/linefile.h"
#include "codec/sitepayloads.h"
#include "core/devices/mqttclient.h"
#include "core/devices/sitemonitor.h"
#include "gui/csvexport.h"
#include "gui/remembered.h"
#include "gui/sitecontrols.h"
#include "gui/sitemodel.h"
#include "gui/trendplot.h"

#include <QAction>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <map>
#include <set>
#include <tuple>

namespace {

const QString title = QStringLiteral("Обзор площадки");
// The journal in the window holds the latest entries; the file keeps them all.
constexpr int journalRows = 2000;

QString keyText(const site::LineTree::Key& key)
{
    return QStringLiteral("%1|%2|%3")
        .arg(std::get<0>(key))
        .arg(std::get<1>(key))
        .arg(std::get<2>(key));
}

} // namespace

SiteView::SiteView(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(title);
    lines = new SiteMonitor(this);
    makeAsks();
    makeControls();
    makeLineView();
    layOut(makeTrendsAndJournal());
    makeShortcuts();
    followMonitor();
    openJournalFile();
    restore();
    showConnection();
}

void SiteView::makeAsks()
{
    askPassword = [this](const QString& name) {
        bool ok = false;
        const QString text = QInputDialog::getText(
            this, title, QStringLiteral("Пароль пользователя «%1» на брокере:").arg(name),
            QLineEdit::Password, QString(), &ok);
        return ok ? text : QString();
    };
    chooseCsvFile = [this](csv::Style* style) {
        const QString name =
            QStringLiteral("site-readings-%1.csv")
                .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss")));
        const QString folder = Remembered().value(QStringLiteral("site/exportFolder")).toString();
        const QString path =
            csvexport::askFile(this, folder.isEmpty() ? name : QDir(folder).filePath(name), style);
        if (!path.isEmpty())
            Remembered().setValue(QStringLiteral("site/exportFolder"),
                                  QFileInfo(path).absolutePath());
        return path;
    };
    chooseLineFiles = [this] {
        const QString folder = Remembered().value(QStringLiteral("site/filesFolder")).toString();
        const QStringList paths =
            QFileDialog::getOpenFileNames(this, QStringLiteral("Линии площадки из файлов"), folder,
                                          QStringLiteral("Файлы линии (*.json);;Все файлы (*)"));
        if (!paths.isEmpty())
            Remembered().setValue(QStringLiteral("site/filesFolder"),
                                  QFileInfo(paths.first()).absolutePath());
        return paths;
    };
}

void SiteView::makeControls()
{
    controls = new SiteControls;
    connect(controls, &SiteControls::connectRequested, this, &SiteView::connectToBroker);
    connect(controls, &SiteControls::disconnectRequested, this, &SiteView::disconnectFromBroker);
}

void SiteView::makeLineView()
{
    tree = new site::LineTree(*lines, this);
    tree->ticksChanged = [this] {
        showTrends();
        QStringList keys;
        for (const auto& key : tree->tickedSensors())
            keys << keyText(key);
        Remembered().setValue(QStringLiteral("site/curves"), keys);
    };
    sorted = new site::LineOrder(this);
    sorted->setSourceModel(tree);
    sorted->setSortRole(Qt::UserRole);
    sorted->setDynamicSortFilter(true);
    view = new QTreeView;
    view->setModel(sorted);
    view->setSortingEnabled(true);
    view->sortByColumn(overview::Address, Qt::AscendingOrder);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setUniformRowHeights(true);
    view->setAllColumnsShowFocus(true);
    view->header()->setSectionResizeMode(overview::Name, QHeaderView::Stretch);
    view->header()->setStretchLastSection(false);
    view->setMinimumHeight(120);
    view->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* loadLines = new QAction(QStringLiteral("Загрузить файлы линий…"), view);
    loadLines->setObjectName(QStringLiteral("actionLoadLineFiles"));
    loadLines->setShortcut(QKeySequence::Open);
    loadLines->setShortcutContext(Qt::WindowShortcut);
    connect(loadLines, &QAction::triggered, this, &SiteView::loadLineFiles);
    view->addAction(loadLines);
    auto* hideLine = new QAction(QStringLiteral("Скрыть линию"), view);
    hideLine->setObjectName(QStringLiteral("actionHideLine"));
    hideLine->setShortcut(QKeySequence::Delete);
    hideLine->setShortcutContext(Qt::WidgetShortcut);
    connect(hideLine, &QAction::triggered, this, &SiteView::hideCurrentLine);
    view->addAction(hideLine);

    // The lines the user folded stay folded.
    connect(view, &QTreeView::collapsed, this, [this](const QModelIndex& index) {
        folded.insert(index.data(Qt::UserRole).toString());
    });
    connect(view, &QTreeView::expanded, this, [this](const QModelIndex& index) {
        folded.remove(index.data(Qt::UserRole).toString());
    });
    // A new line's row spans the columns; laid out once, as it comes.
    connect(sorted, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex& parent, int first, int last) {
                if (parent.isValid())
                    return;
                for (int row = first; row <= last; ++row) {
                    view->setFirstColumnSpanned(row, QModelIndex(), true);
                    const QModelIndex line = sorted->index(row, 0);
                    view->setExpanded(line, !folded.contains(line.data(Qt::UserRole).toString()));
                }
            });
}

QTabWidget* SiteView::makeTrendsAndJournal()
{
    const TrendPanel trends = makeTrendPanel();
    plot = trends.plot;
    connect(trends.pause, &QPushButton::toggled, this, &SiteView::refresh);
    connect(trends.exportButton, &QPushButton::clicked, this, &SiteView::exportCsv);
    journal = new QTreeWidget;
    journal->setObjectName(QStringLiteral("treeJournal"));
    journal->setRootIsDecorated(false);
    journal->setUniformRowHeights(true);
    journal->setHeaderLabels(
        {QStringLiteral("Время"), QStringLiteral("Линия"), QStringLiteral("Событие")});
    // One over the other's place.
    auto* below = new QTabWidget;
    below->setObjectName(QStringLiteral("tabsBelow"));
    below->addTab(trends.widget, QStringLiteral("Тренды"));
    below->addTab(journal, QStringLiteral("Журнал"));
    return below;
}

void SiteView::layOut(QWidget* below)
{
    split = new QSplitter(Qt::Vertical);
    split->setObjectName(QStringLiteral("splitterSite"));
    split->addWidget(view);
    split->addWidget(below);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(controls);
    layout->addWidget(split, 1);
}

void SiteView::makeShortcuts()
{
    // Escape closes the view, F1 opens the manual at this chapter.
    auto* closing = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(closing, &QShortcut::activated, this, &QWidget::close);
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, [this] { emit helpRequested(title); });
}

void SiteView::followMonitor()
{
    // The changes of many messages are taken together, once the messages waiting are read.
    auto* update = new QTimer(this);
    update->setSingleShot(true);
    update->setInterval(0);
    connect(lines, &SiteMonitor::linesChanged, update, qOverload<>(&QTimer::start));
    connect(update, &QTimer::timeout, this, [this] {
        const QSet<QString> changed = lines->takeChanged();
        tree->update(changed);
        rememberLines(changed);
        showTrends();
    });
    connect(lines, &SiteMonitor::firstReading, this,
            [this](const QString& line, int addr, int baudrate) {
                if (tree->tickedSensors().count({line, addr, baudrate}))
                    showTrends();
            });
    connect(lines, &SiteMonitor::connectionChanged, this, &SiteView::showConnection);
    connect(lines, &SiteMonitor::journal, this, &SiteView::addToJournal);

    // Twice a second: a reading shows within half a second of its arrival, the trends follow
    // once a second.
    clock = new QTimer(this);
    clock->setInterval(500);
    connect(clock, &QTimer::timeout, this, &SiteView::refresh);
}

void SiteView::restore()
{
    controls->restore();
    Remembered settings;
    settings.beginGroup(QStringLiteral("site"));
    // The lines seen before are the site's: missing until they are on the broker again.
    remembered = settings.value(QStringLiteral("lines")).toStringList();
    for (const QString& line : qAsConst(remembered))
        lines->expect(
            line,
            settings.value(QStringLiteral("ports/") + QString::number(qHash(line))).toString());
    // The files loaded before, read anew: one no longer readable is still a line the site
    // should have, shown as missing until it is hidden.
    loadedFiles = settings.value(QStringLiteral("files")).toStringList();
    for (const QString& path : qAsConst(loadedFiles)) {
        const linefile::ReadResult file = linefile::readFile(path, linefile::Mode::FileOrPlan);
        if (!file.ok())
            addToJournal(broker::shownText(path, SiteMonitor::maxTextChars),
                         QStringLiteral("файл линии не прочитан: %1").arg(file.refusal));
        lines->expectFile(path, file.line);
    }
    std::set<site::LineTree::Key> curves;
    for (const QString& key : settings.value(QStringLiteral("curves")).toStringList()) {
        const QStringList parts = key.split(QLatin1Char('|'));
        if (parts.size() >= 3)
            curves.insert({parts.mid(0, parts.size() - 2).join(QLatin1Char('|')),
                           parts[parts.size() - 2].toInt(), parts.last().toInt()});
    }
    tree->setTicked(curves);
    // Fitted within the screen it opens on: at 1366 × 768 every control and the plot's axes
    // stay inside.
    const QRect screen = QGuiApplication::primaryScreen()
                             ? QGuiApplication::primaryScreen()->availableGeometry()
                             : QRect(0, 0, 1366, 768);
    resize(std::min(1280, screen.width() - 40), std::min(860, screen.height() - 60));
    split->setSizes({height() * 3 / 5, height() * 2 / 5});
    if (!restoreGeometry(settings.value(QStringLiteral("geometry")).toByteArray()))
        move(screen.center() - rect().center());
    split->restoreState(settings.value(QStringLiteral("splitter")).toByteArray());
    headerState = settings.value(QStringLiteral("columns")).toByteArray();
    if (!headerState.isEmpty() && view->header()->restoreState(headerState))
        fitted = true;
    settings.endGroup();
}

void SiteView::openJournalFile()
{
    // Beside log.txt, in the working folder: the program's other records are there.
    journalFile.setFileName(QStringLiteral("site-journal.txt"));
    if (!journalFile.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        addToJournal(QString(), QStringLiteral("журнал не записывается в %1: %2")
                                    .arg(QFileInfo(journalFile).absoluteFilePath(),
                                         journalFile.errorString()));
}

void SiteView::addToJournal(const QString& line, const QString& event)
{
    const QDateTime now = QDateTime::currentDateTime();
    auto* item =
        new QTreeWidgetItem({now.toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")), line, event});
    journal->addTopLevelItem(item);
    while (journal->topLevelItemCount() > journalRows)
        delete journal->takeTopLevelItem(0);
    if (journalFile.isOpen()) {
        journalFile.write((now.toString(Qt::ISODateWithMs) + QLatin1Char('\t') +
                           (line.isEmpty() ? QStringLiteral("-") : line) + QLatin1Char('\t') +
                           event + QLatin1Char('\n'))
                              .toUtf8());
        journalFile.flush();
    }
}

void SiteView::rememberLines(const QSet<QString>& changed)
{
    bool any = false;
    Remembered settings;
    settings.beginGroup(QStringLiteral("site"));
    for (const QString& name : changed) {
        const auto line = lines->lines().constFind(name);
        const bool shown = line != lines->lines().constEnd();
        // A loaded file's own row is remembered as the file.
        if (shown && line->name == line->file)
            continue;
        if (shown && !remembered.contains(name) && remembered.size() < SiteMonitor::maxLines) {
            remembered.append(name);
            any = true;
        } else if (!shown && remembered.removeAll(name)) {
            settings.remove(QStringLiteral("ports/") + QString::number(qHash(name)));
            any = true;
        }
        if (shown && !line->port.isEmpty())
            settings.setValue(QStringLiteral("ports/") + QString::number(qHash(name)), line->port);
    }
    if (any)
        settings.setValue(QStringLiteral("lines"), remembered);
}

void SiteView::hideCurrentLine()
{
    const QString name = tree->lineNameOf(sorted->mapToSource(view->currentIndex()));
    if (name.isEmpty())
        return;
    addToJournal(broker::shownText(name, SiteMonitor::maxTextChars),
                 QStringLiteral("скрыта пользователем"));
    // The file it was loaded from, or that it stood for, is forgotten with it.
    const QString file = lines->lines().value(name).file;
    if (!file.isEmpty() && loadedFiles.removeAll(file))
        Remembered().setValue(QStringLiteral("site/files"), loadedFiles);
    lines->hide(name);
}

void SiteView::loadLineFiles()
{
    QStringList refused;
    for (const QString& chosen : chooseLineFiles()) {
        const QString path = QFileInfo(chosen).absoluteFilePath();
        const linefile::ReadResult file = linefile::readFile(path, linefile::Mode::FileOrPlan);
        if (!file.ok()) {
            refused << QStringLiteral("%1: %2").arg(QFileInfo(path).fileName(), file.refusal);
            continue;
        }
        if (loadedFiles.contains(path))
            continue;
        if (loadedFiles.size() >= SiteMonitor::maxLines) {
            refused << QStringLiteral("%1: линий уже %2")
                           .arg(QFileInfo(path).fileName())
                           .arg(SiteMonitor::maxLines);
            continue;
        }
        loadedFiles << path;
        lines->expectFile(path, file.line);
        addToJournal(broker::shownText(path, SiteMonitor::maxTextChars),
                     QStringLiteral("загружен файл линии: порт %1, датчиков: %2")
                         .arg(broker::shownText(file.line.port, SiteMonitor::maxTextChars))
                         .arg(file.line.sensors.size()));
    }
    Remembered().setValue(QStringLiteral("site/files"), loadedFiles);
    if (!refused.isEmpty())
        QMessageBox::warning(this, title,
                             QStringLiteral("Не загружены:\n") + refused.join(QLatin1Char('\n')));
}

void SiteView::connectToBroker()
{
    broker::Url url;
    QString why;
    if (!controls->brokerUrl(&url, &why)) {
        lines->close();
        controls->setStatus(why);
        return;
    }
    const QStringList filters = controls->filters(&why);
    if (filters.isEmpty()) {
        controls->setStatus(why);
        return;
    }
    MqttSettings settings = controls->settings(url);
    if (!settings.user.isEmpty()) {
        // A refused attempt may have been the password's fault: it is asked again.
        if (password.isNull() || wasRefused) {
            const QString given = askPassword(settings.user);
            if (given.isNull())
                return;
            password = given;
        }
        settings.password = password;
    }
    controls->remember();
    wasRefused = false;
    shownBroker = broker::urlText(url);
    // Settings it cannot use (an unreadable CA file, a filter MQTT refuses) are told by the
    // status line.
    lines->open(settings, filters, &why);
    clock->start();
    showConnection();
}

void SiteView::disconnectFromBroker()
{
    lines->close();
    showConnection();
}

void SiteView::showConnection()
{
    if (lines->connection() == SiteMonitor::Connection::Refused)
        wasRefused = true;
    controls->showConnection(*lines, shownBroker);
}

void SiteView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Opened again, or for the first time with a broker remembered: it connects.
    if (lines->connection() == SiteMonitor::Connection::Closed && controls->hasHost())
        connectToBroker();
    clock->start();
    refresh();
}

void SiteView::closeEvent(QCloseEvent* event)
{
    // Closed, it follows nothing, and the broker keeps no session for it; the readings kept
    // stay for the next opening.
    clock->stop();
    lines->close();
    Remembered settings;
    settings.beginGroup(QStringLiteral("site"));
    settings.setValue(QStringLiteral("geometry"), saveGeometry());
    settings.setValue(QStringLiteral("splitter"), split->saveState());
    if (fitted)
        settings.setValue(QStringLiteral("columns"), view->header()->saveState());
    QWidget::closeEvent(event);
}

void SiteView::showTrends()
{
    QVector<TrendPlot::Series> series;
    for (const auto& [line, addr, baudrate] : tree->tickedSensors()) {
        const ReadingBuffer* buffer = lines->readings().find(line, addr, baudrate);
        if (!buffer)
            continue;
        QString name;
        const auto known = lines->lines().constFind(line);
        if (known != lines->lines().constEnd())
            for (const SensorState& sensor : known->sensors)
                if (sensor.addr == addr && sensor.baudrate == baudrate)
                    name = sensor.name;
        const QString shownLine = broker::shownText(line, SiteMonitor::maxTextChars);
        TrendPlot::Series s;
        s.buffer = buffer;
        s.title = name.isEmpty() ? QStringLiteral("%1: %2").arg(shownLine).arg(addr)
                                 : QStringLiteral("%1: %2 · %3").arg(shownLine).arg(addr).arg(name);
        // The same address on two lines: two colours.
        s.colour = QColor::fromHsv(int((qHash(line) % 360 + uint(addr) * 67) % 360), 230, 200);
        series.append(s);
    }
    plot->setSeries(series);
    plot->refresh(QDateTime::currentMSecsSinceEpoch());
}

void SiteView::refresh()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    tree->tick(now);
    // Fitted to the texts once a sensor has values to show; fitting on every tick would measure
    // every cell each time.
    if (!fitted) {
        for (const SiteLine& line : lines->lines())
            fitted = fitted || std::any_of(line.sensors.begin(), line.sensors.end(),
                                           [](const SensorState& s) { return s.answered; });
        if (fitted) {
            for (int column = 0; column < overview::ColumnCount; ++column)
                if (column != overview::Name)
                    view->resizeColumnToContents(column);
        }
    }
    // The rows measured were those in sight: the address column keeps room for the tree's
    // indent, the box and any address.
    const int address = view->indentation() + style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                        view->fontMetrics().horizontalAdvance(QStringLiteral("2477"));
    if (view->columnWidth(overview::Address) < address)
        view->setColumnWidth(overview::Address, address);
    // The countdown to the next attempt, the time since the broker was lost.
    if (lines->connection() != SiteMonitor::Connection::Closed)
        showConnection();
    if (++ticks % 2 == 0 || plot->paused())
        plot->refresh(now);
}

void SiteView::exportCsv()
{
    csv::Style style = csv::Style::Comma;
    const QString path = chooseCsvFile(&style);
    if (path.isEmpty())
        return;
    std::map<std::tuple<QString, int, int>, QString> names;
    for (const SiteLine& line : lines->lines())
        for (const SensorState& sensor : line.sensors)
            names[{line.name, sensor.addr, sensor.baudrate}] = sensor.name;
    const auto nameOf = [&names](const Reading& reading) {
        const auto found = names.find({reading.port, reading.addr, reading.baudrate});
        return found == names.end() ? QString() : found->second;
    };
    int readings = 0;
    for (const ReadingBuffer* buffer : lines->readings().all())
        readings += buffer->size();
    QString error;
    // A line no longer in the view keeps the port its file named.
    if (!csv::writeSite(path, lines->readings().all(), lines->ports(), nameOf, style, &error))
        QMessageBox::warning(this, QStringLiteral("Экспорт CSV"),
                             QStringLiteral("Файл не записан: %1").arg(error));
    else
        csvexport::confirm(this, path, readings, style, completenessSummary());
}

QString SiteView::completenessSummary() const
{
    // Whoever reads the file learns what it lacks: each line's share of its readings, its holes.
    QStringList rows;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (const SiteLine& line : lines->lines()) {
        if (line.ledger.expected() == 0)
            continue;
        double received = 0;
        double expected = 0;
        line.ledger.countSince(now - 3600 * 1000, &received, &expected);
        QString row = QStringLiteral("%1: получено %2 за час, %3 с открытия; пропусков: %4")
                          .arg(broker::shownText(line.name, SiteMonitor::maxTextChars),
                               site::percentText(received, expected),
                               site::percentText(double(line.ledger.received()),
                                                 double(line.ledger.expected())))
                          .arg(line.ledger.holes().size());
        if (line.dropped > 0)
            row += QStringLiteral(", отброшено очередью: %1").arg(line.dropped);
        rows << row;
    }
    return rows.isEmpty() ? QString()
                          : QStringLiteral("Полнота показаний по линиям:\n") + rows.join('\n');
}
