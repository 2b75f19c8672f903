#include "ui/networkdialog.h"

#include "network/networksettings.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QVBoxLayout>

NetworkDialog::NetworkDialog(const QString &configDirectory, QWidget *parent)
    : QDialog(parent), m_configDirectory(configDirectory)
{
    setObjectName(QStringLiteral("NetworkDialog"));
    setWindowTitle(QStringLiteral("Station Network"));
    auto *form = new QFormLayout;
    auto edit = [&](const char *name, const QString &label, const QString &hint) {
        auto *e = new QLineEdit(this);
        e->setObjectName(QLatin1String(name));
        e->setPlaceholderText(hint);
        form->addRow(label, e);
        return e;
    };
    m_host = edit("brokerHost", QStringLiteral("Broker host:"), QStringLiteral("empty: the station network is off"));
    m_port = new QSpinBox(this);
    m_port->setRange(0, 65535);
    m_port->setSpecialValueText(QStringLiteral("default (1883, TLS 8883)"));
    form->addRow(QStringLiteral("Broker port:"), m_port);
    m_user = edit("user", QStringLiteral("User:"), QString());
    m_password = edit("password", QStringLiteral("Password:"), QString());
    m_password->setEchoMode(QLineEdit::Password);
    m_ca = edit("tlsCa", QStringLiteral("TLS CA file:"), QStringLiteral("empty: no TLS"));
    m_certificate = edit("tlsCertificate", QStringLiteral("Client certificate:"), QStringLiteral("PEM file, optional"));
    m_key = edit("tlsKey", QStringLiteral("Client key:"), QStringLiteral("PEM file, with the certificate"));
    m_station = edit("stationId", QStringLiteral("Station id:"), NetworkSettings::hostStationId());
    m_prefix = edit("prefix", QStringLiteral("Topic prefix:"), QStringLiteral("tolva"));
    m_values = new QCheckBox(QStringLiteral("Publish decoded values"), this);
    m_records = new QCheckBox(QStringLiteral("Publish every filed record"), this);
    form->addRow(QString(), m_values);
    form->addRow(QString(), m_records);
    m_problem = new QLabel(this);
    m_problem->setObjectName(QStringLiteral("problem"));
    m_problem->setWordWrap(true);
    m_problem->setStyleSheet(QStringLiteral("color: #b00000"));
    auto *note = new QLabel(QStringLiteral("Saved to %1. The program reads it when it starts.")
                                .arg(NetworkSettings::path(configDirectory)),
                            this);
    note->setWordWrap(true);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &NetworkDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addWidget(m_problem);
    layout->addWidget(buttons);
    setMinimumWidth(460);
    load();
}

void NetworkDialog::load()
{
    NetworkSettings s;
    QString error;
    if (!NetworkSettings::load(m_configDirectory, s, &error))
        m_problem->setText(error + QStringLiteral(" (the values below are the defaults)"));
    m_host->setText(s.brokerHost);
    m_port->setValue(s.brokerPort);
    m_user->setText(s.user);
    m_password->setText(s.password);
    m_ca->setText(s.tlsCa);
    m_certificate->setText(s.tlsCertificate);
    m_key->setText(s.tlsKey);
    m_station->setText(s.station);
    m_prefix->setText(s.prefix == QLatin1String("tolva") ? QString() : s.prefix);
    m_values->setChecked(s.publishValues);
    m_records->setChecked(s.publishRecords);
}

QString NetworkDialog::problem() const
{
    return m_problem->text();
}

bool NetworkDialog::save()
{
    NetworkSettings s;
    s.brokerHost = m_host->text().trimmed();
    s.brokerPort = m_port->value();
    s.user = m_user->text().trimmed();
    s.password = m_password->text();
    s.tlsCa = m_ca->text().trimmed();
    s.tlsCertificate = m_certificate->text().trimmed();
    s.tlsKey = m_key->text().trimmed();
    s.station = m_station->text().trimmed();
    s.prefix = m_prefix->text().trimmed().isEmpty() ? QStringLiteral("tolva") : m_prefix->text().trimmed();
    s.publishValues = m_values->isChecked();
    s.publishRecords = m_records->isChecked();
    QString error;
    if (!s.save(m_configDirectory, &error)) {
        m_problem->setText(error);
        adjustSize();
        return false;
    }
    m_problem->clear();
    return true;
}

void NetworkDialog::accept()
{
    if (save())
        QDialog::accept();
}
