#include "gui/sitecontrols.h"
#include "codec/brokerurl.h"
#include "core/devices/mqttclient.h"
#include "core/devices/sitemonitor.h"
#include "gui/remembered.h"

#include <QCheckBox>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

const QString defaultTopics = QStringLiteral("velduo/#");

} // namespace

SiteControls::SiteControls(QWidget* parent) : QWidget(parent)
{
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
    topics = new QLineEdit(defaultTopics);
    topics->setObjectName(QStringLiteral("lineEditTopics"));
    topics->setToolTip(QStringLiteral("Несколько фильтров — через пробел или запятую"));
    connectButton = new QPushButton(QStringLiteral("Подключить"));
    connectButton->setObjectName(QStringLiteral("btnConnect"));
    disconnectButton = new QPushButton(QStringLiteral("Отключить"));
    disconnectButton->setObjectName(QStringLiteral("btnDisconnect"));
    connect(connectButton, &QPushButton::clicked, this, &SiteControls::connectRequested);
    connect(disconnectButton, &QPushButton::clicked, this, &SiteControls::disconnectRequested);
    // Enter in any of the broker's fields connects.
    for (QWidget* field : std::initializer_list<QWidget*>{host, port, caFile, user, topics})
        field->installEventFilter(this);

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

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(brokerRow);
    layout->addLayout(userRow);
    layout->addWidget(status);
}

bool SiteControls::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            emit connectRequested();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool SiteControls::hasHost() const
{
    return !host->text().trimmed().isEmpty();
}

QString SiteControls::userName() const
{
    return user->text();
}

bool SiteControls::brokerUrl(broker::Url* url, QString* why) const
{
    const QString name = host->text().trimmed();
    const QString text =
        QStringLiteral("%1://%2:%3")
            .arg(tls->isChecked() ? QStringLiteral("mqtts") : QStringLiteral("mqtt"),
                 name.contains(QLatin1Char(':')) && !name.startsWith('[')
                     ? QStringLiteral("[%1]").arg(name)
                     : name)
            .arg(port->value());
    return broker::parseUrl(text, url, why);
}

QStringList SiteControls::filters(QString* why) const
{
    const QStringList filters = SiteMonitor::splitFilters(topics->text());
    if (filters.isEmpty() && why)
        *why = QStringLiteral("Укажите темы, например %1").arg(defaultTopics);
    return filters;
}

MqttSettings SiteControls::settings(const broker::Url& url) const
{
    MqttSettings settings;
    settings.host = url.host;
    settings.port = url.port;
    settings.tls = url.tls;
    settings.caFile = url.tls ? caFile->text().trimmed() : QString();
    settings.user = user->text();
    return settings;
}

void SiteControls::remember() const
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

void SiteControls::restore()
{
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
    topics->setText(settings.value(QStringLiteral("topics"), defaultTopics).toString());
}

void SiteControls::setStatus(const QString& text)
{
    status->setText(text);
}

void SiteControls::showConnection(const SiteMonitor& monitor, const QString& broker)
{
    // The reasons come with or without their full stop; the texts below add their own.
    QString reason = monitor.reason();
    while (reason.endsWith(QLatin1Char('.')))
        reason.chop(1);
    QString text;
    bool trouble = false;
    const QString since = monitor.brokerLostAt() > 0
                              ? QDateTime::fromMSecsSinceEpoch(monitor.brokerLostAt())
                                    .toString(QStringLiteral("hh:mm:ss"))
                              : QString();
    switch (monitor.connection()) {
    case SiteMonitor::Connection::Closed:
        text = reason.isEmpty()
                   ? QStringLiteral("Не подключено. Укажите брокер и нажмите «Подключить».")
                   : QStringLiteral("Не подключено: %1").arg(reason);
        trouble = !reason.isEmpty();
        break;
    case SiteMonitor::Connection::Connecting:
        text = QStringLiteral("Подключение к %1…").arg(broker);
        if (!reason.isEmpty()) {
            text += QStringLiteral(" Прошлая попытка: %1").arg(reason);
            trouble = true;
        }
        break;
    case SiteMonitor::Connection::Connected:
        text = QStringLiteral("Подключено к %1, темы %2; линий: %3.")
                   .arg(broker, filters().join(QStringLiteral(", ")))
                   .arg(monitor.lines().size());
        // A subscription the broker refused.
        if (!reason.isEmpty()) {
            text += QLatin1Char(' ') + reason.left(1).toUpper() + reason.mid(1) + QLatin1Char('.');
            trouble = true;
        }
        break;
    case SiteMonitor::Connection::Lost:
        text = QStringLiteral("Нет связи с брокером %1 с %2: %3. Попытки продолжаются; "
                              "состояние линий неизвестно.")
                   .arg(broker, since, reason);
        trouble = true;
        break;
    case SiteMonitor::Connection::Refused:
        text = QStringLiteral("Брокер %1 не принял подключение: %2. Следующая попытка через "
                              "%3 с. Нет связи с %4; состояние линий неизвестно.")
                   .arg(broker, reason)
                   .arg((std::max(0, monitor.retryInMs()) + 999) / 1000)
                   .arg(since);
        if (!user->text().isEmpty())
            text += QStringLiteral(" «Подключить» спросит пароль снова.");
        trouble = true;
        break;
    }
    if (status->text() != text)
        status->setText(text);
    status->setStyleSheet(trouble ? QStringLiteral("color: #b00000;") : QString());
    connectButton->setEnabled(true);
    disconnectButton->setEnabled(monitor.connection() != SiteMonitor::Connection::Closed);
}
