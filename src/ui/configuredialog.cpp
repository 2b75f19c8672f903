#include "ui/configuredialog.h"

#include "connection/connectionpage.h"
#include "connection/session.h"
#include "connection/settingsapply.h"
#include "core/configfiles.h"
#include "core/outsidetext.h"
#include "link/comportmap.h"
#include "ui/pathdialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

QLineEdit *lineEdit(const QString &name, int maxLength, QWidget *parent)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(name);
    if (maxLength > 0)
        edit->setMaxLength(maxLength);
    return edit;
}

// "COM3  /dev/ttyUSB0": the name the settings know and the device it is here.
void fillPorts(QComboBox *box, const ComPortMap *ports)
{
    const int keep = box->currentIndex();
    box->clear();
    for (int i = 0; i < ComPortMap::kPorts; ++i) {
        const QString device = ports ? ports->devicePath(i) : ComPortMap::defaultPath(i);
        box->addItem(QStringLiteral("COM%1   %2").arg(i + 1).arg(device));
    }
    box->setCurrentIndex(keep);
}

void setIndex(QComboBox *box, int index)
{
    box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
}

const QString kWesternOnly = QStringLiteral(" Use letters, digits and signs of Western European languages only.");

} // namespace

// Why a text cannot go into the 8-bit settings file; empty when it can.
// A password's characters are not repeated in the message.
QString ConfigureDialog::unstorableText(const QString &field, const QString &text, bool secret)
{
    if (configfiles::storable(text))
        return QString();
    if (secret)
        return QStringLiteral("The %1 holds characters the settings file cannot store (passwords are kept in "
                              "upper case).")
                   .arg(field)
            + kWesternOnly;
    return QStringLiteral("The %1 holds characters the settings file cannot store: \"%2\".")
               .arg(field, outsidetext::shown(configfiles::unstorable(text), 20))
        + kWesternOnly;
}

// A port a network link can use: 1 to 65535. Where the link is no network
// link the port is not used, and the "0" the settings hold then may stay.
bool ConfigureDialog::portUsable(const QString &text, bool network, int *port)
{
    int value = 0;
    bool ok = true;
    if (!text.trimmed().isEmpty())
        value = text.toInt(&ok, 10);
    if (!ok || value < (network ? 1 : 0) || value > 65535)
        return false;
    if (port)
        *port = value;
    return true;
}

ConfigureDialog::ConfigureDialog(PathDialog *pathDialog, PasswordDialog *passwordDialog, QWidget *parent)
    : QDialog(parent), m_pathDialog(pathDialog), m_passwordDialog(passwordDialog)
{
    setObjectName(QStringLiteral("Configure"));
    setWindowTitle(QStringLiteral("Configure Connection"));
    setModal(true);
    auto *layout = new QVBoxLayout(this);
    m_notebook = new QTabWidget(this);
    m_notebook->setObjectName(QStringLiteral("PageControl1"));
    m_notebook->setMinimumWidth(540); // all six tabs in view
    layout->addWidget(m_notebook);
    buildHardwarePage();
    buildConnectionPage();
    buildSerialPages();
    buildNetworkPage();
    buildLoggingPage();

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto *applyButton = new QPushButton(QStringLiteral("Apply"), this);
    auto *saveButton = new QPushButton(QStringLiteral("Save"), this);
    auto *cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    applyButton->setObjectName(QStringLiteral("ButtonApply"));
    saveButton->setObjectName(QStringLiteral("ButtonSave"));
    cancelButton->setObjectName(QStringLiteral("ButtonCancel"));
    for (QPushButton *b : {applyButton, saveButton, cancelButton})
        buttons->addWidget(b);
    layout->addLayout(buttons);
    connect(applyButton, &QPushButton::clicked, this, &ConfigureDialog::apply);
    connect(saveButton, &QPushButton::clicked, this, &ConfigureDialog::save);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(this, &ConfigureDialog::saveFailed, this, [this](const QString &error) {
        auto *box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Server"), error, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    });
    // Not resizable.
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void ConfigureDialog::buildHardwarePage()
{
    auto *page = new QWidget(m_notebook);
    auto *layout = new QVBoxLayout(page);
    m_hardwareBox = new QGroupBox(QStringLiteral("Hardware"), page);
    m_hardwareBox->setObjectName(QStringLiteral("RadioGroup1"));
    auto *radios = new QVBoxLayout(m_hardwareBox);
    m_hardware = new QButtonGroup(this);
    const char *labels[] = {"Arxon System", "KX-71", "HD System", "KF-71"};
    for (int i = 0; i < 4; ++i) {
        auto *radio = new QRadioButton(QString::fromLatin1(labels[i]), m_hardwareBox);
        m_hardware->addButton(radio, i);
        radios->addWidget(radio);
    }
    layout->addWidget(m_hardwareBox);
    auto *password = new QHBoxLayout;
    password->addWidget(new QLabel(QStringLiteral("Password:"), page));
    m_password = lineEdit(QStringLiteral("EditPassword"), 12, page);
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setStyleSheet(QStringLiteral("lineedit-password-character: 42;")); // "*"
    password->addWidget(m_password);
    layout->addLayout(password);
    m_changePassword = new QPushButton(QStringLiteral("Change Password"), page);
    m_changePassword->setObjectName(QStringLiteral("ButtonPassword"));
    layout->addWidget(m_changePassword, 0, Qt::AlignLeft);
    layout->addStretch(1);
    m_notebook->addTab(page, QStringLiteral("Hardware Type"));

    connect(m_hardware, &QButtonGroup::idClicked, this, &ConfigureDialog::rebuildChoices);
    connect(m_changePassword, &QPushButton::clicked, this, &ConfigureDialog::changePassword);
}

void ConfigureDialog::buildConnectionPage()
{
    auto *page = new QWidget(m_notebook);
    auto *layout = new QVBoxLayout(page);
    m_connectionBox = new QGroupBox(QStringLiteral("Connection"), page);
    m_connectionBox->setObjectName(QStringLiteral("RadioGroup2"));
    m_connectionLayout = new QVBoxLayout(m_connectionBox);
    m_connection = new QButtonGroup(this);
    layout->addWidget(m_connectionBox);
    m_autoConnect = new QCheckBox(QStringLiteral("Connect on Startup"), page);
    m_autoConnect->setObjectName(QStringLiteral("CheckBoxAuto"));
    layout->addWidget(m_autoConnect);
    m_autoReconnect = new QCheckBox(QStringLiteral("Reconnect automatically"), page);
    m_autoReconnect->setObjectName(QStringLiteral("CheckBoxReconnect"));
    layout->addWidget(m_autoReconnect);
    auto *names = new QFormLayout;
    m_name = lineEdit(QStringLiteral("EditName"), 10, page);
    m_rack = lineEdit(QStringLiteral("EditRack"), 10, page);
    names->addRow(QStringLiteral("Connection Name:"), m_name);
    names->addRow(QStringLiteral("Rack Name:"), m_rack);
    layout->addLayout(names);
    layout->addStretch(1);
    m_notebook->addTab(page, QStringLiteral("Connection Type"));
}

void ConfigureDialog::buildSerialPages()
{
    auto *serial = new QWidget(m_notebook);
    auto *grid = new QFormLayout(serial);
    m_comPort = new QComboBox(serial);
    m_comPort->setObjectName(QStringLiteral("ComboBoxCom"));
    m_baud = new QComboBox(serial);
    m_baud->setObjectName(QStringLiteral("ComboBoxBaud"));
    grid->addRow(QStringLiteral("COM  PORT"), m_comPort);
    grid->addRow(QStringLiteral("BAUD RATE"), m_baud);
    auto *detect = new QPushButton(QStringLiteral("Auto Detect"), serial);
    detect->setEnabled(false);
    grid->addRow(QString(), detect);
    for (const char *note : {"KH-71 Baud Rate ", "Vesion 4.0 and higher   115200", "All other versions    57600"}) {
        auto *label = new QLabel(QString::fromLatin1(note), serial);
        m_hdNotes << label;
        grid->addRow(QString(), label);
    }
    m_notebook->addTab(serial, QStringLiteral("RS-232"));

    auto *modem = new QWidget(m_notebook);
    auto *form = new QFormLayout(modem);
    m_modemPort = new QComboBox(modem);
    m_modemPort->setObjectName(QStringLiteral("ComboBoxModem"));
    m_phone = lineEdit(QStringLiteral("EditPhone"), 0, modem);
    form->addRow(QStringLiteral("Modem"), m_modemPort);
    form->addRow(QStringLiteral("Phone Number "), m_phone);
    m_notebook->addTab(modem, QStringLiteral("MODEM"));
    fillPorts(m_comPort, nullptr);
    fillPorts(m_modemPort, nullptr);
}

void ConfigureDialog::buildNetworkPage()
{
    auto *page = new QWidget(m_notebook);
    auto *form = new QFormLayout(page);
    m_ip = lineEdit(QStringLiteral("EditIP"), 15, page);
    m_port = lineEdit(QStringLiteral("EditPort"), 0, page);
    m_host = lineEdit(QStringLiteral("EditHost"), 64, page);
    m_useHost = new QCheckBox(QStringLiteral("Use Host Name"), page);
    form->addRow(QStringLiteral("IP ADDRESS"), m_ip);
    form->addRow(QStringLiteral("PORT"), m_port);
    form->addRow(QStringLiteral("Host Name"), m_host);
    form->addRow(QString(), m_useHost);
    m_notebook->addTab(page, QStringLiteral("Network"));
}

void ConfigureDialog::buildLoggingPage()
{
    auto *page = new QWidget(m_notebook);
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(new QLabel(QStringLiteral("Log File Path"), page));
    auto *pathRow = new QHBoxLayout;
    m_logPath = lineEdit(QStringLiteral("EditPath"), 0, page);
    m_logPath->setReadOnly(true);
    m_logPath->setMinimumWidth(260);
    auto *change = new QPushButton(QStringLiteral("Change Path"), page);
    change->setObjectName(QStringLiteral("ButtonPath"));
    pathRow->addWidget(m_logPath, 1);
    pathRow->addWidget(change);
    layout->addLayout(pathRow);
    layout->addWidget(new QLabel(QStringLiteral("Log Filename Prefix"), page));
    m_prefix = lineEdit(QStringLiteral("EditPrefix"), 0, page);
    layout->addWidget(m_prefix);
    m_logging = new QCheckBox(QStringLiteral("Enable Logging"), page);
    m_logging->setObjectName(QStringLiteral("CheckBoxLog"));
    layout->addWidget(m_logging);
    layout->addStretch(1);
    m_notebook->addTab(page, QStringLiteral("Logging"));
    connect(change, &QPushButton::clicked, this, &ConfigureDialog::changePath);
}

void ConfigureDialog::activate(ConnectionPage *page, const ComPortMap *ports)
{
    m_page = page;
    if (!page)
        return;
    m_baseDirectory = page->baseDirectory();
    const ConnectionSettings &s = page->settings();
    if (QAbstractButton *b = m_hardware->button(s.hardwareType)) {
        b->setChecked(true);
    } else {
        m_hardware->setExclusive(false);
        for (QAbstractButton *button : m_hardware->buttons())
            button->setChecked(false);
        m_hardware->setExclusive(true);
    }
    m_password->setText(s.password);
    m_autoConnect->setChecked(s.autoConnect);
    m_autoReconnect->setChecked(s.autoReconnect);
    m_name->setText(s.connectionName);
    m_rack->setText(s.rackName);
    fillPorts(m_comPort, ports);
    fillPorts(m_modemPort, ports);
    setIndex(m_comPort, s.serialPort);
    setIndex(m_modemPort, s.modemPort);
    m_phone->setText(s.phoneNumber);
    m_ip->setText(s.ipAddress);
    m_port->setText(QString::number(s.portNumber));
    m_host->setText(s.hostName);
    m_useHost->setChecked(s.useHostName);
    m_logPath->setText(s.logDirectory);
    m_prefix->setText(s.logPrefix);
    m_logging->setChecked(s.logEnabled);
    rebuildChoices(s.hardwareType);
    // A page reached through another station's relay has no unit password to change.
    m_changePassword->setVisible(!page->record().viaRelay);
    m_changePassword->setEnabled(s.hardwareType == 0 && !page->record().viaRelay);
}

void ConfigureDialog::rebuildChoices(int hardwareType)
{
    const ConnectionSettings stored = m_page ? m_page->settings() : ConnectionSettings();
    const settingsapply::Choices c = settingsapply::choices(hardwareType, stored);
    for (QAbstractButton *b : m_connection->buttons()) {
        m_connection->removeButton(b);
        delete b;
    }
    for (int i = 0; i < c.connections.size(); ++i) {
        auto *radio = new QRadioButton(c.connections[i], m_connectionBox);
        m_connection->addButton(radio, i);
        m_connectionLayout->addWidget(radio);
        radio->setChecked(i == c.connectionIndex);
        radio->show(); // at once, also while the dialog is open

    }
    m_baud->clear();
    m_baud->addItems(c.bauds);
    m_baud->setCurrentIndex(c.baudIndex);
    for (QLabel *note : m_hdNotes)
        note->setVisible(c.hdBaudNotes);
}

bool ConfigureDialog::hdNotesShown() const
{
    return !m_hdNotes.isEmpty() && !m_hdNotes.first()->isHidden();
}

int ConfigureDialog::checkedHardware() const
{
    return m_hardware->checkedId();
}

int ConfigureDialog::checkedConnection() const
{
    return m_connection->checkedId();
}

ConnectionSettings ConfigureDialog::edited() const
{
    ConnectionSettings s = m_page ? m_page->settings() : ConnectionSettings();
    if (checkedHardware() >= 0)
        s.hardwareType = checkedHardware();
    s.password = m_password->text().toUpper();
    if (checkedConnection() >= 0)
        s.connectionType = checkedConnection();
    s.autoConnect = m_autoConnect->isChecked();
    s.autoReconnect = m_autoReconnect->isChecked();
    s.connectionName = m_name->text();
    s.rackName = m_rack->text();
    s.serialPort = m_comPort->currentIndex();
    s.baudIndex = m_baud->currentIndex();
    s.modemPort = m_modemPort->currentIndex();
    s.phoneNumber = m_phone->text();
    s.ipAddress = m_ip->text();
    s.useHostName = m_useHost->isChecked();
    s.hostName = m_host->text();
    int port = 0;
    s.portNumber = portUsable(m_port->text(), checkedConnection() == 1, &port) ? port : 0;
    s.logDirectory = m_logPath->text();
    s.logPrefix = m_prefix->text();
    s.logEnabled = m_logging->isChecked();
    return s;
}

QString ConfigureDialog::refusal(QWidget **field) const
{
    const struct {
        const char *name;
        QLineEdit *edit;
        QString text;
        bool secret;
    } texts[] = {
        {"Password", m_password, m_password->text().toUpper(), true},
        {"Connection Name", m_name, m_name->text(), false},
        {"Rack Name", m_rack, m_rack->text(), false},
        {"Phone Number", m_phone, m_phone->text(), false},
        {"IP ADDRESS", m_ip, m_ip->text(), false},
        {"Host Name", m_host, m_host->text(), false},
        {"Log File Path", m_logPath, m_logPath->text(), false},
        {"Log Filename Prefix", m_prefix, m_prefix->text(), false},
    };
    for (const auto &t : texts) {
        const QString why = unstorableText(QString::fromLatin1(t.name), t.text, t.secret);
        if (!why.isEmpty()) {
            if (field)
                *field = t.edit;
            return why;
        }
    }
    const QString port = m_port->text();
    if (!portUsable(port, checkedConnection() == 1, nullptr)) {
        if (field)
            *field = m_port;
        return QStringLiteral("The PORT on the \"Network\" page must be a number from 1 to 65535")
            + (port.isEmpty() ? QStringLiteral(".")
                              : QStringLiteral(", not \"%1\".").arg(outsidetext::shown(port, 20)));
    }
    return QString();
}

void ConfigureDialog::refuse(const QString &text, QWidget *field)
{
    m_lastRefusal = text;
    // The field is shown and selected, so the next keys replace what was refused.
    if (field) {
        for (int i = 0; i < m_notebook->count(); ++i)
            if (m_notebook->widget(i)->isAncestorOf(field))
                m_notebook->setCurrentIndex(i);
        field->setFocus();
        if (auto *edit = qobject_cast<QLineEdit *>(field))
            edit->selectAll();
    }
    auto *box = new QMessageBox(QMessageBox::Warning, windowTitle(), text, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("Refusal"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

bool ConfigureDialog::storable()
{
    QWidget *field = nullptr;
    const QString why = refusal(&field);
    if (why.isEmpty())
        return true;
    refuse(why, field);
    return false;
}

bool ConfigureDialog::applyToPage()
{
    // Nothing is applied, saved or closed while a field cannot be stored.
    if (!storable())
        return false;
    accept();
    if (!m_page)
        return false;
    settingsapply::apply(*m_page, edited());
    return true;
}

void ConfigureDialog::apply()
{
    if (applyToPage())
        emit captionsChanged();
}

void ConfigureDialog::save()
{
    if (!applyToPage())
        return;
    QString error;
    if (!m_page->saveSettings(&error))
        emit saveFailed(error);
    emit captionsChanged();
}

void ConfigureDialog::changePath()
{
    if (!m_pathDialog->setDirectory(m_logPath->text())) {
        m_logPath->setText(m_baseDirectory + QStringLiteral("/LOG/"));
        m_pathDialog->setDirectory(m_logPath->text());
    }
    // The same directory keeps its spelling ("LOG/" stays "LOG/"), so that
    // "Apply" does not take it for a new one.
    if (m_pathDialog->exec() == QDialog::Accepted
        && !settingsapply::sameDirectory(m_pathDialog->directory(), m_logPath->text()))
        m_logPath->setText(m_pathDialog->directory());
}

void ConfigureDialog::changePassword()
{
    if (!m_page)
        return;
    // The change is a talk with the unit: without the link there is nobody to
    // talk to, and this dialog stays open with its edits.
    if (!m_page->record().portOpen) {
        refuse(QStringLiteral("The unit must be connected to change its password. Press \"Connect\" on the "
                              "page first; your other changes here are kept."),
               nullptr);
        return;
    }
    if (m_passwordDialog->exec() != QDialog::Accepted)
        return;
    // The other edits are not applied: the change runs on the page as it is.
    if (Session *session = m_page->session())
        session->setNewPassword(m_passwordDialog->newPassword().toLatin1());
    m_page->startPasswordChange();
    accept();
}
