#include "gui/siteview.h"
#include "codec/brokerurl.h"
#include "core/devices/sitemonitor.h"
#include "gui/csvexport.h"
#include "gui/remembered.h"
#include "gui/sensorcells.h"
#include "gui/trendplot.h"

#include <QAbstractItemModel>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QFileDialog>
#include <QFont>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>
#include <QSortFilterProxyModel>
#include <QSpinBox>
#include <QSplitter>
#include <QStyle>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <map>
#include <set>
#include <tuple>

namespace site {

using namespace overview;

namespace {

const QString defaultTopics = QStringLiteral("velduo/#");
const QColor dimmedText(140, 140, 140);

QString ageText(qint64 ms)
{
    const qint64 s = std::max<qint64>(0, ms) / 1000;
    if (s < 120)
        return QStringLiteral("%1 с").arg(s);
    if (s < 2 * 3600)
        return QStringLiteral("%1 мин").arg(s / 60);
    if (s < 2 * 86400)
        return QStringLiteral("%1 ч").arg(s / 3600);
    return QStringLiteral("%1 сут").arg(s / 86400);
}

} // namespace

// The lines as a tree: a row for each line, its sensors under it. The rows stand for the
// lines and sensors the monitor knew at the last rebuild; their values are read from the
// monitor when shown. Sorting keys come under Qt::UserRole.
class LineTree : public QAbstractItemModel
{
public:
    LineTree(const SiteMonitor& monitor, QObject* parent)
        : QAbstractItemModel(parent), monitor(monitor)
    {
    }

    std::function<void()> ticksChanged;

    // The lines or their sensors changed: the rows are made anew.
    void rebuild()
    {
        beginResetModel();
        rows.clear();
        for (const SiteLine& line : monitor.lines()) {
            Row row{line.name, {}};
            for (const SiteSensor& sensor : line.sensors)
                row.sensors.append({sensor.addr, sensor.baudrate});
            rows.append(row);
        }
        endResetModel();
    }

    // The values are shown anew at each tick, every reading since the last one together.
    void tick(qint64 now)
    {
        clockMs = now;
        if (rows.isEmpty())
            return;
        emit dataChanged(index(0, 0), index(rows.size() - 1, ColumnCount - 1));
        for (int line = 0; line < rows.size(); ++line)
            if (!rows[line].sensors.isEmpty())
                emit dataChanged(
                    index(0, 0, index(line, 0)),
                    index(rows[line].sensors.size() - 1, ColumnCount - 1, index(line, 0)));
    }

    using Key = std::tuple<QString, int, int>;
    const std::set<Key>& tickedSensors() const { return ticked; }
    bool isLine(const QModelIndex& index) const { return index.isValid() && !index.internalId(); }
    QString lineName(int row) const { return rows.value(row).name; }

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override
    {
        if (column < 0 || column >= ColumnCount || row < 0)
            return QModelIndex();
        if (!parent.isValid())
            return row < rows.size() ? createIndex(row, column, quintptr(0)) : QModelIndex();
        if (parent.internalId() || parent.row() >= rows.size() ||
            row >= rows[parent.row()].sensors.size())
            return QModelIndex();
        // A sensor's id is its line's row plus one; a line's is 0.
        return createIndex(row, column, quintptr(parent.row() + 1));
    }

    QModelIndex parent(const QModelIndex& child) const override
    {
        if (!child.isValid() || !child.internalId())
            return QModelIndex();
        return createIndex(int(child.internalId() - 1), 0, quintptr(0));
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        if (!parent.isValid())
            return rows.size();
        if (parent.internalId() || parent.column() != 0 || parent.row() >= rows.size())
            return 0;
        return rows[parent.row()].sensors.size();
    }

    int columnCount(const QModelIndex& = QModelIndex()) const override { return ColumnCount; }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return QAbstractItemModel::headerData(section, orientation, role);
        return columnTitle(section);
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        Qt::ItemFlags f = QAbstractItemModel::flags(index);
        if (index.isValid() && index.internalId() && index.column() == Address)
            f |= Qt::ItemIsUserCheckable;
        return f;
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid())
            return QVariant();
        if (!index.internalId())
            return lineData(index.row(), index.column(), role);
        const int lineRow = int(index.internalId() - 1);
        const SiteLine* line = lineAt(lineRow);
        if (!line || index.row() >= rows[lineRow].sensors.size())
            return QVariant();
        const auto [addr, baudrate] = rows[lineRow].sensors[index.row()];
        const SiteSensor* sensor = sensorAt(*line, addr, baudrate);
        if (!sensor)
            return QVariant();
        const bool offline = line->status == SiteLine::Status::Offline;
        switch (role) {
        case Qt::DisplayRole:
            return cellText(cellsOf(*sensor), index.column(), now());
        case Qt::UserRole:
            return sortKey(cellsOf(*sensor), index.column(), now());
        case Qt::CheckStateRole:
            if (index.column() == Address)
                return ticked.count({line->name, addr, baudrate}) ? Qt::Checked : Qt::Unchecked;
            return QVariant();
        case Qt::BackgroundRole: {
            // An offline line keeps its last values, paled.
            QVariant colour = background(cellsOf(*sensor));
            if (offline && colour.isValid()) {
                QColor paled = colour.value<QColor>();
                paled.setAlpha(90);
                colour = paled;
            }
            return colour;
        }
        case Qt::ForegroundRole:
            return offline ? QVariant(dimmedText) : QVariant();
        case Qt::TextAlignmentRole:
            return alignment(index.column());
        }
        return QVariant();
    }

    bool setData(const QModelIndex& index, const QVariant& value, int role) override
    {
        if (role != Qt::CheckStateRole || index.column() != Address || !index.internalId())
            return false;
        const int lineRow = int(index.internalId() - 1);
        if (lineRow >= rows.size() || index.row() >= rows[lineRow].sensors.size())
            return false;
        const auto [addr, baudrate] = rows[lineRow].sensors[index.row()];
        const Key key{rows[lineRow].name, addr, baudrate};
        if (value.toInt() == Qt::Checked)
            ticked.insert(key);
        else
            ticked.erase(key);
        emit dataChanged(index, index, {Qt::CheckStateRole});
        if (ticksChanged)
            ticksChanged();
        return true;
    }

private:
    struct Row
    {
        QString name;
        QVector<QPair<int, int>> sensors; // address and speed
    };

    const SiteLine* lineAt(int row) const
    {
        if (row < 0 || row >= rows.size())
            return nullptr;
        const auto it = monitor.lines().constFind(rows[row].name);
        return it == monitor.lines().constEnd() ? nullptr : &it.value();
    }

    static const SiteSensor* sensorAt(const SiteLine& line, int addr, int baudrate)
    {
        for (const SiteSensor& sensor : line.sensors)
            if (sensor.addr == addr && sensor.baudrate == baudrate)
                return &sensor;
        return nullptr;
    }

    static SensorCells cellsOf(const SiteSensor& sensor)
    {
        SensorCells cells;
        cells.addr = sensor.addr;
        cells.baudrate = sensor.baudrate;
        cells.name = sensor.name;
        cells.answered = sensor.answered;
        cells.sensorType = sensor.sensorType;
        cells.measure = sensor.measure;
        cells.adc = sensor.adc;
        cells.workTime = sensor.workTime;
        cells.version = sensor.version;
        cells.answeredAt = sensor.answeredAt;
        cells.lastError = sensor.lastError;
        cells.coil = sensor.coil;
        cells.errorText = sensor.errorText;
        return cells;
    }

    QVariant lineData(int row, int column, int role) const
    {
        const SiteLine* line = lineAt(row);
        if (!line)
            return QVariant();
        const bool offline = line->status == SiteLine::Status::Offline;
        switch (role) {
        case Qt::DisplayRole:
            // The whole row is one cell: the tree spans it over every column.
            return column == 0 ? lineText(*line) : QVariant();
        case Qt::UserRole:
            return line->name;
        case Qt::FontRole: {
            QFont font;
            font.setBold(true);
            return font;
        }
        case Qt::ForegroundRole:
            return offline ? QVariant(dimmedText) : QVariant();
        }
        return QVariant();
    }

    QString lineText(const SiteLine& line) const
    {
        QString text = line.name + QStringLiteral(" — ");
        switch (line.status) {
        case SiteLine::Status::Online:
            text += QStringLiteral("online");
            break;
        case SiteLine::Status::Offline:
            text += QStringLiteral("offline");
            break;
        case SiteLine::Status::Unknown:
            text += QStringLiteral("состояние неизвестно");
            break;
        }
        if (line.lastPublished > 0)
            text += QStringLiteral(", последняя публикация %1 назад")
                        .arg(ageText(now() - line.lastPublished));
        if (!line.port.isEmpty())
            text += QStringLiteral(", порт %1").arg(line.port);
        text += QStringLiteral(", датчиков: %1").arg(line.sensors.size());
        return text;
    }

    qint64 now() const { return clockMs > 0 ? clockMs : QDateTime::currentMSecsSinceEpoch(); }

    const SiteMonitor& monitor;
    QVector<Row> rows;
    std::set<Key> ticked; // a curve is a sensor of a line: each line's ticks are its own
    qint64 clockMs = 0;
};

// Lines by name, in the order of the sort whichever way it goes; sensors by the column.
class LineOrder : public QSortFilterProxyModel
{
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override
    {
        if (!left.parent().isValid()) {
            const bool less =
                left.data(Qt::UserRole).toString() < right.data(Qt::UserRole).toString();
            const bool greater =
                right.data(Qt::UserRole).toString() < left.data(Qt::UserRole).toString();
            return sortOrder() == Qt::AscendingOrder ? less : greater;
        }
        return QSortFilterProxyModel::lessThan(left, right);
    }
};

} // namespace site

namespace {

const QString title = QStringLiteral("Обзор площадки");

} // namespace

SiteView::SiteView(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(title);
    resize(1280, 860);
    lines = new SiteMonitor(this);

    askPassword = [this](const QString& name) {
        bool ok = false;
        const QString text = QInputDialog::getText(
            this, title, QStringLiteral("Пароль пользователя «%1» на брокере:").arg(name),
            QLineEdit::Password, QString(), &ok);
        return ok ? text : QString();
    };
    chooseCsvFile = [this](csv::Style* style) {
        return csvexport::askFile(
            this,
            QStringLiteral("site-readings-%1.csv")
                .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"))),
            style);
    };

    // The broker.
    host = new QLineEdit;
    host->setObjectName(QStringLiteral("lineEditHost"));
    host->setPlaceholderText(QStringLiteral("имя или адрес"));
    port = new QSpinBox;
    port->setObjectName(QStringLiteral("spinBoxPort"));
    port->setRange(1, 65535);
    port->setValue(broker::plainPort);
    tls = new QCheckBox(QStringLiteral("TLS"));
    tls->setObjectName(QStringLiteral("checkBoxTls"));
    caFile = new QLineEdit;
    caFile->setObjectName(QStringLiteral("lineEditCaFile"));
    caFile->setPlaceholderText(QStringLiteral("сертификаты системы"));
    auto* chooseCa = new QPushButton(QStringLiteral("…"));
    connect(chooseCa, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(
            this, QStringLiteral("Файл CA"), caFile->text(),
            QStringLiteral("Сертификаты (*.pem *.crt);;Все файлы (*)"));
        if (!path.isEmpty())
            caFile->setText(path);
    });
    // The usual port goes with the choice, unless another was set.
    connect(tls, &QCheckBox::toggled, this, [this](bool on) {
        if (port->value() == (on ? broker::plainPort : broker::tlsPort))
            port->setValue(on ? broker::tlsPort : broker::plainPort);
        caFile->setEnabled(on);
    });
    user = new QLineEdit;
    user->setObjectName(QStringLiteral("lineEditUser"));
    user->setPlaceholderText(QStringLiteral("без имени"));
    topics = new QLineEdit(site::defaultTopics);
    topics->setObjectName(QStringLiteral("lineEditTopics"));
    connectButton = new QPushButton(QStringLiteral("Подключить"));
    connectButton->setObjectName(QStringLiteral("btnConnect"));
    disconnectButton = new QPushButton(QStringLiteral("Отключить"));
    disconnectButton->setObjectName(QStringLiteral("btnDisconnect"));
    connect(connectButton, &QPushButton::clicked, this, &SiteView::connectToBroker);
    connect(disconnectButton, &QPushButton::clicked, this, &SiteView::disconnectFromBroker);

    auto* brokerRow = new QHBoxLayout;
    brokerRow->addWidget(new QLabel(QStringLiteral("Брокер:")));
    brokerRow->addWidget(host, 2);
    brokerRow->addWidget(new QLabel(QStringLiteral("Порт:")));
    brokerRow->addWidget(port);
    brokerRow->addWidget(tls);
    brokerRow->addWidget(new QLabel(QStringLiteral("Файл CA:")));
    brokerRow->addWidget(caFile, 2);
    brokerRow->addWidget(chooseCa);
    auto* userRow = new QHBoxLayout;
    userRow->addWidget(new QLabel(QStringLiteral("Пользователь:")));
    userRow->addWidget(user, 1);
    userRow->addWidget(new QLabel(QStringLiteral("Темы:")));
    userRow->addWidget(topics, 2);
    userRow->addWidget(connectButton);
    userRow->addWidget(disconnectButton);
    status = new QLabel;
    status->setObjectName(QStringLiteral("labelStatus"));
    status->setWordWrap(true);
    status->setTextInteractionFlags(Qt::TextSelectableByMouse);

    // The lines.
    tree = new site::LineTree(*lines, this);
    tree->ticksChanged = [this] { showTrends(); };
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

    // The lines the user folded stay folded when the rows are made anew.
    connect(view, &QTreeView::collapsed, this, [this](const QModelIndex& index) {
        folded.insert(index.data(Qt::UserRole).toString());
    });
    connect(view, &QTreeView::expanded, this, [this](const QModelIndex& index) {
        folded.remove(index.data(Qt::UserRole).toString());
    });
    auto* rebuild = new QTimer(this);
    rebuild->setSingleShot(true);
    rebuild->setInterval(0);
    connect(lines, &SiteMonitor::linesChanged, rebuild, qOverload<>(&QTimer::start));
    connect(rebuild, &QTimer::timeout, this, [this] {
        const QSignalBlocker quiet(view);
        tree->rebuild();
        for (int row = 0; row < sorted->rowCount(); ++row) {
            const QModelIndex line = sorted->index(row, 0);
            view->setFirstColumnSpanned(row, QModelIndex(), true);
            view->setExpanded(line, !folded.contains(line.data(Qt::UserRole).toString()));
        }
        showTrends();
    });
    connect(lines, &SiteMonitor::firstReading, this,
            [this](const QString& line, int addr, int baudrate) {
                if (tree->tickedSensors().count({line, addr, baudrate}))
                    showTrends();
            });
    connect(lines, &SiteMonitor::connectionChanged, this, &SiteView::showConnection);

    // The trends.
    const TrendPanel trends = makeTrendPanel();
    plot = trends.plot;
    connect(trends.pause, &QPushButton::toggled, this, &SiteView::refresh);
    connect(trends.exportButton, &QPushButton::clicked, this, &SiteView::exportCsv);

    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(view);
    split->addWidget(trends.widget);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    split->setSizes({600, 400});
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(brokerRow);
    layout->addLayout(userRow);
    layout->addWidget(status);
    layout->addWidget(split, 1);

    // Twice a second: a reading shows within half a second of its arrival, the trends follow
    // once a second.
    clock = new QTimer(this);
    clock->setInterval(500);
    connect(clock, &QTimer::timeout, this, &SiteView::refresh);

    Remembered settings;
    settings.beginGroup(QStringLiteral("site"));
    host->setText(settings.value(QStringLiteral("host")).toString());
    tls->setChecked(settings.value(QStringLiteral("tls"), false).toBool());
    caFile->setEnabled(tls->isChecked());
    port->setValue(
        settings
            .value(QStringLiteral("port"), tls->isChecked() ? broker::tlsPort : broker::plainPort)
            .toInt());
    caFile->setText(settings.value(QStringLiteral("caFile")).toString());
    user->setText(settings.value(QStringLiteral("user")).toString());
    topics->setText(settings.value(QStringLiteral("topics"), site::defaultTopics).toString());
    showConnection();
}

void SiteView::remember() const
{
    Remembered settings;
    settings.beginGroup(QStringLiteral("site"));
    settings.setValue(QStringLiteral("host"), host->text().trimmed());
    settings.setValue(QStringLiteral("port"), port->value());
    settings.setValue(QStringLiteral("tls"), tls->isChecked());
    settings.setValue(QStringLiteral("caFile"), caFile->text());
    settings.setValue(QStringLiteral("user"), user->text());
    settings.setValue(QStringLiteral("topics"), topics->text().trimmed());
}

void SiteView::connectToBroker()
{
    const QString name = host->text().trimmed();
    broker::Url url;
    QString why;
    // The address as the command line would name it, so that both accept the same brokers.
    const QString text =
        QStringLiteral("%1://%2:%3")
            .arg(tls->isChecked() ? QStringLiteral("mqtts") : QStringLiteral("mqtt"),
                 name.contains(QLatin1Char(':')) && !name.startsWith('[')
                     ? QStringLiteral("[%1]").arg(name)
                     : name)
            .arg(port->value());
    if (!broker::parseUrl(text, &url, &why)) {
        lines->close();
        status->setText(why);
        return;
    }
    const QString filter = topics->text().trimmed();
    if (filter.isEmpty()) {
        status->setText(QStringLiteral("Укажите темы, например %1").arg(site::defaultTopics));
        return;
    }
    MqttSettings settings;
    settings.host = url.host;
    settings.port = url.port;
    settings.tls = url.tls;
    settings.caFile = url.tls ? caFile->text().trimmed() : QString();
    settings.user = user->text();
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
    remember();
    wasRefused = false;
    shownBroker = broker::urlText(url);
    // Settings it cannot use (an unreadable CA file) are told by the status line.
    lines->open(settings, filter, &why);
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
    // The reasons come with or without their full stop; the texts below add their own.
    QString reason = lines->reason();
    while (reason.endsWith(QLatin1Char('.')))
        reason.chop(1);
    QString text;
    bool trouble = false;
    switch (lines->connection()) {
    case SiteMonitor::Connection::Closed:
        text = reason.isEmpty()
                   ? QStringLiteral("Не подключено. Укажите брокер и нажмите «Подключить».")
                   : QStringLiteral("Не подключено: %1").arg(reason);
        trouble = !reason.isEmpty();
        break;
    case SiteMonitor::Connection::Connecting:
        text = QStringLiteral("Подключение к %1…").arg(shownBroker);
        if (!reason.isEmpty()) {
            text += QStringLiteral(" Прошлая попытка: %1").arg(reason);
            trouble = true;
        }
        break;
    case SiteMonitor::Connection::Connected:
        text = QStringLiteral("Подключено к %1, темы %2; линий: %3.")
                   .arg(shownBroker, topics->text().trimmed())
                   .arg(lines->lines().size());
        break;
    case SiteMonitor::Connection::Lost:
        text = QStringLiteral("Нет связи с брокером %1: %2. Попытки продолжаются.")
                   .arg(shownBroker, reason);
        trouble = true;
        break;
    case SiteMonitor::Connection::Refused:
        wasRefused = true;
        text = QStringLiteral("Брокер %1 не принял подключение: %2. Следующая попытка через "
                              "%3 с.")
                   .arg(shownBroker, reason)
                   .arg((std::max(0, lines->retryInMs()) + 999) / 1000);
        if (!user->text().isEmpty())
            text += QStringLiteral(" «Подключить» спросит пароль снова.");
        trouble = true;
        break;
    }
    if (status->text() != text)
        status->setText(text);
    status->setStyleSheet(trouble ? QStringLiteral("color: #b00000;") : QString());
    connectButton->setEnabled(true);
    disconnectButton->setEnabled(lines->connection() != SiteMonitor::Connection::Closed);
}

void SiteView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Opened again, or for the first time with a broker remembered: it connects.
    if (lines->connection() == SiteMonitor::Connection::Closed && !host->text().trimmed().isEmpty())
        connectToBroker();
    clock->start();
    refresh();
}

void SiteView::closeEvent(QCloseEvent* event)
{
    // Closed, it follows nothing; the readings kept stay for the next opening.
    clock->stop();
    lines->close();
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
            for (const SiteSensor& sensor : known->sensors)
                if (sensor.addr == addr && sensor.baudrate == baudrate)
                    name = sensor.name;
        TrendPlot::Series s;
        s.buffer = buffer;
        s.title = name.isEmpty() ? QStringLiteral("%1: %2").arg(line).arg(addr)
                                 : QStringLiteral("%1: %2 · %3").arg(line).arg(addr).arg(name);
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
                                           [](const SiteSensor& s) { return s.answered; });
        if (fitted) {
            for (int column = 0; column < overview::ColumnCount; ++column)
                if (column != overview::Name)
                    view->resizeColumnToContents(column);
            // The rows measured were those in sight: the address column keeps room for the
            // tree's indent, the box and any address.
            const int address = view->indentation() +
                                style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                                view->fontMetrics().horizontalAdvance(QStringLiteral("2477"));
            if (view->columnWidth(overview::Address) < address)
                view->setColumnWidth(overview::Address, address);
        }
    }
    // The countdown to the next attempt.
    if (lines->connection() == SiteMonitor::Connection::Refused ||
        lines->connection() == SiteMonitor::Connection::Connected)
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
    QHash<QString, QString> portOfLine;
    std::map<std::tuple<QString, int, int>, QString> names;
    for (const SiteLine& line : lines->lines()) {
        portOfLine.insert(line.name, line.port);
        for (const SiteSensor& sensor : line.sensors)
            names[{line.name, sensor.addr, sensor.baudrate}] = sensor.name;
    }
    const auto nameOf = [&names](const Reading& reading) {
        const auto found = names.find({reading.port, reading.addr, reading.baudrate});
        return found == names.end() ? QString() : found->second;
    };
    int readings = 0;
    for (const ReadingBuffer* buffer : lines->readings().all())
        readings += buffer->size();
    QString error;
    if (!csv::writeSite(path, lines->readings().all(), portOfLine, nameOf, style, &error))
        QMessageBox::warning(this, QStringLiteral("Экспорт CSV"),
                             QStringLiteral("Файл не записан: %1").arg(error));
    else
        csvexport::confirm(this, path, readings, style);
}
