#include "console/consoleaccounts.h"
#include "core/keyvaluefile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <sodium.h>
#include <sys/stat.h>

namespace consoleaccounts {

namespace {
// argon2id with OWASP's smallest recommended cost (19 MiB, two passes): a
// check costs the event loop some tens of milliseconds, and log-ins are
// throttled per address.
constexpr unsigned long long kOpsLimit = 2;
constexpr size_t kMemLimit = 19 * 1024 * 1024;
constexpr qint64 kMaxFileBytes = 512 * 1024;

bool sodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}
} // namespace

QString path(const QString &configDirectory)
{
    return configDirectory + QStringLiteral("/Console.USR");
}

QString levelName(int level)
{
    switch (level) {
    case 1: return QStringLiteral("Observer");
    case 2: return QStringLiteral("Operator");
    case 3: return QStringLiteral("Supervisor");
    default: return QStringLiteral("<none>");
    }
}

int levelOf(const QString &name)
{
    for (int l = 1; l <= 3; ++l)
        if (name.compare(levelName(l), Qt::CaseInsensitive) == 0)
            return l;
    return 0;
}

bool validName(const QString &name)
{
    if (name.isEmpty() || name.size() > kMaxNameLength)
        return false;
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        const bool ok = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '.'
            || u == '_' || u == '-';
        if (!ok)
            return false;
    }
    return true;
}

bool hashPassword(const QByteArray &password, QByteArray &hash)
{
    if (!sodiumReady())
        return false;
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str_alg(out, password.constData(), size_t(password.size()), kOpsLimit, kMemLimit,
                              crypto_pwhash_ALG_ARGON2ID13) != 0)
        return false;
    hash = QByteArray(out);
    return true;
}

bool verifyPassword(const QByteArray &hash, const QByteArray &password)
{
    if (!sodiumReady() || hash.size() >= crypto_pwhash_STRBYTES || !hash.startsWith("$argon2id$"))
        return false;
    return crypto_pwhash_str_verify(hash.constData(), password.constData(), size_t(password.size())) == 0;
}

bool parse(const QByteArray &text, const QString &path, QList<ConsoleAccount> &out, QString *error)
{
    out.clear();
    const QList<QByteArray> lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        auto fail = [&](const QString &why) {
            if (error)
                *error = path + QStringLiteral(" line %1: ").arg(i + 1) + why;
            out.clear();
            return false;
        };
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() != 3)
            return fail(QStringLiteral("expected \"NAME LEVEL HASH\""));
        ConsoleAccount a;
        a.name = QString::fromLatin1(parts[0]);
        a.level = levelOf(QString::fromLatin1(parts[1]));
        a.hash = parts[2];
        if (!validName(a.name))
            return fail(QStringLiteral("a name is letters, digits, '.', '_' or '-', at most %1").arg(kMaxNameLength));
        if (a.level == 0)
            return fail(QStringLiteral("the level is Observer, Operator or Supervisor"));
        if (!a.hash.startsWith("$argon2id$") || a.hash.size() >= crypto_pwhash_STRBYTES)
            return fail(QStringLiteral("the password is not an argon2id hash"));
        for (const ConsoleAccount &o : out)
            if (o.name == a.name)
                return fail(QStringLiteral("\"%1\" given twice").arg(a.name));
        if (out.size() >= kMaxAccounts)
            return fail(QStringLiteral("more than %1 accounts").arg(kMaxAccounts));
        out << a;
    }
    return true;
}

bool load(const QString &path, QList<ConsoleAccount> &out, QString *error)
{
    out.clear();
    if (!QFile::exists(path))
        return true;
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0 && (st.st_mode & 077)) {
        if (error)
            *error = path + QStringLiteral(" may be read or written by others than its owner: "
                                           "refused (chmod 600 it)");
        return false;
    }
    QByteArray text;
    return keyvalue::readBounded(path, kMaxFileBytes, text, error) && parse(text, path, out, error);
}

bool save(const QString &path, const QList<ConsoleAccount> &accounts, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    ::fchmod(file.handle(), 0600);
    QByteArray text = "# Console accounts: NAME LEVEL HASH (tolva-server --console-user)\n";
    for (const ConsoleAccount &a : accounts)
        text += a.name.toLatin1() + ' ' + levelName(a.level).toLatin1() + ' ' + a.hash + '\n';
    file.write(text);
    if (!file.commit()) {
        if (error)
            *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    return true;
}

bool setAccount(const QString &path, const QString &name, int level, const QByteArray &password, QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (!validName(name))
        return fail(QStringLiteral("a name is letters, digits, '.', '_' or '-', at most %1").arg(kMaxNameLength));
    if (level < 1 || level > 3)
        return fail(QStringLiteral("the level is Observer, Operator or Supervisor"));
    if (password.isEmpty() || password.size() > kMaxPasswordLength)
        return fail(QStringLiteral("a password is 1 to %1 bytes").arg(kMaxPasswordLength));
    QList<ConsoleAccount> accounts;
    if (!load(path, accounts, error))
        return false;
    ConsoleAccount a{name, level, {}};
    if (!hashPassword(password, a.hash))
        return fail(QStringLiteral("the password could not be hashed"));
    bool replaced = false;
    for (ConsoleAccount &o : accounts)
        if (o.name == name) {
            o = a;
            replaced = true;
        }
    if (!replaced)
        accounts << a;
    return save(path, accounts, error);
}

bool deleteAccount(const QString &path, const QString &name, QString *error)
{
    QList<ConsoleAccount> accounts;
    if (!load(path, accounts, error))
        return false;
    const qsizetype before = accounts.size();
    accounts.removeIf([&](const ConsoleAccount &a) { return a.name == name; });
    if (accounts.size() == before) {
        if (error)
            *error = QStringLiteral("no console account \"%1\"").arg(name);
        return false;
    }
    return save(path, accounts, error);
}

} // namespace consoleaccounts
