#pragma once
// CONFIG/Console.USR: the console's accounts, one "NAME LEVEL HASH" line
// each, the hash an argon2id string from libsodium (salt and parameters
// inside). The file is the owner's alone (0600); one readable by others is
// refused.
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

struct ConsoleAccount {
    QString name;
    int level = 0; // 1 Observer, 2 Operator, 3 Supervisor
    QByteArray hash;
};

namespace consoleaccounts {

inline constexpr int kMaxNameLength = 32;
inline constexpr int kMaxPasswordLength = 256;
inline constexpr int kMaxAccounts = 1000;

QString path(const QString &configDirectory);
QString levelName(int level);
// "Observer", "Operator", "Supervisor" (any case); 0 for anything else.
int levelOf(const QString &name);
// Letters, digits, '.', '_' and '-', 1 to kMaxNameLength characters.
bool validName(const QString &name);

// One slow, salted hash. False when libsodium cannot (out of memory).
bool hashPassword(const QByteArray &password, QByteArray &hash);
bool verifyPassword(const QByteArray &hash, const QByteArray &password);

bool parse(const QByteArray &text, const QString &path, QList<ConsoleAccount> &out, QString *error);
// A missing file is no accounts. A file that others may read is refused.
bool load(const QString &path, QList<ConsoleAccount> &out, QString *error);
// Written to a new file (0600) that then replaces the old one.
bool save(const QString &path, const QList<ConsoleAccount> &accounts, QString *error);

// The command line's operations: add or change NAME at LEVEL, or delete it.
bool setAccount(const QString &path, const QString &name, int level, const QByteArray &password, QString *error);
bool deleteAccount(const QString &path, const QString &name, QString *error);

} // namespace consoleaccounts
