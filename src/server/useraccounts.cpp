#include "server/useraccounts.h"

int levelOfAuthorization(const QString &authorization)
{
    if (authorization == QLatin1String("Observer"))
        return 1;
    if (authorization == QLatin1String("Operator"))
        return 2;
    if (authorization == QLatin1String("Supervisor"))
        return 3;
    return 0;
}

LoginResult checkLogin(const UserTable &users, const QByteArray &text)
{
    static const QByteArray kInvalid("INVALID PASSWORD");
    const qsizetype colon = text.indexOf(':');
    const QByteArray name = colon < 0 ? QByteArray() : text.left(colon);
    const QByteArray password = (colon < 0 ? text : text.mid(colon + 1)).toUpper();

    // Account texts are held as Latin-1 so that every byte of the user file
    // survives; compare them in the same form as the client's bytes.
    const QByteArray wantedName = name.toUpper();
    for (const UserAccount &user : users) {
        if (user.name.toLatin1().toUpper() != wantedName)
            continue;
        if (user.password.toLatin1().toUpper() != password)
            return {0, kInvalid};
        switch (levelOfAuthorization(user.authorization)) {
        case 1: return {1, QByteArrayLiteral("SVALID OBSERVER")};
        case 2: return {2, QByteArrayLiteral("SVALID OPERATOR")};
        case 3: return {3, QByteArrayLiteral("SVALID SUPERVISOR")};
        default: return {0, {}};
        }
    }
    return {0, kInvalid};
}
