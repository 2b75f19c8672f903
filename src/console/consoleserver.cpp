#include "console/consoleserver.h"

#include "console/consolelistener.h"
#include "console/consoleparse.h"
#include "core/clock.h"
#include "core/messagelog.h"
#include "core/outsidetext.h"
#include "report/stationreport.h"
#include "station/station.h"

#include <QFile>
#include <QFileInfo>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>

#include <sodium.h>
#include <sys/stat.h>

namespace {

QByteArray randomToken(int bytes)
{
    QByteArray raw(bytes, '\0');
    randombytes_buf(raw.data(), size_t(raw.size()));
    return raw.toHex();
}

QString addressText(const QHostAddress &a)
{
    bool ok = false;
    const QHostAddress v4(a.toIPv4Address(&ok));
    return ok ? v4.toString() : a.toString();
}

using consoleparse::cookieValue;

} // namespace

ConsoleServer::ConsoleServer(Station &station, report::StationReport &report, QObject *parent)
    : QAbstractHttpServer(parent), m_station(station), m_report(report), m_cacheKey(crypto_generichash_KEYBYTES, '\0')
{
    if (sodium_init() >= 0)
        randombytes_buf(m_cacheKey.data(), size_t(m_cacheKey.size()));
}

ConsoleServer::~ConsoleServer() = default;

void ConsoleServer::log(const QString &text, int level) const
{
    m_station.messageLog().log(QStringLiteral("Console"), text, level);
}

bool ConsoleServer::start(QString *error)
{
    if (!ConsoleSettings::load(m_station.configDirectory(), m_settings, error))
        return false;
    if (!m_settings.enabled)
        return true;
    m_accountsPath = consoleaccounts::path(m_station.configDirectory());
    reloadAccountsIfChanged();

    m_listener = new ConsoleListener(this);
    m_listener->onRefused = [this](const QString &address, const QString &why) {
        log(QStringLiteral("Connection from %1 refused: %2").arg(address, why), int(LogLevel::Status));
    };
    if (m_settings.tls()) {
        auto base = [this](const QString &p) {
            return QFileInfo(p).isAbsolute() ? p : m_station.baseDirectory() + QLatin1Char('/') + p;
        };
        QFile certFile(base(m_settings.tlsCertificate)), keyFile(base(m_settings.tlsKey));
        const QList<QSslCertificate> chain =
            certFile.open(QIODevice::ReadOnly) ? QSslCertificate::fromData(certFile.readAll(), QSsl::Pem) : QList<QSslCertificate>();
        QByteArray keyPem = keyFile.open(QIODevice::ReadOnly) ? keyFile.readAll() : QByteArray();
        QSslKey key(keyPem, QSsl::Rsa, QSsl::Pem);
        if (key.isNull())
            key = QSslKey(keyPem, QSsl::Ec, QSsl::Pem);
        sodium_memzero(keyPem.data(), size_t(keyPem.size()));
        if (!QSslSocket::supportsSsl() || chain.isEmpty() || key.isNull()) {
            if (error)
                *error = QStringLiteral("TLS certificate %1 or key %2 could not be read (PEM files expected)")
                             .arg(certFile.fileName(), keyFile.fileName());
            return false;
        }
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificateChain(chain);
        tls.setPrivateKey(key);
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        m_listener->setTls(tls);
    }
    if (!m_listener->listen(QHostAddress(m_settings.bind), quint16(m_settings.port))) {
        if (error)
            *error = QStringLiteral("cannot listen on %1 port %2: %3")
                         .arg(m_settings.bind)
                         .arg(m_settings.port)
                         .arg(m_listener->errorString());
        return false;
    }
    bind(m_listener);
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &ConsoleServer::onWebSocket);
    m_liveTimer = new QTimer(this);
    m_liveTimer->setInterval(kLivePingMs);
    connect(m_liveTimer, &QTimer::timeout, this, &ConsoleServer::pingLive);
    m_liveTimer->start();
    connect(&m_report, &report::StationReport::messageAdded, this, [this](const report::MessageRecord &m) {
        sendLive(QJsonObject{{QStringLiteral("type"), QStringLiteral("message")},
                             {QStringLiteral("message"), report::StationReport::messageJson(m)}});
    });
    connect(&m_report, &report::StationReport::alarmChanged, this, [this](const report::AlarmRecord &a) {
        sendLive(QJsonObject{{QStringLiteral("type"), QStringLiteral("alarm")},
                             {QStringLiteral("alarm"), report::StationReport::alarmJson(a)}});
    });
    connect(&m_report, &report::StationReport::pageChanged, this, [this](int n) {
        sendLive(QJsonObject{{QStringLiteral("type"), QStringLiteral("page")},
                             {QStringLiteral("page"), m_report.pageJson(m_report.page(n), false)}});
    });
    connect(&m_report, &report::StationReport::hardwareRowsChanged, this, [this](int n) {
        sendLive(QJsonObject{{QStringLiteral("type"), QStringLiteral("hardware")},
                             {QStringLiteral("page"), n},
                             {QStringLiteral("hardwareRows"),
                              m_report.pageJson(m_report.page(n), true).value(QStringLiteral("hardwareRows"))}});
    });
    connect(&m_report, &report::StationReport::serverChanged, this, [this](int n) {
        sendLive(QJsonObject{{QStringLiteral("type"), QStringLiteral("server")},
                             {QStringLiteral("server"), m_report.serverJson(m_report.server(n), true)}});
    });
    // The model looks at the pages every 250 ms: a page's values go out at
    // most four times a second, built once for every client.
    connect(&m_report, &report::StationReport::valuesChanged, this, [this](int n) {
        if (!m_live.empty())
            sendValues(n);
    });
    log(QStringLiteral("Console listening on %1").arg(url()), int(LogLevel::Status));
    if (m_accounts.isEmpty() && !m_accountsBroken)
        log(QStringLiteral("No console account yet: add one with tolva-server --base %1 --console-user NAME "
                           "--level Supervisor")
                .arg(m_station.baseDirectory()),
            int(LogLevel::Status));
    return true;
}

bool ConsoleServer::isListening() const
{
    return m_listener && m_listener->isListening();
}

quint16 ConsoleServer::port() const
{
    return isListening() ? m_listener->serverPort() : 0;
}

QString ConsoleServer::url() const
{
    QString host = m_settings.bind;
    if (host.contains(QLatin1Char(':')))
        host = QLatin1Char('[') + host + QLatin1Char(']');
    return QStringLiteral("%1://%2:%3/").arg(m_settings.tls() ? QStringLiteral("https") : QStringLiteral("http"), host)
        .arg(port());
}

// --- accounts ------------------------------------------------------------------

void ConsoleServer::reloadAccountsIfChanged()
{
    // The command line changes the file while the service runs: a changed
    // size, time or inode is read again before the next check.
    struct stat st {};
    QString stamp;
    if (::stat(QFile::encodeName(m_accountsPath).constData(), &st) == 0)
        stamp = QStringLiteral("%1/%2.%3/%4/%5")
                    .arg(st.st_size)
                    .arg(st.st_mtim.tv_sec)
                    .arg(st.st_mtim.tv_nsec)
                    .arg(st.st_ino)
                    .arg(st.st_mode);
    if (stamp == m_accountsStamp && !m_accountsStamp.isNull())
        return;
    m_accountsStamp = stamp.isNull() ? QStringLiteral("none") : stamp;
    QString error;
    QList<ConsoleAccount> accounts;
    m_accountsBroken = !consoleaccounts::load(m_accountsPath, accounts, &error);
    if (m_accountsBroken)
        log(QStringLiteral("Console accounts not loaded: ") + error, int(LogLevel::Error));
    m_accounts = accounts;
    m_credentials.clear();
    // Sessions of removed or changed accounts end with the change.
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        bool keep = false;
        for (const ConsoleAccount &a : m_accounts)
            keep = keep || (a.name == it->user && a.level == it->level);
        it = keep ? std::next(it) : m_sessions.erase(it);
    }
}

bool ConsoleServer::throttled(const QString &address)
{
    return m_guard.admit(address, m_station.messageLog().clock().now()).verdict == ClientGuard::Verdict::Throttled;
}

int ConsoleServer::checkPassword(const QString &user, const QByteArray &password, const QString &address, bool *wasThrottled)
{
    *wasThrottled = false;
    if (throttled(address)) {
        *wasThrottled = true;
        return 0;
    }
    // A verified pair is remembered under a keyed digest, so Basic on every
    // request costs one argon2id check, not one per request.
    unsigned char digest[32];
    const QByteArray material = user.toUtf8() + '\0' + password;
    crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char *>(material.constData()),
                       size_t(material.size()), reinterpret_cast<const unsigned char *>(m_cacheKey.constData()),
                       size_t(m_cacheKey.size()));
    const QByteArray key(reinterpret_cast<const char *>(digest), sizeof digest);
    const auto cached = m_credentials.constFind(key);
    if (cached != m_credentials.cend())
        return cached->second;
    int level = 0;
    for (const ConsoleAccount &a : m_accounts)
        if (a.name == user && password.size() <= consoleaccounts::kMaxPasswordLength
            && consoleaccounts::verifyPassword(a.hash, password))
            level = a.level;
    const QString shown = outsidetext::shown(user, 40);
    if (level == 0) {
        log(QStringLiteral("Failed log-in as \"%1\" from %2").arg(shown, address), int(LogLevel::Status));
        if (m_guard.loginFailed(address, m_station.messageLog().clock().now()))
            log(QStringLiteral("Log-ins from %1 refused for %2 s: %3 failed log-ins within a minute")
                    .arg(address)
                    .arg(ClientGuard::kThrottleMs / 1000)
                    .arg(ClientGuard::kMaxFailedLogins),
                int(LogLevel::Status));
        return 0;
    }
    log(QStringLiteral("%1 logged in from %2 (%3)").arg(shown, address, consoleaccounts::levelName(level)),
        int(LogLevel::Status));
    if (m_credentials.size() >= kMaxCredentialCache)
        m_credentials.clear();
    m_credentials.insert(key, {user, level});
    return level;
}

bool ConsoleServer::identify(const QByteArray &cookie, const QByteArray &authorization, Caller &caller, Reply &refusal)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    // Credentials given with the request go before a cookie the client keeps.
    const QByteArray token = authorization.startsWith("Basic ") ? QByteArray() : cookieValue(cookie, "tolva_session");
    if (!token.isEmpty()) {
        auto it = m_sessions.find(token);
        if (it != m_sessions.end() && now - it->lastUse < kSessionIdleMs) {
            it->lastUse = now;
            caller.user = it->user;
            caller.level = it->level;
            caller.viaSession = true;
            caller.csrf = it->csrf;
            return true;
        }
        if (it != m_sessions.end())
            m_sessions.erase(it);
    }
    QString user;
    QByteArray password;
    if (authorization.startsWith("Basic ")) {
        if (consoleparse::basic(authorization, user, password)) {
            bool wasThrottled = false;
            caller.level = checkPassword(user, password, caller.address, &wasThrottled);
            caller.user = caller.level ? user : QString();
            if (wasThrottled) {
                refusal = Reply{429, "application/json", R"({"error":"too many failed log-ins; wait a minute"})", {}};
                return false;
            }
        }
    }
    return true;
}

// --- HTTP --------------------------------------------------------------------------

void ConsoleServer::write(const QHttpServerRequest &request, QTcpSocket *socket, const Reply &reply)
{
    QHttpServerResponder responder = makeResponder(request, socket);
    responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(reply.status));
    responder.writeHeader("Content-Type", reply.contentType);
    responder.writeHeader("Content-Length", QByteArray::number(reply.body.size()));
    bool cacheGiven = false;
    for (const auto &h : reply.headers)
        cacheGiven = cacheGiven || h.first == "Cache-Control";
    if (!cacheGiven)
        responder.writeHeader("Cache-Control", "no-store");
    responder.writeHeader("X-Content-Type-Options", "nosniff");
    for (const auto &h : reply.headers)
        responder.writeHeader(h.first, h.second);
    responder.writeBody(reply.body);
}

bool ConsoleServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    // Qt hands a WebSocket upgrade to its WebSocket side after this: an
    // answer here would stand before its handshake.
    if (request.value("Upgrade").compare("websocket", Qt::CaseInsensitive) == 0)
        return true;
    Caller caller;
    caller.address = addressText(request.remoteAddress());
    caller.loopback = request.remoteAddress().isLoopback();
    qint64 headerBytes = request.url().toEncoded().size();
    for (const auto &h : request.headers())
        headerBytes += h.first.size() + h.second.size() + 4;
    Reply reply;
    if (headerBytes > ConsoleListener::kMaxHeaderBytes)
        reply = Reply{431, "application/json", R"({"error":"request headers larger than 16 KiB"})", {}};
    else if (request.body().size() > ConsoleListener::kMaxBodyBytes)
        reply = Reply{413, "application/json", R"({"error":"request body larger than 64 KiB"})", {}};
    else
        reply = route(request, caller);
    write(request, socket, reply);
    return true;
}

void ConsoleServer::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket)
{
    write(request, socket, Reply{404, "application/json", R"({"error":"not found"})", {}});
}

ConsoleServer::Reply ConsoleServer::noAccountPage() const
{
    const QString text = QStringLiteral(
        "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\"><title>Station console</title></head>"
        "<body><h1>Station console</h1><p>No console account has been set up yet. On the station computer, "
        "add one with:</p><pre>tolva-server --base %1 --console-user NAME --level Supervisor</pre>"
        "<p>The program asks for the password; the running service notices the new account.</p></body></html>")
                             .arg(m_station.baseDirectory().toHtmlEscaped());
    return Reply{m_accountsBroken ? 503 : 200, "text/html; charset=utf-8", text.toUtf8(), {}};
}

ConsoleServer::Reply ConsoleServer::route(const QHttpServerRequest &request, Caller &caller)
{
    reloadAccountsIfChanged();
    const QString path = request.url().path();
    const bool get = request.method() == QHttpServerRequest::Method::Get;
    const bool post = request.method() == QHttpServerRequest::Method::Post;
    auto json = [](int status, const QJsonObject &o) {
        return Reply{status, "application/json", QJsonDocument(o).toJson(QJsonDocument::Compact), {}};
    };
    auto error = [&](int status, const QString &text) { return json(status, {{QStringLiteral("error"), text}}); };

    if (path == QLatin1String("/healthz"))
        return get ? health() : error(405, QStringLiteral("GET only"));
    if (path == QLatin1String("/metrics")) {
        if (!get)
            return error(405, QStringLiteral("GET only"));
        if (caller.loopback)
            return metrics();
        Reply refusal;
        if (!m_accounts.isEmpty() && request.value("Authorization").startsWith("Basic ")) {
            if (!identify({}, request.value("Authorization"), caller, refusal))
                return refusal;
            if (caller.level > 0)
                return metrics();
        }
        Reply r = error(401, QStringLiteral("metrics from another computer need an account (HTTP Basic)"));
        r.headers << qMakePair(QByteArray("WWW-Authenticate"), QByteArray("Basic realm=\"tolva\""));
        return r;
    }
    if (path == QLatin1String("/") && get && m_accounts.isEmpty())
        return noAccountPage();
    if (get && !path.startsWith(QLatin1String("/api/")))
        return webFile(request, path);
    if (!path.startsWith(QLatin1String("/api/")))
        return error(404, QStringLiteral("not found"));
    if (m_accounts.isEmpty()) {
        Reply r = noAccountPage();
        r.status = 403;
        return r;
    }
    const QStringList parts = path.mid(5).split(QLatin1Char('/'));
    if (parts == QStringList{QStringLiteral("login")})
        return post ? login(request, caller) : error(405, QStringLiteral("POST only"));
    Reply refusal;
    if (!identify(request.value("Cookie"), request.value("Authorization"), caller, refusal))
        return refusal;
    if (caller.level == 0) {
        Reply r = error(401, QStringLiteral("log in first"));
        // The console's own pages show their log-in instead of the browser's Basic prompt.
        if (request.value("X-Tolva-Console").isEmpty())
            r.headers << qMakePair(QByteArray("WWW-Authenticate"), QByteArray("Basic realm=\"tolva\""));
        return r;
    }
    if (post && caller.viaSession) {
        // A cookie goes with every request a browser makes; the token only
        // with those the console's own pages make.
        const QByteArray csrf = request.value("X-Tolva-Csrf");
        if (csrf.isEmpty() || sodium_memcmp(csrf.constData(), caller.csrf.constData(), size_t(qMin(csrf.size(), caller.csrf.size()))) != 0
            || csrf.size() != caller.csrf.size())
            return error(403, QStringLiteral("missing or wrong X-Tolva-Csrf header"));
    }
    if (parts == QStringList{QStringLiteral("logout")})
        return post ? logout(request, caller) : error(405, QStringLiteral("POST only"));
    if (parts.value(0) == QLatin1String("alarms"))
        return alarms(request, parts, caller);
    if (post)
        return action(parts, caller);
    if (!get)
        return error(405, QStringLiteral("GET or POST only"));
    return api(request, parts, caller);
}

ConsoleServer::Reply ConsoleServer::login(const QHttpServerRequest &request, const Caller &caller)
{
    auto error = [](int status, const char *text) {
        return Reply{status, "application/json", QByteArray(R"({"error":")") + text + "\"}", {}};
    };
    QString user, why;
    QByteArray password;
    if (!consoleparse::login(request.body(), user, password, &why))
        return Reply{400, "application/json", QJsonDocument(QJsonObject{{QStringLiteral("error"), why}}).toJson(QJsonDocument::Compact), {}};
    bool wasThrottled = false;
    const int level = checkPassword(user, password, caller.address, &wasThrottled);
    if (wasThrottled)
        return error(429, "too many failed log-ins; wait a minute");
    if (level == 0)
        return error(401, "wrong user name or password");
    if (m_sessions.size() >= kMaxSessions) {
        // The least recently used session makes room.
        auto oldest = m_sessions.begin();
        for (auto it = m_sessions.begin(); it != m_sessions.end(); ++it)
            if (it->lastUse < oldest->lastUse)
                oldest = it;
        m_sessions.erase(oldest);
    }
    Session s{user, level, randomToken(16), QDateTime::currentMSecsSinceEpoch()};
    const QByteArray token = randomToken(32);
    m_sessions.insert(token, s);
    QByteArray cookie = "tolva_session=" + token + "; Path=/; HttpOnly; SameSite=Strict";
    if (m_settings.tls())
        cookie += "; Secure";
    Reply r{200, "application/json",
            QJsonDocument(QJsonObject{{QStringLiteral("csrf"), QString::fromLatin1(s.csrf)},
                                      {QStringLiteral("user"), s.user},
                                      {QStringLiteral("level"), consoleaccounts::levelName(level)}})
                .toJson(QJsonDocument::Compact),
            {}};
    r.headers << qMakePair(QByteArray("Set-Cookie"), cookie);
    return r;
}

ConsoleServer::Reply ConsoleServer::logout(const QHttpServerRequest &request, Caller &caller)
{
    if (caller.viaSession)
        m_sessions.remove(cookieValue(request.value("Cookie"), "tolva_session"));
    Reply r{200, "application/json", "{}", {}};
    r.headers << qMakePair(QByteArray("Set-Cookie"),
                           QByteArray("tolva_session=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0"));
    return r;
}
