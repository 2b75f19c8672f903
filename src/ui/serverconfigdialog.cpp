#include "ui/serverconfigdialog.h"

#include "core/outsidetext.h"
#include "server/relayserver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// Rows sort by text without regard to case, as names are matched at log-in.
class UserRow : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem &other) const override
    {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        const int c = text(column).compare(other.text(column), Qt::CaseInsensitive);
        return c != 0 ? c < 0 : text(column) < other.text(column);
    }
};

bool fitsLatin1(const QString &text)
{
    for (QChar c : text)
        if (c.unicode() > 0xFF)
            return false;
    return true;
}

} // namespace

QString ServerConfigDialog::unstorableUser(const UserTable &users)
{
    for (const UserAccount &u : users) {
        if (!fitsLatin1(u.name) || !fitsLatin1(u.password))
            return QStringLiteral("The user name or password of \"%1\" holds characters the user file cannot "
                                  "store. Use letters, digits and signs of Western European languages only.")
                .arg(u.name);
    }
    return QString();
}

ServerConfigDialog::ServerConfigDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("SConfigure"));
    setWindowTitle(QStringLiteral("Configure Server"));
    setModal(true);
    auto *layout = new QVBoxLayout(this);
    m_pages = new QTabWidget(this);
    layout->addWidget(m_pages);

    // Page "Settings"
    auto *settings = new QWidget(m_pages);
    auto *grid = new QGridLayout(settings);
    grid->addWidget(new QLabel(QStringLiteral("Connection "), settings), 0, 0);
    m_connection = new QComboBox(settings);
    m_connection->setObjectName(QStringLiteral("ComboBox1"));
    m_connection->addItem(QStringLiteral("None"));
    for (int i = 1; i <= 8; ++i)
        m_connection->addItem(QStringLiteral("Connect #%1").arg(i));
    m_connection->addItem(QStringLiteral("  Log File"));
    grid->addWidget(m_connection, 1, 0);
    grid->addWidget(new QLabel(QStringLiteral("Listening Port:"), settings), 2, 0);
    m_port = new QLineEdit(settings);
    m_port->setObjectName(QStringLiteral("EditPort"));
    grid->addWidget(m_port, 3, 0);
    grid->addWidget(new QLabel(QStringLiteral("Bind Address:"), settings), 4, 0);
    m_bind = new QLineEdit(settings);
    m_bind->setObjectName(QStringLiteral("EditBind"));
    m_bind->setPlaceholderText(QStringLiteral("all interfaces"));
    m_bind->setToolTip(QStringLiteral("The IP address of this computer to listen on, e.g. 127.0.0.1; empty: all interfaces."));
    grid->addWidget(m_bind, 5, 0);
    grid->addWidget(new QLabel(QStringLiteral("Allowed Clients:"), settings), 6, 0);
    m_allowed = new QLineEdit(settings);
    m_allowed->setObjectName(QStringLiteral("EditAllowed"));
    m_allowed->setPlaceholderText(QStringLiteral("all addresses"));
    m_allowed->setToolTip(QStringLiteral("Addresses or networks that may connect, separated by commas, "
                                         "e.g. 192.168.1.0/24, 10.0.0.5, 2001:db8::/64; empty: all addresses."));
    grid->addWidget(m_allowed, 7, 0);
    m_startup = new QCheckBox(QStringLiteral("Enable on StartUp"), settings);
    m_auth = new QCheckBox(QStringLiteral("Require Authentication"), settings);
    grid->addWidget(m_startup, 8, 0);
    grid->addWidget(m_auth, 9, 0);
    // The analyzer's dialect has no log-in: the flag can only keep its
    // clients from changing the analyzer.
    const QString kxNote = QStringLiteral("A KX-71 source's clients have no log-in: with this on they may read "
                                          "data but not change the analyzer's settings.");
    m_auth->setToolTip(kxNote);
    auto *authNote = new QLabel(kxNote, settings);
    authNote->setWordWrap(true);
    grid->addWidget(authNote, 10, 0);
    grid->setRowStretch(11, 1);
    m_pages->addTab(settings, QStringLiteral("Settings"));

    // Page "Manage Users"
    auto *usersPage = new QWidget(m_pages);
    auto *users = new QGridLayout(usersPage);
    m_users = new QTreeWidget(usersPage);
    m_users->setObjectName(QStringLiteral("ListView1"));
    m_users->setHeaderLabels({QStringLiteral("User Name"), QStringLiteral("Password"), QStringLiteral("Authorization")});
    m_users->setRootIsDecorated(false);
    m_users->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_users->setSelectionMode(QAbstractItemView::SingleSelection);
    m_users->setSelectionBehavior(QAbstractItemView::SelectRows);
    for (int i = 0; i < 3; ++i)
        m_users->setColumnWidth(i, 90);
    m_users->setSortingEnabled(true);
    m_users->sortByColumn(0, Qt::AscendingOrder);
    users->addWidget(m_users, 0, 0, 1, 4);
    users->addWidget(new QLabel(QStringLiteral("User Name"), usersPage), 1, 0);
    users->addWidget(new QLabel(QStringLiteral("Password"), usersPage), 1, 1);
    users->addWidget(new QLabel(QStringLiteral("Authorization"), usersPage), 1, 2);
    m_name = new QLineEdit(usersPage);
    m_name->setObjectName(QStringLiteral("EditUser"));
    m_name->setMaxLength(12);
    m_password = new QLineEdit(usersPage);
    m_password->setObjectName(QStringLiteral("EditPass"));
    m_password->setMaxLength(12);
    m_authorization = new QComboBox(usersPage);
    m_authorization->addItems({QStringLiteral("<none>"), QStringLiteral("Observer"), QStringLiteral("Operator"),
                               QStringLiteral("Supervisor")});
    m_authorization->setCurrentIndex(1);
    users->addWidget(m_name, 2, 0);
    users->addWidget(m_password, 2, 1);
    users->addWidget(m_authorization, 2, 2);
    auto *add = new QPushButton(QStringLiteral("Add "), usersPage);
    auto *del = new QPushButton(QStringLiteral("Delete"), usersPage);
    users->addWidget(add, 3, 0);
    users->addWidget(del, 3, 1);
    m_pages->addTab(usersPage, QStringLiteral("Manage Users"));

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto *applyButton = new QPushButton(QStringLiteral("Apply"), this);
    auto *saveButton = new QPushButton(QStringLiteral("Save"), this);
    auto *cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    for (QPushButton *b : {applyButton, saveButton, cancelButton})
        buttons->addWidget(b);
    layout->addLayout(buttons);

    connect(m_users, &QTreeWidget::itemSelectionChanged, this, &ServerConfigDialog::rowSelected);
    // Edits go straight into the selected row (only the operator's, not ours).
    connect(m_name, &QLineEdit::textEdited, this, [this](const QString &text) {
        if (QTreeWidgetItem *row = selectedRow())
            row->setText(0, text);
    });
    connect(m_password, &QLineEdit::textEdited, this, [this](const QString &text) {
        if (QTreeWidgetItem *row = selectedRow())
            row->setText(1, text);
    });
    connect(m_authorization, &QComboBox::activated, this, [this](int index) {
        if (QTreeWidgetItem *row = selectedRow())
            row->setText(2, m_authorization->itemText(index));
    });
    connect(add, &QPushButton::clicked, this, &ServerConfigDialog::addUser);
    connect(del, &QPushButton::clicked, this, &ServerConfigDialog::deleteUser);
    connect(applyButton, &QPushButton::clicked, this, &ServerConfigDialog::apply);
    connect(saveButton, &QPushButton::clicked, this, &ServerConfigDialog::save);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(this, &ServerConfigDialog::saveFailed, this, [this](const QString &error) {
        auto *box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Server"), error, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    });
}

void ServerConfigDialog::activate(RelayServer *server)
{
    m_server = server;
    if (!server)
        return;
    const ServerSettings &s = server->settings();
    m_connection->setCurrentIndex(s.source >= 0 && s.source <= 9 ? s.source : 0);
    m_port->setText(QString::number(s.listenPort));
    m_bind->setText(s.bindAddress);
    m_allowed->setText(serverfiles::networksText(s.allowedClients));
    m_startup->setChecked(s.enableOnStartup);
    m_auth->setChecked(s.requireAuth);
    m_users->clear();
    for (const UserAccount &u : server->users())
        new UserRow(m_users, {u.name, u.password, u.authorization});
    m_name->clear();
    m_password->clear();
}

QTreeWidgetItem *ServerConfigDialog::selectedRow() const
{
    const QList<QTreeWidgetItem *> selected = m_users->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

void ServerConfigDialog::rowSelected()
{
    QTreeWidgetItem *row = selectedRow();
    if (!row)
        return;
    m_name->setText(row->text(0));
    m_password->setText(row->text(1));
    const int index = m_authorization->findText(row->text(2), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0)
        m_authorization->setCurrentIndex(index);
}

void ServerConfigDialog::addUser()
{
    QTreeWidgetItem *row = nullptr;
    for (int i = 0; i < m_users->topLevelItemCount() && !row; ++i) {
        QTreeWidgetItem *item = m_users->topLevelItem(i);
        if (item->text(0).compare(kNewUser, Qt::CaseInsensitive) == 0)
            row = item;
    }
    if (!row)
        row = new UserRow(m_users, {kNewUser, QStringLiteral("<temp key>"), QStringLiteral("<none>")});
    m_users->clearSelection();
    m_users->setCurrentItem(row);
    row->setSelected(true);
    m_pages->setCurrentIndex(1);
    // The name is shown selected, so that typing replaces "<new user>".
    rowSelected();
    m_name->setFocus();
    m_name->selectAll();
}

void ServerConfigDialog::deleteUser()
{
    if (QTreeWidgetItem *row = selectedRow())
        delete row;
    m_users->clearSelection();
    m_users->setCurrentItem(nullptr);
    m_name->clear();
    m_password->clear();
    m_authorization->setCurrentIndex(1); // "Observer"
}

UserTable ServerConfigDialog::dialogUsers() const
{
    UserTable out;
    for (int i = 0; i < m_users->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *item = m_users->topLevelItem(i);
        out.append({item->text(0), item->text(1), item->text(2)});
    }
    return out;
}

void ServerConfigDialog::takeOver()
{
    ServerSettings s = m_server->settings();
    s.source = m_connection->currentIndex();
    s.enableOnStartup = m_startup->isChecked();
    s.requireAuth = m_auth->isChecked();
    s.listenPort = m_port->text().toInt(); // checked by settingsUsable()
    s.bindAddress = m_bind->text().trimmed();
    QString unused;
    serverfiles::parseNetworks(m_allowed->text(), s.allowedClients, unused); // checked by settingsUsable()
    m_server->takeOver(s, dialogUsers());
}

QString ServerConfigDialog::unusablePort(const QString &text)
{
    bool ok = false;
    const int port = text.toInt(&ok, 10);
    if (ok && port >= 1 && port <= 65535)
        return QString();
    // Port 0 would have the system pick one that no viewer knows.
    return QStringLiteral("The Listening Port must be a number from 1 to 65535")
        + (text.isEmpty() ? QStringLiteral(".") : QStringLiteral(", not \"%1\".").arg(outsidetext::shown(text, 20)));
}

QString ServerConfigDialog::unusableNetworks(const QString &text)
{
    QStringList networks;
    QString error;
    if (serverfiles::parseNetworks(text, networks, error) && fitsLatin1(text))
        return QString();
    return QStringLiteral("Allowed Clients: ") + (error.isEmpty() ? QStringLiteral("only addresses and networks")
                                                                    : error)
        + QStringLiteral(".");
}

bool ServerConfigDialog::settingsUsable()
{
    QString problem = unusablePort(m_port->text());
    QLineEdit *wrong = m_port;
    if (problem.isEmpty()) {
        problem = unusableNetworks(m_allowed->text());
        wrong = m_allowed;
    }
    if (!problem.isEmpty()) {
        m_pages->setCurrentIndex(0);
        wrong->setFocus();
        wrong->selectAll();
    } else {
        problem = unstorableUser(dialogUsers());
    }
    if (problem.isEmpty())
        return true;
    m_lastRefusal = problem;
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Configure Server"), problem, QMessageBox::Ok,
                                this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return false;
}

void ServerConfigDialog::apply()
{
    if (!settingsUsable())
        return;
    accept();
    if (!m_server)
        return;
    takeOver();
    m_server->enable();
}

void ServerConfigDialog::save()
{
    if (!settingsUsable())
        return;
    accept();
    if (!m_server)
        return;
    takeOver();
    QString error;
    if (!m_server->save(error))
        emit saveFailed(error);
    m_server->enable();
}
