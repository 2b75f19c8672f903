#pragma once
// "Configure Server": the source, port and switches of one relay server and
// its user accounts. The user list is a working copy that replaces the
// server's table on "Apply" or "Save"; "Cancel" leaves the server alone.
#include "server/useraccounts.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;
class RelayServer;

class ServerConfigDialog : public QDialog {
    Q_OBJECT
public:
    static inline const QString kNewUser = QStringLiteral("<new user>");

    explicit ServerConfigDialog(QWidget *parent = nullptr);

    // Fills the controls from the server; call before showing the dialog.
    void activate(RelayServer *server);
    RelayServer *server() const { return m_server; }

    // The buttons' actions, also for tests.
    void addUser();
    void deleteUser();
    void apply();
    void save();

    // The working copy, in the list's order.
    UserTable dialogUsers() const;

    // Why the users cannot be stored in the user file (a name or password
    // beyond Latin-1); empty when they can.
    static QString unstorableUser(const UserTable &users);
    // Why the text is no listening port (1 to 65535); empty when it is one.
    static QString unusablePort(const QString &text);
    // Why the text is no list of allowed client networks; empty when it is.
    static QString unusableNetworks(const QString &text);
    // The text of the last refusal shown by "Apply" or "Save".
    QString lastRefusal() const { return m_lastRefusal; }

    QTabWidget *pages() const { return m_pages; }
    QComboBox *connectionBox() const { return m_connection; }
    QLineEdit *portEdit() const { return m_port; }
    QLineEdit *bindEdit() const { return m_bind; }
    QLineEdit *allowedEdit() const { return m_allowed; }
    QCheckBox *startupBox() const { return m_startup; }
    QCheckBox *authBox() const { return m_auth; }
    QTreeWidget *userList() const { return m_users; }
    QLineEdit *nameEdit() const { return m_name; }
    QLineEdit *passwordEdit() const { return m_password; }
    QComboBox *authorizationBox() const { return m_authorization; }

signals:
    // "Save" could not write the server's files.
    void saveFailed(const QString &error);

private:
    void takeOver();
    bool settingsUsable();
    void rowSelected();
    QTreeWidgetItem *selectedRow() const;

    RelayServer *m_server = nullptr;
    QTabWidget *m_pages;
    QComboBox *m_connection;
    QLineEdit *m_port;
    QLineEdit *m_bind;
    QLineEdit *m_allowed;
    QCheckBox *m_startup;
    QCheckBox *m_auth;
    QTreeWidget *m_users;
    QLineEdit *m_name;
    QLineEdit *m_password;
    QComboBox *m_authorization;
    QString m_lastRefusal;
};
