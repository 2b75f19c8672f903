// The server page view, the "Configure Server" dialog and the log window.
#include "core/messagelog.h"
#include "core/socketerrors.h"
#include "server/relayserver.h"
#include "support/fakeclock.h"
#include "support/freeport.h"
#include "ui/serverconfigdialog.h"
#include "ui/serverlogwindow.h"
#include "ui/serverpageview.h"
#include "ui/windowtest.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

class ServerWindows : public ::testing::Test {
protected:
    void SetUp() override
    {
        log.setEchoToStderr(false);
        socketerrors::Hook::instance().install(&log);
        server = std::make_unique<RelayServer>(2, dir.path(), log, clock, [](int) { return nullptr; });
        server->setTimerRunning(false);
        server->setSettings({4, true, 0, false});
        server->setUsers({{"zed", "z", "Observer"}, {"amy", "a", "Supervisor"}, {"bob", "b", "odd"}});
    }
    void TearDown() override { socketerrors::Hook::instance().install(nullptr); }

    QTemporaryDir dir;
    FakeClock clock;
    MessageLog log{clock};
    std::unique_ptr<RelayServer> server;
};

TEST_F(ServerWindows, PageViewShowsStatusAndClients)
{
    ServerPageView view(server.get());
    EXPECT_EQ(view.objectName(), QString("Server2"));
    const QStringList cols{"Host", "Address", "Port", "Status"};
    EXPECT_EQ(headers(view.statusList()), cols);
    EXPECT_EQ(headers(view.clientList()), cols);
    EXPECT_EQ(view.clientList()->columnWidth(3), 59);
    EXPECT_EQ(view.statusList()->topLevelItem(0)->text(3), QString("Disabled"));
    EXPECT_EQ(view.connectionsLabel()->text(), QString("Connections: 0"));
    QStringList buttons;
    for (const char *name : {"ButtonS1", "ButtonS2", "ButtonS3", "ButtonS4"})
        buttons << view.findChild<QPushButton *>(name)->text();
    EXPECT_EQ(buttons, (QStringList{"Enable", "Configure", "View Log", "Disable"}));

    view.findChild<QPushButton *>("ButtonS1")->click();
    EXPECT_TRUE(server->isEnabled());
    EXPECT_EQ(view.statusList()->topLevelItem(0)->text(3), QString("Enabled"));
    EXPECT_EQ(view.statusList()->topLevelItem(0)->text(2), QString("0"));
    view.findChild<QPushButton *>("ButtonS4")->click();
    EXPECT_EQ(view.statusList()->topLevelItem(0)->text(3), QString("Disabled"));
    view.grab().save(shotPath("server-page.png")); // for people to look at
}

TEST_F(ServerWindows, DialogCaptionsAndActivation)
{
    ServerConfigDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), QString("Configure Server"));
    EXPECT_EQ(dialog.pages()->tabText(0), QString("Settings"));
    EXPECT_EQ(dialog.pages()->tabText(1), QString("Manage Users"));
    EXPECT_EQ(dialog.connectionBox()->count(), 10);
    EXPECT_EQ(dialog.connectionBox()->itemText(9), QString("  Log File"));
    EXPECT_EQ(headers(dialog.userList()), (QStringList{"User Name", "Password", "Authorization"}));
    dialog.activate(server.get());
    EXPECT_EQ(dialog.connectionBox()->currentText(), QString("Connect #4"));
    EXPECT_EQ(dialog.portEdit()->text(), QString("0"));
    EXPECT_TRUE(dialog.startupBox()->isChecked());
    EXPECT_FALSE(dialog.authBox()->isChecked());
    // Sorted by user name.
    EXPECT_EQ(dialog.userList()->topLevelItem(0)->text(0), QString("amy"));

    // Selecting a row fills the fields; an unknown authorization leaves the drop-down.
    dialog.authorizationBox()->setCurrentIndex(2);
    dialog.userList()->topLevelItem(1)->setSelected(true); // "bob", "odd"
    EXPECT_EQ(dialog.nameEdit()->text(), QString("bob"));
    EXPECT_EQ(dialog.passwordEdit()->text(), QString("b"));
    EXPECT_EQ(dialog.authorizationBox()->currentText(), QString("Operator"));
    dialog.pages()->setCurrentIndex(1);
    dialog.grab().save(shotPath("server-config-users.png"));
    dialog.pages()->setCurrentIndex(0);
    dialog.grab().save(shotPath("server-config-settings.png"));
    ServerLogWindow logWindow;
    EXPECT_EQ(logWindow.windowTitle(), QString("Server Connections Log"));
    EXPECT_EQ(headers(logWindow.list()), (QStringList{"Host", "Address", "Port", "Date", "Time"}));
}

TEST_F(ServerWindows, AddAndDeleteRules)
{
    ServerConfigDialog dialog;
    dialog.activate(server.get());
    dialog.addUser();
    dialog.addUser();
    int newRows = 0;
    for (const UserAccount &u : dialog.dialogUsers())
        newRows += u.name == "<new user>";
    EXPECT_EQ(newRows, 1);
    ASSERT_EQ(dialog.userList()->selectedItems().size(), 1);
    EXPECT_EQ(dialog.userList()->selectedItems()[0]->text(0), QString("<new user>"));
    EXPECT_EQ(dialog.nameEdit()->selectedText(), QString("<new user>")); // typing replaces it
    EXPECT_EQ(dialog.userList()->selectedItems()[0]->text(1), QString("<temp key>"));
    EXPECT_EQ(dialog.userList()->selectedItems()[0]->text(2), QString("<none>"));

    // Typing renames the selected row at once.
    dialog.nameEdit()->setFocus();
    dialog.nameEdit()->selectAll();
    dialog.nameEdit()->insert("carl");
    EXPECT_FALSE(dialog.dialogUsers().contains(UserAccount{"<new user>", "<temp key>", "<none>"}));
    EXPECT_TRUE(dialog.dialogUsers().contains(UserAccount{"carl", "<temp key>", "<none>"}));
    dialog.authorizationBox()->activated(3);
    EXPECT_TRUE(dialog.dialogUsers().contains(UserAccount{"carl", "<temp key>", "Supervisor"}));

    // A different-case "<NEW USER>" row counts as the existing one.
    dialog.nameEdit()->selectAll();
    dialog.nameEdit()->insert("<NEW USER>");
    dialog.addUser();
    EXPECT_EQ(dialog.dialogUsers().size(), 4);

    dialog.deleteUser();
    EXPECT_EQ(dialog.dialogUsers().size(), 3);
    EXPECT_TRUE(dialog.nameEdit()->text().isEmpty());
    EXPECT_TRUE(dialog.passwordEdit()->text().isEmpty());
    EXPECT_EQ(dialog.authorizationBox()->currentText(), QString("Observer"));
    // Nothing selected: fields cleared, no row removed.
    dialog.nameEdit()->setText("x");
    dialog.deleteUser();
    EXPECT_EQ(dialog.dialogUsers().size(), 3);
    EXPECT_TRUE(dialog.nameEdit()->text().isEmpty());
}

TEST_F(ServerWindows, ApplyTakesOverAndEnablesCancelChangesNothing)
{
    const UserTable before = server->users();
    ServerConfigDialog dialog;
    dialog.activate(server.get());
    dialog.deleteUser();
    dialog.userList()->topLevelItem(0)->setSelected(true);
    dialog.deleteUser();
    dialog.reject();
    EXPECT_EQ(server->users(), before);
    EXPECT_FALSE(server->isEnabled());

    dialog.activate(server.get());
    dialog.connectionBox()->setCurrentIndex(0);
    const quint16 port = testsupport::freePort();
    ASSERT_NE(port, 0);
    dialog.portEdit()->setText(QString::number(port));
    EXPECT_EQ(dialog.bindEdit()->text(), QString()); // all interfaces
    dialog.bindEdit()->setText(" 127.0.0.1 ");
    EXPECT_EQ(dialog.allowedEdit()->text(), QString()); // all addresses
    dialog.allowedEdit()->setText("192.168.1.0/24,  2001:db8::/64 ");
    dialog.authBox()->setChecked(true);
    dialog.userList()->topLevelItem(0)->setSelected(true);
    dialog.deleteUser();
    dialog.apply();
    EXPECT_EQ(dialog.result(), int(QDialog::Accepted));
    EXPECT_EQ(server->settings(),
              (ServerSettings{0, true, port, true, "127.0.0.1", QStringList{"192.168.1.0/24", "2001:db8::/64"}}));
    EXPECT_EQ(server->users(), (UserTable{{"bob", "b", "odd"}, {"zed", "z", "Observer"}}));
    EXPECT_TRUE(server->isEnabled());
}

} // namespace

namespace {

TEST_F(ServerWindows, UsersSortWithoutCaseAndUnstorableNamesAreRefused)
{
    server->setUsers({{"bob", "b", "Observer"}, {"Zed", "z", "Observer"}, {"Amy", "a", "Operator"}, {"carl", "c", "Observer"}});
    ServerConfigDialog dialog;
    dialog.activate(server.get());
    QStringList names;
    for (const UserAccount &u : dialog.dialogUsers())
        names << u.name;
    EXPECT_EQ(names, (QStringList{"Amy", "bob", "carl", "Zed"}));

    dialog.userList()->topLevelItem(1)->setSelected(true);
    dialog.passwordEdit()->setFocus();
    dialog.passwordEdit()->selectAll();
    dialog.passwordEdit()->insert(QString::fromUtf8("p\u20ACss")); // the euro sign is not Latin-1
    dialog.portEdit()->setText("8082");
    dialog.apply();
    EXPECT_NE(dialog.result(), int(QDialog::Accepted));
    EXPECT_TRUE(dialog.lastRefusal().contains("\"bob\"")) << dialog.lastRefusal().toStdString();
    EXPECT_EQ(server->users().at(0).password, QString("b")); // nothing taken over
    EXPECT_TRUE(ServerConfigDialog::unstorableUser({{QString::fromUtf8("J\u00F6rg"), "x", "Observer"}}).isEmpty());
}

// A listening port that is no number from 1 to 65535 is refused with a
// message naming the field: the server is neither changed nor enabled.
TEST_F(ServerWindows, ListeningPortMustBeFromOneTo65535)
{
    const ServerSettings before = server->settings();
    ServerConfigDialog dialog;
    for (const char *typed : {"8O91", "0", "99999"}) {
        dialog.activate(server.get());
        dialog.show();
        dialog.pages()->setCurrentIndex(1);
        dialog.portEdit()->setText(typed);
        dialog.save();
        EXPECT_TRUE(dialog.isVisible() && dialog.pages()->currentIndex() == 0) << typed;
        EXPECT_EQ(dialog.lastRefusal(), QString("The Listening Port must be a number from 1 to 65535, not \"%1\".").arg(typed));
        auto *box = dialog.findChild<QMessageBox *>();
        ASSERT_TRUE(box && box->isVisible());
        box->grab().save(shotPath("configure-server-port-refusal.png"));
        delete box;
        EXPECT_EQ(server->settings(), before) << typed;
        EXPECT_FALSE(server->isEnabled()) << typed;
    }
}

// The allowed client networks are shown as the file holds them; an entry
// that is no address or network is refused naming it.
TEST_F(ServerWindows, AllowedClientsAreShownAndChecked)
{
    ServerSettings settings = server->settings();
    settings.allowedClients = QStringList{"10.0.0.0/8", "::1"};
    server->setSettings(settings);
    ServerConfigDialog dialog;
    dialog.activate(server.get());
    dialog.show();
    EXPECT_EQ(dialog.allowedEdit()->text(), QString("10.0.0.0/8, ::1"));
    dialog.grab().save(shotPath("configure-server-settings.png"));
    dialog.portEdit()->setText("8082");
    dialog.allowedEdit()->setText("10.0.0.0/8, office");
    dialog.apply();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.lastRefusal(), QString("Allowed Clients: \"office\" is not an address or network such as "
                                            "192.168.1.0/24 or 2001:db8::/64."));
    EXPECT_TRUE(dialog.allowedEdit()->hasFocus() || !dialog.isActiveWindow());
    delete dialog.findChild<QMessageBox *>();
    EXPECT_EQ(server->settings(), settings);
}

} // namespace
