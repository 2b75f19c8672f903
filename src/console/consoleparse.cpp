#include "console/consoleparse.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QUrlQuery>

namespace consoleparse {

bool login(const QByteArray &body, QString &user, QByteArray &password, QString *error)
{
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject()) {
        if (error)
            *error = QStringLiteral("the body must be a JSON object {\"user\": ..., \"password\": ...}");
        return false;
    }
    const QJsonValue u = doc.object().value(QStringLiteral("user"));
    const QJsonValue p = doc.object().value(QStringLiteral("password"));
    if (!u.isString() || !p.isString()) {
        if (error)
            *error = QStringLiteral("user and password must be texts");
        return false;
    }
    user = u.toString();
    password = p.toString().toUtf8();
    return true;
}

bool messageQuery(const QString &text, quint64 &after, QString &level, QString *error)
{
    const QUrlQuery query(text);
    after = 0;
    if (query.hasQueryItem(QStringLiteral("after"))) {
        bool ok = false;
        after = query.queryItemValue(QStringLiteral("after")).toULongLong(&ok);
        if (!ok) {
            if (error)
                *error = QStringLiteral("after must be a message id");
            return false;
        }
    }
    level = query.queryItemValue(QStringLiteral("level"));
    static const QStringList levels = {QString(), QStringLiteral("error"), QStringLiteral("status"),
                                       QStringLiteral("debug")};
    if (!levels.contains(level)) {
        if (error)
            *error = QStringLiteral("level is error, status or debug");
        return false;
    }
    return true;
}

int number(const QString &text, int max)
{
    if (text.size() != 1 || max < 1 || max > 9 || text[0] < QLatin1Char('1') || text[0] > QLatin1Char(char('0' + max)))
        return 0;
    return text[0].unicode() - '0';
}

QByteArray cookieValue(const QByteArray &header, const QByteArray &name)
{
    for (const QByteArray &part : header.split(';')) {
        const QByteArray p = part.trimmed();
        if (p.startsWith(name + '='))
            return p.mid(name.size() + 1);
    }
    return {};
}

bool basic(const QByteArray &header, QString &user, QByteArray &password)
{
    if (!header.startsWith("Basic "))
        return false;
    const QByteArray decoded = QByteArray::fromBase64(header.mid(6).trimmed());
    const qsizetype colon = decoded.indexOf(':');
    if (colon <= 0)
        return false;
    user = QString::fromUtf8(decoded.left(colon));
    password = decoded.mid(colon + 1);
    return true;
}

} // namespace consoleparse
