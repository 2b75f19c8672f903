#pragma once
// The station console: an HTTP server on the event loop with accounts,
// cookie sessions (or HTTP Basic), a JSON API over the read model, live
// events on a WebSocket, Prometheus metrics and a health check. It reads the
// station only through report::StationReport and acts only through the
// operations the window's buttons call.
#include "console/consoleaccounts.h"
#include "console/consolesettings.h"
#include "server/clientguard.h"

#include <QAbstractHttpServer>
#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QSet>
#include <functional>
#include <memory>
#include <vector>

class ConsoleListener;
class QHttpServerRequest;
class QTcpSocket;
class QTimer;
class QWebSocket;
class Station;
namespace report {
class StationReport;
struct MessageRecord;
}

class ConsoleServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    static constexpr qint64 kSessionIdleMs = 30 * 60 * 1000;
    static constexpr int kMaxSessions = 1000;
    static constexpr int kMaxCredentialCache = 256;
    static constexpr qint64 kLiveBacklog = 256 * 1024;
    static constexpr int kMessageLimit = 1000; // lines per /api/messages answer
    static constexpr int kLivePingMs = 20000;

    struct Reply {
        int status = 200;
        QByteArray contentType = "application/json";
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers;
    };

    ConsoleServer(Station &station, report::StationReport &report, QObject *parent = nullptr);
    ~ConsoleServer() override;

    // Reads Console.CFG and the accounts and listens. False with one line
    // for the log when the console stays off (disabled is not a failure:
    // true, and isListening() false).
    bool start(QString *error);
    bool isListening() const;
    quint16 port() const;
    QString url() const;
    int liveClients() const { return int(m_live.size()); }
    ConsoleListener *listener() const { return m_listener; }
    // The station network (GET /api/network, "network" live events); without
    // it /api/network answers that the network is off.
    void setNetworkView(std::function<QJsonObject()> snapshot) { m_network = std::move(snapshot); }
    void sendNetworkEvent(const QJsonObject &event) { sendLive(event); }

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    struct Session {
        QString user;
        int level = 0;
        QByteArray csrf;
        qint64 lastUse = 0;
    };
    struct Caller {
        QString user;
        int level = 0;          // 0: not logged in
        bool viaSession = false;
        QByteArray csrf;        // the session's token
        QString address;
        bool loopback = false;
    };
    struct LiveClient {
        std::unique_ptr<QWebSocket> socket;
        QString user;
        int level = 0;
        qint64 lastPong = 0;
        // Pages whose values the client asked for ({"values": [..]}); -1: every page.
        quint32 valuesWanted = ~0u;
    };

    Reply route(const QHttpServerRequest &request, Caller &caller);
    Reply api(const QHttpServerRequest &request, const QStringList &parts, Caller &caller);
    Reply login(const QHttpServerRequest &request, const Caller &caller);
    Reply logout(const QHttpServerRequest &request, Caller &caller);
    Reply action(const QStringList &parts, const Caller &caller);
    Reply metrics() const;
    Reply alarms(const QHttpServerRequest &request, const QStringList &parts, const Caller &caller); // consolealarms.cpp
    QByteArray alarmMetrics() const;
    Reply health() const;
    Reply noAccountPage() const;
    // The browser console's files (consoleweb.cpp); status 404 for names it lacks.
    Reply webFile(const QHttpServerRequest &request, const QString &path) const;
    // A measurement log file summed up for a chart (consoleweb.cpp).
    Reply logChart(const QString &filePath, const QString &name, const QString &query) const;

    // Who is asking: a session cookie or HTTP Basic. Fills caller.level.
    // Returns false with a reply when the answer is a refusal already.
    bool identify(const QByteArray &cookie, const QByteArray &authorization, Caller &caller, Reply &refusal);
    int checkPassword(const QString &user, const QByteArray &password, const QString &address, bool *throttled);
    void reloadAccountsIfChanged();
    bool throttled(const QString &address);

    void onWebSocket();
    void sendLive(const QJsonObject &event, int minimumLevel = 1);
    void sendValues(int page);
    void onLiveText(QWebSocket *socket, const QString &text);
    void sendLiveTo(LiveClient &client, const QByteArray &text);
    void dropDeadLive();
    void pingLive();

    void write(const QHttpServerRequest &request, QTcpSocket *socket, const Reply &reply);
    void log(const QString &text, int level) const;

    Station &m_station;
    report::StationReport &m_report;
    ConsoleSettings m_settings;
    ConsoleListener *m_listener = nullptr;
    QString m_accountsPath;
    QList<ConsoleAccount> m_accounts;
    QString m_accountsStamp;    // size, time and inode of the file as last read
    bool m_accountsBroken = false;
    QHash<QByteArray, Session> m_sessions;
    QHash<QByteArray, std::pair<QString, int>> m_credentials; // keyed digest of user and password
    QByteArray m_cacheKey;
    ClientGuard m_guard;
    std::vector<LiveClient> m_live;
    QTimer *m_liveTimer = nullptr;
    QSet<int> m_valuesDue;
    std::function<QJsonObject()> m_network;
};
