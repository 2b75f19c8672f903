#pragma once
// What the console reads from requests itself (Qt parses the HTTP): the
// log-in body, query values, path numbers, the cookie and Basic credentials.
// All of it comes from outside: every function takes any bytes.
#include <QByteArray>
#include <QString>

namespace consoleparse {

// {"user": TEXT, "password": TEXT}; false with a reason otherwise.
bool login(const QByteArray &body, QString &user, QByteArray &password, QString *error);
// after=ID&level=error|status|debug; false with a reason for a bad value.
bool messageQuery(const QString &query, quint64 &after, QString &level, QString *error);
// "1".."max" exactly (one digit); 0 for anything else.
int number(const QString &text, int max);
QByteArray cookieValue(const QByteArray &header, const QByteArray &name);
// "Basic BASE64(user:password)"; false when it is not that.
bool basic(const QByteArray &header, QString &user, QByteArray &password);

} // namespace consoleparse
