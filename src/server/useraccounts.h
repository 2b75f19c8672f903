#pragma once
// Relay user accounts and the log-in check shared by the ARX and the
// HD/KF-71 dialects.
#include <QByteArray>
#include <QList>
#include <QString>

struct UserAccount {
    QString name;
    QString password;
    QString authorization; // "<none>", "Observer", "Operator", "Supervisor"

    bool operator==(const UserAccount &) const = default;
};

using UserTable = QList<UserAccount>;

struct LoginResult {
    int level = 0;        // 0 none, 1 Observer, 2 Operator, 3 Supervisor
    QByteArray reply;     // without terminator; empty = no reply at all
};

// `text` is "user:password" as sent by the client. Names and passwords match
// without regard to case; the first row whose name matches is used.
LoginResult checkLogin(const UserTable &users, const QByteArray &text);

// Level granted by an authorization text (case matters); 0 for anything else.
int levelOfAuthorization(const QString &authorization);
