// GET /api/live: events pushed to WebSocket clients.
#include "console/consoleserver.h"

#include "console/consolelistener.h"
#include "core/messagelog.h"
#include "report/stationreport.h"
#include "station/station.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkRequest>
#include <QUrl>
#include <QWebSocket>

void ConsoleServer::onWebSocket()
{
    while (hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket = nextPendingWebSocketConnection();
        if (!socket)
            continue;
        m_listener->markUpgraded(socket->peerAddress(), socket->peerPort());
        reloadAccountsIfChanged();
        // Qt upgrades before anyone can look at the request: the log-in is
        // checked now, and a refused client is closed before it gets an event.
        const QNetworkRequest request = socket->request();
        Caller caller;
        caller.address = socket->peerAddress().toString();
        if (socket->peerAddress().protocol() == QAbstractSocket::IPv6Protocol) {
            bool ok = false;
            const QHostAddress v4(socket->peerAddress().toIPv4Address(&ok));
            if (ok)
                caller.address = v4.toString();
        }
        Reply refusal;
        bool allowed = socket->requestUrl().path() == QLatin1String("/api/live") && !m_accounts.isEmpty()
            && identify(request.rawHeader("Cookie"), request.rawHeader("Authorization"), caller, refusal)
            && caller.level > 0;
        // A page of another site must not use the engineer's cookie.
        const QString origin = socket->origin();
        if (allowed && !origin.isEmpty() && caller.viaSession) {
            const QUrl o(origin);
            const QString host = QString::fromLatin1(request.rawHeader("Host"));
            allowed = o.authority() == host;
        }
        if (!allowed) {
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("log in first"));
            socket.release()->deleteLater();
            continue;
        }
        socket->setMaxAllowedIncomingMessageSize(4096);
        socket->setMaxAllowedIncomingFrameSize(4096);
        QWebSocket *raw = socket.get();
        connect(raw, &QWebSocket::disconnected, this, [this] { QMetaObject::invokeMethod(this, &ConsoleServer::dropDeadLive, Qt::QueuedConnection); });
        connect(raw, &QWebSocket::textMessageReceived, this, [this, raw](const QString &text) { onLiveText(raw, text); });
        connect(raw, &QWebSocket::pong, this, [this, raw] {
            for (LiveClient &c : m_live)
                if (c.socket.get() == raw)
                    c.lastPong = QDateTime::currentMSecsSinceEpoch();
        });
        m_live.push_back(LiveClient{std::move(socket), caller.user, caller.level, QDateTime::currentMSecsSinceEpoch()});
        sendLiveTo(m_live.back(), QJsonDocument(QJsonObject{{QStringLiteral("type"), QStringLiteral("hello")},
                                                            {QStringLiteral("user"), caller.user},
                                                            {QStringLiteral("level"), consoleaccounts::levelName(caller.level)}})
                                      .toJson(QJsonDocument::Compact));
    }
}

void ConsoleServer::sendLiveTo(LiveClient &client, const QByteArray &text)
{
    if (!client.socket || client.socket->state() != QAbstractSocket::ConnectedState)
        return;
    // A client that does not read is dropped, not waited for: what is queued
    // for it stays bounded and the others lose nothing.
    if (client.socket->bytesToWrite() + text.size() > kLiveBacklog) {
        const QString who = client.socket->peerAddress().toString();
        client.socket->abort(); // first: the line below goes to the live clients too
        log(QStringLiteral("Live client %1 (%2) dropped: %3 KiB waiting unread").arg(who, client.user).arg(kLiveBacklog / 1024),
            int(LogLevel::Status));
        QMetaObject::invokeMethod(this, &ConsoleServer::dropDeadLive, Qt::QueuedConnection);
        return;
    }
    client.socket->sendTextMessage(QString::fromUtf8(text));
}

void ConsoleServer::sendLive(const QJsonObject &event, int minimumLevel)
{
    if (m_live.empty())
        return;
    const QByteArray text = QJsonDocument(event).toJson(QJsonDocument::Compact);
    for (LiveClient &c : m_live)
        if (c.level >= minimumLevel)
            sendLiveTo(c, text);
}

void ConsoleServer::onLiveText(QWebSocket *socket, const QString &text)
{
    // {"values": [2, 4]}: only these pages' values from now on (a phone on a
    // modem cannot take every page's); anything else is ignored.
    const QJsonValue pages = QJsonDocument::fromJson(text.toUtf8()).object().value(QStringLiteral("values"));
    if (!pages.isArray())
        return;
    quint32 wanted = 0;
    for (const QJsonValue &v : pages.toArray())
        if (const int n = v.toInt(); n >= 1 && n <= 32)
            wanted |= 1u << (n - 1);
    for (LiveClient &c : m_live)
        if (c.socket.get() == socket)
            c.valuesWanted = wanted;
}

void ConsoleServer::sendValues(int page)
{
    // Built at most once each: the full values for those who asked for this
    // page, the counters alone for the others.
    const QJsonValue counters = m_report.pageJson(m_report.page(page), false).value(QStringLiteral("counters"));
    QByteArray full, brief;
    for (LiveClient &c : m_live) {
        const bool wants = c.valuesWanted & (1u << (page - 1));
        QByteArray &text = wants ? full : brief;
        if (text.isEmpty()) {
            QJsonObject o{{QStringLiteral("type"), wants ? QStringLiteral("values") : QStringLiteral("counters")},
                          {QStringLiteral("page"), page},
                          {QStringLiteral("counters"), counters}};
            if (wants)
                o.insert(QStringLiteral("values"), m_report.values(page));
            text = QJsonDocument(o).toJson(QJsonDocument::Compact);
        }
        sendLiveTo(c, text);
    }
}

void ConsoleServer::dropDeadLive()
{
    for (auto it = m_live.begin(); it != m_live.end();) {
        if (!it->socket || it->socket->state() != QAbstractSocket::ConnectedState) {
            QWebSocket *s = it->socket.release();
            if (s) {
                s->disconnect(this);
                s->deleteLater();
            }
            it = m_live.erase(it);
        } else {
            ++it;
        }
    }
}

void ConsoleServer::pingLive()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (LiveClient &c : m_live) {
        if (!c.socket)
            continue;
        if (now - c.lastPong > ConsoleListener::kIdleMs)
            c.socket->abort(); // no answer to pings for a minute
        else
            c.socket->ping();
    }
    dropDeadLive();
}
