// The settings and user files of a relay server, against bytes written out here.
#include "server/serversettings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

int modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

TEST(ServerFiles, MissingFilesAreCreatedWithPageDefaults)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("CONFIG"));
    ServerSettings s;
    s.requireAuth = true;
    QString error;
    ASSERT_TRUE(serverfiles::loadSettings(dir.path(), "Server3", s, error)) << error.toStdString();
    EXPECT_EQ(readAll(dir.path() + "/CONFIG/Server3.CFG"), QByteArray(" 3\r\n0\r\n    83\r\n0\r\n"));
    EXPECT_EQ(s, (ServerSettings{3, false, 83, false}));

    UserTable users;
    ASSERT_TRUE(serverfiles::loadUsers(dir.path(), "Server3", users, error));
    EXPECT_TRUE(users.isEmpty());
    EXPECT_EQ(readAll(dir.path() + "/CONFIG/Server3.USR"), QByteArray(" 0\r\n"));
    EXPECT_EQ(modeOf(dir.path() + "/CONFIG/Server3.USR"), 0600);
}

TEST(ServerFiles, NoConfigDirectoryFails)
{
    QTemporaryDir dir;
    ServerSettings s;
    QString error;
    EXPECT_FALSE(serverfiles::loadSettings(dir.path(), "Server1", s, error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(ServerFiles, SettingsParsing)
{
    ServerSettings s{5, true, 1, true};
    QString error;
    // A switch line holding neither 0 nor 1 leaves the field alone.
    ASSERT_TRUE(serverfiles::parseSettings(" 9\r\n2\r\n  8080\r\n7\r\n", s, error));
    EXPECT_EQ(s, (ServerSettings{9, true, 8080, true}));
    ASSERT_TRUE(serverfiles::parseSettings("1\n0\n81\n0", s, error));
    EXPECT_EQ(s, (ServerSettings{1, false, 81, false}));
    EXPECT_FALSE(serverfiles::parseSettings(" 1\r\nyes\r\n81\r\n0\r\n", s, error));
    EXPECT_EQ(error, QString("Invalid numeric input"));
}

TEST(ServerFiles, SettingsErrorNamesFileAndLine)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("CONFIG"));
    writeAll(dir.path() + "/CONFIG/Server4.CFG", " 4\r\n1\r\n  port\r\n0\r\n");
    ServerSettings s;
    QString error;
    EXPECT_FALSE(serverfiles::loadSettings(dir.path(), "Server4", s, error));
    EXPECT_EQ(error, dir.path() + "/CONFIG/Server4.CFG line 3: Invalid numeric input");
}

// Port 0 would listen where no viewer looks, and a port beyond 65535 is none:
// the file fails at line 3 and nothing of it is taken.
TEST(ServerFiles, PortLineMustHoldAPortFromOneTo65535)
{
    const struct {
        QByteArray port; // line 3; empty: no such line
        bool ok;
    } cases[] = {{"     0", false}, {" 65536", false}, {"   -80", false}, {"", false}, {"     1", true}, {" 65535", true}};
    for (const auto &c : cases) {
        ServerSettings s{4, false, 84, false};
        QString error;
        int line = 0;
        const QByteArray text = " 4\r\n1\r\n" + (c.port.isEmpty() ? QByteArray() : c.port + "\r\n0\r\n");
        EXPECT_EQ(serverfiles::parseSettings(text, s, error, &line), c.ok) << c.port.constData();
        EXPECT_EQ(s.listenPort, c.ok ? c.port.trimmed().toInt() : 84) << c.port.constData();
        if (!c.ok) {
            EXPECT_EQ(std::make_pair(line, error), std::make_pair(3, QString::number(c.port.trimmed().toInt())
                                                                       + " is not a port number from 1 to 65535"));
        }
    }
}

TEST(ServerFiles, FilesOverTheBoundFailInsteadOfBeingCut)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("CONFIG"));
    writeAll(dir.path() + "/CONFIG/Server2.USR", " 1\r\n" + QByteArray(1 << 20, 'x'));
    UserTable users;
    QString error;
    EXPECT_FALSE(serverfiles::loadUsers(dir.path(), "Server2", users, error));
    EXPECT_EQ(error, "Cannot read " + dir.path() + "/CONFIG/Server2.USR: larger than 1 MiB");
    EXPECT_TRUE(users.isEmpty());
}

TEST(ServerFiles, SettingsWriteRoundTrip)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("CONFIG"));
    QString error;
    ASSERT_TRUE(serverfiles::saveSettings(dir.path(), "Server8", {10, true, 65535, true}, error));
    EXPECT_EQ(readAll(dir.path() + "/CONFIG/Server8.CFG"), QByteArray("10\r\n1\r\n 65535\r\n1\r\n"));
    EXPECT_EQ(modeOf(dir.path() + "/CONFIG/Server8.CFG"), 0600);
    ServerSettings back;
    ASSERT_TRUE(serverfiles::loadSettings(dir.path(), "Server8", back, error));
    EXPECT_EQ(back, (ServerSettings{10, true, 65535, true}));
}

TEST(ServerFiles, BindAddressIsAFifthLineOnlyWhenSet)
{
    ServerSettings s{2, true, 8082, false};
    EXPECT_EQ(serverfiles::settingsText(s), QByteArray(" 2\r\n1\r\n  8082\r\n0\r\n"));
    s.bindAddress = "192.168.1.10";
    EXPECT_EQ(serverfiles::settingsText(s), QByteArray(" 2\r\n1\r\n  8082\r\n0\r\n192.168.1.10\r\n"));
    const struct {
        QByteArray text;
        QString bind;
    } cases[] = {
        {" 2\r\n1\r\n  8082\r\n0\r\n", ""},
        {" 2\r\n1\r\n  8082\r\n0\r\n192.168.1.10\r\n", "192.168.1.10"},
        {" 2\r\n1\r\n  8082\r\n0\r\n 10.0.0.1 \r\n\r\nmore\r\n", "10.0.0.1"},
        {" 2\r\n1\r\n  8082\r\n0\r\n\r\n", ""},
    };
    for (const auto &c : cases) {
        ServerSettings back;
        back.bindAddress = "stale";
        QString error;
        ASSERT_TRUE(serverfiles::parseSettings(c.text, back, error)) << c.text.constData();
        EXPECT_EQ(back.bindAddress, c.bind) << c.text.constData();
        EXPECT_EQ(back.listenPort, 8082);
    }
}

// Line 6: the allowed client networks. Missing or empty: every address; an
// entry that is no address or prefix fails the file at line 6.
TEST(ServerFiles, AllowedClientsAreASixthLine)
{
    const struct {
        QByteArray line6; // empty: no sixth line
        bool ok;
        QStringList networks;
    } cases[] = {
        {"", true, {}},
        {"192.168.1.0/24, 10.0.0.5", true, {"192.168.1.0/24", "10.0.0.5"}},
        {"2001:db8::/64,::1", true, {"2001:db8::/64", "::1"}},
        {" , 127.0.0.1 ,", true, {"127.0.0.1"}},
        {"192.168.1.0/33", false, {}},
        {"10.1/16", false, {}},
        {"intranet", false, {}},
        {"10.0.0.1, 300.1.1.1", false, {}},
    };
    for (const auto &c : cases) {
        ServerSettings s{2, true, 8082, false};
        QString error;
        int line = 0;
        const QByteArray text = " 2\r\n1\r\n  8082\r\n0\r\n\r\n" + c.line6 + (c.line6.isEmpty() ? "" : "\r\n");
        EXPECT_EQ(serverfiles::parseSettings(text, s, error, &line), c.ok) << c.line6.constData();
        EXPECT_EQ(s.allowedClients, c.networks) << c.line6.constData();
        if (!c.ok) {
            EXPECT_EQ(line, 6) << c.line6.constData();
            EXPECT_TRUE(error.endsWith("is not an address or network such as 192.168.1.0/24 or 2001:db8::/64"))
                << error.toStdString();
        }
    }

    // Written as a sixth line only when set, with an empty fifth when no
    // address to listen on is chosen; loaded back unchanged.
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("CONFIG"));
    ServerSettings s{2, true, 8082, true};
    s.allowedClients = QStringList{"192.168.1.0/24", "2001:db8::/64"};
    QString error;
    ASSERT_TRUE(serverfiles::saveSettings(dir.path(), "Server2", s, error));
    EXPECT_EQ(readAll(dir.path() + "/CONFIG/Server2.CFG"),
              QByteArray(" 2\r\n1\r\n  8082\r\n1\r\n\r\n192.168.1.0/24, 2001:db8::/64\r\n"));
    ServerSettings back;
    ASSERT_TRUE(serverfiles::loadSettings(dir.path(), "Server2", back, error));
    EXPECT_EQ(back, s);
    writeAll(dir.path() + "/CONFIG/Server2.CFG", " 2\r\n1\r\n  8082\r\n1\r\n\r\n10.0.0.0/8, lan\r\n");
    EXPECT_FALSE(serverfiles::loadSettings(dir.path(), "Server2", back, error));
    EXPECT_TRUE(error.startsWith(dir.path() + "/CONFIG/Server2.CFG line 6: \"lan\" is not")) << error.toStdString();
}

TEST(ServerFiles, ClientAllowedByNetwork)
{
    const QStringList networks{"192.168.1.0/24", "10.0.0.5", "2001:db8::/64"};
    const struct {
        const char *address;
        bool allowed;
    } cases[] = {
        {"192.168.1.77", true}, {"192.168.2.1", false}, {"10.0.0.5", true},    {"10.0.0.6", false},
        {"2001:db8::1", true},  {"2001:db8:0:0:ffff::9", true}, {"2001:db8:0:1::1", false},
        {"::ffff:192.168.1.9", true}, {"127.0.0.1", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(serverfiles::clientAllowed(networks, c.address), c.allowed) << c.address;
    EXPECT_TRUE(serverfiles::clientAllowed({}, "203.0.113.1")) << "no list: every address";
}

TEST(ServerFiles, UserFileCountLineIsNotTrusted)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("CONFIG"));
    const QString path = dir.path() + "/CONFIG/Server2.USR";
    QByteArray text = " 2\r\n";
    for (int i = 1; i <= 5; ++i)
        text += "u" + QByteArray::number(i) + "\r\npw" + QByteArray::number(i) + "\r\nObserver\r\n";
    writeAll(path, text);
    ::chmod(QFile::encodeName(path).constData(), 0644);
    UserTable users{{"kept", "k", "Operator"}}; // loading appends
    QString error;
    ASSERT_TRUE(serverfiles::loadUsers(dir.path(), "Server2", users, error));
    ASSERT_EQ(users.size(), 6);
    EXPECT_EQ(users[5], (UserAccount{"u5", "pw5", "Observer"}));
    users.removeFirst();
    ASSERT_TRUE(serverfiles::saveUsers(dir.path(), "Server2", users, error));
    EXPECT_EQ(readAll(path), QByteArray(" 5\r\n") + text.mid(4));
    EXPECT_EQ(modeOf(path), 0600); // rewriting also takes away other readers
}

TEST(ServerFiles, UserFileEndingMidUserAndLatin1Bytes)
{
    const UserTable users = serverfiles::parseUsers(" 1\r\nbob\r\nsecret\r\nOperator\r\nhalf\r\n");
    ASSERT_EQ(users.size(), 2);
    EXPECT_EQ(users[1], (UserAccount{"half", "", ""}));
    EXPECT_EQ(serverfiles::parseUsers(" 0\r\n").size(), 0);
    // Every byte survives a load and a save.
    const QByteArray odd = " 1\r\nJ\xF8rn\r\np\xE5ss\r\n<none>\r\n";
    EXPECT_EQ(serverfiles::usersText(serverfiles::parseUsers(odd)), odd);
}

} // namespace
