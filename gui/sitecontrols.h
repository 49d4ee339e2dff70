#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class SiteMonitor;
struct MqttSettings;
namespace broker {
struct Url;
}

// The site view's broker form: address, port, TLS and its CA file, user, topic filters, the
// buttons and the status line. It reads, remembers and restores its fields and tells the
// connection's state; connecting is the window's business.
class SiteControls : public QWidget
{
    Q_OBJECT
public:
    explicit SiteControls(QWidget* parent = nullptr);

    bool hasHost() const;
    QString userName() const;
    // The broker as the command line would name it, so that both accept the same brokers;
    // false with the reason.
    bool brokerUrl(broker::Url* url, QString* why) const;
    // The topic filters given; empty, with what to give, when there is none.
    QStringList filters(QString* why = nullptr) const;
    // How to reach the broker, its password aside.
    MqttSettings settings(const broker::Url& url) const;

    // The fields between runs; the password is never among them.
    void remember() const;
    void restore();

    void setStatus(const QString& text);
    // The status line and the buttons for the monitor's connection to the broker named.
    void showConnection(const SiteMonitor& monitor, const QString& broker);

signals:
    // "Подключить", or Enter in any of the fields.
    void connectRequested();
    void disconnectRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* host = nullptr;
    QSpinBox* port = nullptr;
    QCheckBox* tls = nullptr;
    QLineEdit* caFile = nullptr;
    QLineEdit* user = nullptr;
    QLineEdit* topics = nullptr;
    QPushButton* connectButton = nullptr;
    QPushButton* disconnectButton = nullptr;
    QLabel* status = nullptr;
};
