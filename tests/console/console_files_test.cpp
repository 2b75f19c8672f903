// The console's own files: Console.CFG, the accounts file (permissions, the
// hash, refusals naming file and line) and the command line that edits it.
#include "console/consoleaccounts.h"
#include "console/consoleparse.h"
#include "console/consolesettings.h"
#include "core/keyvaluefile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

bool writeFile(const QString &path, const QByteArray &text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text) == text.size();
}

} // namespace

TEST(ConsoleSettings, FileLinesAreReadOrRefusedWithFileAndLine)
{
    QTemporaryDir dir;
    struct Case {
        const char *text;
        bool ok;
        const char *error; // part of the refusal
    };
    const Case cases[] = {
        {"", true, ""},
        {"# comment\n\nport = 9090\r\nbind = 127.0.0.1\n", true, ""},
        {"enabled = 0\n", true, ""},
        {"port = 0\n", false, "Console.CFG line 1: port must be a number from 1 to 65535"},
        {"\n\nprot = 80\n", false, "line 3: unknown key \"prot\""},
        {"port 80\n", false, "line 1: expected \"key = value\""},
        {"port = 1\nport = 2\n", false, "line 2: \"port\" given twice"},
        {"enabled = yes\n", false, "enabled must be 0 or 1"},
        {"bind = somewhere\n", false, "bind must be an IP address"},
        {"bind = 0.0.0.0\n", false, "without TLS: set tls_certificate and tls_key"},
        {"bind = 0.0.0.0\nallow_plain_http = 1\n", true, ""},
        {"bind = 0.0.0.0\ntls_certificate = c.pem\ntls_key = k.pem\n", true, ""},
        {"tls_certificate = c.pem\n", false, "go together"},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(writeFile(ConsoleSettings::path(dir.path()), c.text));
        ConsoleSettings s;
        QString error;
        EXPECT_EQ(ConsoleSettings::load(dir.path(), s, &error), c.ok) << c.text;
        EXPECT_TRUE(error.contains(QLatin1String(c.error))) << c.text << " gave: " << error.toStdString();
    }
    QFile::remove(ConsoleSettings::path(dir.path()));
    ConsoleSettings defaults;
    ASSERT_TRUE(ConsoleSettings::load(dir.path(), defaults, nullptr));
    EXPECT_TRUE(defaults.enabled);
    EXPECT_EQ(defaults.bind, "127.0.0.1");
    EXPECT_EQ(defaults.port, 8080);
}

TEST(ConsoleAccounts, StoredAsSaltedHashesInAFileOnlyTheOwnerReads)
{
    QTemporaryDir dir;
    const QString path = consoleaccounts::path(dir.path());
    ASSERT_TRUE(consoleaccounts::setAccount(path, "anna", 3, "correct horse", nullptr));
    ASSERT_TRUE(consoleaccounts::setAccount(path, "ben", 1, "correct horse", nullptr));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    EXPECT_FALSE(text.contains("correct horse"));
    QList<ConsoleAccount> accounts;
    ASSERT_TRUE(consoleaccounts::load(path, accounts, nullptr));
    ASSERT_EQ(accounts.size(), 2);
    EXPECT_TRUE(accounts[0].hash.startsWith("$argon2id$"));
    EXPECT_NE(accounts[0].hash, accounts[1].hash) << "same password, different salt";
    EXPECT_TRUE(consoleaccounts::verifyPassword(accounts[0].hash, "correct horse"));
    EXPECT_FALSE(consoleaccounts::verifyPassword(accounts[0].hash, "correct horsE"));

    // Changing a level keeps one line per name; deleting removes it.
    ASSERT_TRUE(consoleaccounts::setAccount(path, "ben", 2, "other", nullptr));
    ASSERT_TRUE(consoleaccounts::deleteAccount(path, "anna", nullptr));
    QString error;
    EXPECT_FALSE(consoleaccounts::deleteAccount(path, "anna", &error));
    ASSERT_TRUE(consoleaccounts::load(path, accounts, nullptr));
    ASSERT_EQ(accounts.size(), 1);
    EXPECT_EQ(accounts[0].level, 2);

    // Readable by others: refused, naming the file.
    ::chmod(QFile::encodeName(path).constData(), 0644);
    EXPECT_FALSE(consoleaccounts::load(path, accounts, &error));
    EXPECT_TRUE(error.startsWith(path)) << error.toStdString();
    EXPECT_TRUE(accounts.isEmpty());
}

TEST(ConsoleAccounts, BadLinesAreRefusedWithTheLine)
{
    const QByteArray hash = "$argon2id$v=19$m=19456,t=2,p=1$c2FsdHNhbHQ$aGFzaGhhc2g";
    struct Case {
        QByteArray text;
        const char *error;
    };
    const Case cases[] = {
        {"# only a comment\n", nullptr},
        {"anna Supervisor " + hash + "\n", nullptr},
        {"anna Supervisor\n", "line 1: expected"},
        {"\nanna Boss " + hash + "\n", "line 2: the level"},
        {"an/na Observer " + hash + "\n", "line 1: a name"},
        {"anna Observer secret\n", "line 1: the password is not an argon2id hash"},
        {"anna Observer " + hash + "\nanna Operator " + hash + "\n", "line 2: \"anna\" given twice"},
    };
    for (const Case &c : cases) {
        QList<ConsoleAccount> out;
        QString error;
        EXPECT_EQ(consoleaccounts::parse(c.text, "Console.USR", out, &error), c.error == nullptr) << c.text.constData();
        if (c.error) {
            EXPECT_TRUE(error.contains(QLatin1String(c.error))) << error.toStdString();
        }
    }
}

TEST(ConsoleAccounts, CommandLineAddsChangesAndDeletes)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkpath("CONFIG");
    const QString program = QStringLiteral(TOLVA_BUILD_DIR "/tolva-server");
    auto run = [&](const QStringList &args, const QByteArray &input) {
        QProcess p;
        p.start(program, QStringList{"--base", dir.path()} + args);
        p.write(input);
        p.closeWriteChannel();
        p.waitForFinished(20000);
        return p.exitCode();
    };
    EXPECT_EQ(run({"--console-user", "anna", "--level", "operator"}, "s3cret\n"), 0);
    QList<ConsoleAccount> accounts;
    ASSERT_TRUE(consoleaccounts::load(consoleaccounts::path(dir.filePath("CONFIG")), accounts, nullptr));
    ASSERT_EQ(accounts.size(), 1);
    EXPECT_EQ(accounts[0].level, 2);
    EXPECT_TRUE(consoleaccounts::verifyPassword(accounts[0].hash, "s3cret"));
    EXPECT_NE(run({"--console-user", "anna", "--level", "boss"}, "x\n"), 0);
    EXPECT_NE(run({"--console-user", "anna"}, ""), 0);
    EXPECT_NE(run({"--console-user", "bad name", "--level", "Observer"}, "x\n"), 0);
    EXPECT_EQ(run({"--console-user", "anna", "--delete"}, ""), 0);
    ASSERT_TRUE(consoleaccounts::load(consoleaccounts::path(dir.filePath("CONFIG")), accounts, nullptr));
    EXPECT_TRUE(accounts.isEmpty());
}

TEST(ConsoleParse, RequestValuesAreReadOrRefused)
{
    struct Login {
        QByteArray body;
        bool ok;
    };
    for (const Login &c : {Login{R"({"user":"anna","password":"pw"})", true}, Login{R"({"user":"anna"})", false},
                           Login{R"({"user":1,"password":"pw"})", false}, Login{"[]", false}, Login{"{", false},
                           Login{"", false}}) {
        QString user;
        QByteArray password;
        EXPECT_EQ(consoleparse::login(c.body, user, password, nullptr), c.ok) << c.body.constData();
    }
    struct Query {
        const char *text;
        bool ok;
        quint64 after;
        const char *level;
    };
    for (const Query &c : {Query{"", true, 0, ""}, Query{"after=17&level=status", true, 17, "status"},
                           Query{"after=-1", false, 0, ""}, Query{"after=1e3", false, 0, ""},
                           Query{"level=STATUS", false, 0, ""}, Query{"level=error&x=y", true, 0, "error"}}) {
        quint64 after = 99;
        QString level;
        ASSERT_EQ(consoleparse::messageQuery(QLatin1String(c.text), after, level, nullptr), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(after, c.after) << c.text;
            EXPECT_EQ(level, QLatin1String(c.level)) << c.text;
        }
    }
    for (const auto &[text, n] : {std::pair{"1", 1}, {"8", 8}, {"9", 0}, {"0", 0}, {"01", 0}, {"+1", 0}, {"", 0}})
        EXPECT_EQ(consoleparse::number(QLatin1String(text), 8), n) << text;
    EXPECT_EQ(consoleparse::cookieValue("a=1; tolva_session=abc; b=2", "tolva_session"), "abc");
    EXPECT_EQ(consoleparse::cookieValue("xtolva_session=abc", "tolva_session"), "");
    QString user;
    QByteArray password;
    ASSERT_TRUE(consoleparse::basic("Basic " + QByteArray("anna:pa:ss").toBase64(), user, password));
    EXPECT_EQ(user, "anna");
    EXPECT_EQ(password, "pa:ss");
    EXPECT_FALSE(consoleparse::basic("Basic " + QByteArray(":pw").toBase64(), user, password));
    EXPECT_FALSE(consoleparse::basic("Bearer x", user, password));
}
