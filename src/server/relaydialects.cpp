// What a relay server answers its clients, in the dialect of its source:
// ARX byte messages, HD/KF-71 text lines, or KX-71 analyzer requests.
#include "server/relayserver.h"

#include "connection/relaysource.h"
#include "core/clock.h"
#include "core/messagelog.h"
#include "server/arxtranslation.h"
#include "server/relayclient.h"


namespace {

constexpr char kArxEnd = char(0xFF);
constexpr int kKxFrameBytes = 356;

} // namespace

void RelayServer::applyLogin(RelayClient &client, const QByteArray &text, char terminator)
{
    const QDateTime now = m_clock.now();
    if (!m_guard.slowingLogins(now)) {
        answerLogin(client, text, terminator);
        return;
    }
    // Too many failures on this server: every answer waits, and only a few
    // may wait at once; a guesser gets a handful of tries a minute.
    int waiting = 0;
    for (const auto &c : m_clients)
        waiting += c->loginPending ? 1 : 0;
    if (waiting >= kMaxWaitingLogins) {
        client.dropNow = true;
        return;
    }
    client.loginPending = true;
    client.pendingLogin = text;
    client.pendingTerminator = terminator;
    client.loginDueAt = now.addMSecs(kSlowAnswerMs);
    scheduleHousekeeping();
}

void RelayServer::answerLogins()
{
    const QDateTime now = m_clock.now();
    for (auto &c : m_clients) {
        if (!c->loginPending || now < c->loginDueAt)
            continue;
        c->loginPending = false;
        answerLogin(*c, c->pendingLogin, c->pendingTerminator);
        c->pendingLogin.clear();
        // What came behind the log-in, until another log-in waits.
        while (!c->held.isEmpty() && !c->loginPending && !c->dropNow)
            handleMessage(*c, c->held.takeFirst());
    }
}

void RelayServer::answerLogin(RelayClient &client, const QByteArray &text, char terminator)
{
    const LoginResult result = checkLogin(m_users, text);
    client.level = result.level;
    client.loggedIn = result.level > 0;
    if (!result.reply.isEmpty())
        reply(client, result.reply + terminator);
    if (result.level > 0)
        client.user = QString::fromLatin1(text.left(qMin(text.indexOf(':'), 64)));
    if (result.level != 0)
        return;
    ++m_counters.failedLogins;
    report(client.address, QStringLiteral(" Failed login"),
           QStringLiteral(" Failed login from ") + client.address + QLatin1Char(':') + QString::number(client.clientPort),
           int(LogLevel::Status));
    const QDateTime now = m_clock.now();
    if (m_guard.loginFailed(client.address, now))
        m_log.log(pageName(),
                  QStringLiteral(" Connections from ") + client.address
                      + QStringLiteral(" refused for %1 s: %2 failed logins within a minute")
                            .arg(ClientGuard::kThrottleMs / 1000)
                            .arg(ClientGuard::kMaxFailedLogins),
                  LogLevel::Status);
    if (m_guard.takeSlowingStarted())
        m_log.log(pageName(),
                  QStringLiteral(" Log-ins slowed for %1 s: more than %2 failed logins within a minute from all "
                                 "addresses; each answer now waits %3 s")
                      .arg(ClientGuard::kSlowMs / 1000)
                      .arg(ClientGuard::kServerFailureBudget)
                      .arg(kSlowAnswerMs / 1000),
                  LogLevel::Status);
}

void RelayServer::handleArx(RelayClient &client, const QByteArray &m)
{
    if (client.level <= 0 || m.isEmpty())
        return;
    // Until a log-in succeeds, a server that requires one answers only the
    // hello and the log-in itself.
    const bool gated = m_settings.requireAuth && !client.loggedIn;
    const quint8 code = quint8(m.at(0));
    if (gated && code > 1)
        return;
    switch (code) {
    case 0:
        applyLogin(client, m.mid(1, m.size() - 2), kArxEnd);
        return;
    case 1:
        if (m_settings.requireAuth) {
            reply(client, QByteArrayLiteral("SPASSWORD") + kArxEnd);
        } else {
            client.level = 3;
            reply(client, QByteArrayLiteral("SVALID SUPERVISOR") + kArxEnd);
        }
        return;
    case 3: client.arxHalted = true; return;
    case 4:
        client.arxHalted = false;
        client.started = true;
        return;
    case 5: reply(client, QByteArrayLiteral("GOOD CHECKSUM") + kArxEnd); return;
    case 7: {
        RelaySource *src = commandSource();
        reply(client, (src ? src->modelId() : QByteArray()) + kArxEnd);
        return;
    }
    case 2:
    case 6:
        return;
    default:
        break;
    }
    RelaySource *src = commandSource();
    if (!src)
        return;
    const QByteArray command = arxtranslation::translate(src->unitFamily(), client.level, m);
    if (!command.isEmpty())
        src->queueUnitCommand(command);
}

void RelayServer::handleLine(RelayClient &client, const QByteArray &line)
{
    if (client.level <= 0 || line.size() <= 2)
        return;
    const bool kf = m_sourceType == 3;
    bool &halted = kf ? client.kfHalted : client.hdHalted;
    const QByteArray k = line.left(2);
    const bool gated = m_settings.requireAuth && !client.loggedIn;
    if (gated && k != "SC" && k != "SP")
        return;

    if (k == "SC") {
        if (m_settings.requireAuth) {
            reply(client, QByteArrayLiteral("SPASSWORD\r"));
        } else {
            client.level = 3;
            reply(client, QByteArrayLiteral("SVALID SUPERVISOR\r"));
        }
    } else if (k == "SD") {
        halted = false;
        client.started = true;
    } else if (k == "UI") {
        RelaySource *src = commandSource();
        reply(client, (src ? src->identLine() : QByteArray()) + '\r');
    } else if (k == "HD") {
        halted = true;
    } else if (k == "SP") {
        applyLogin(client, line.mid(2, line.size() - 3), '\r');
    }

    if (client.level < 2)
        return;
    if (k == "CC" || k == "PB") {
        if (RelaySource *src = commandSource())
            src->queueUnitCommand(line);
        if (k == "CC")
            queueChange(client, line);
    }
}

void RelayServer::handleKx(RelayClient &client, QByteArray text)
{
    if (text.isEmpty())
        return;
    const qsizetype marker = text.indexOf("\xF0\xF1");
    if (marker >= 0)
        text.remove(marker, 2);
    if (text.isEmpty())
        return; // the marker alone
    RelaySource *src = commandSource();
    static const QByteArray kEnd("\xF0\xF1", 2);
    if (text == "T\r") {
        reply(client, (src ? src->kxTypeReply() : QByteArray()) + kEnd);
        client.activity = -1;
        client.started = true;
        return;
    }
    if (text == "U\r") {
        reply(client, (src ? src->kxVersionReply() : QByteArray()) + kEnd);
        client.activity = -1;
        client.started = true;
        return;
    }
    const char f = text.at(0);
    if (f != 'D' && f != 'M' && f != 'V' && f != 'H')
        return;
    client.started = true;
    const char d = text.size() > 1 ? text.at(1) : '\0';
    if (src && d >= '1' && d <= '4') {
        const QByteArray frame = src->kxStoredFrame(d).left(kKxFrameBytes);
        if (!frame.isEmpty())
            reply(client, frame);
    }
    // The dialect has no log-in: with authentication required, its clients
    // read data and change nothing on the analyzer.
    const bool readOnly = m_settings.requireAuth;
    if (f != 'D' && readOnly && !client.kxRefusalTold) {
        client.kxRefusalTold = true;
        report(client.address, QStringLiteral(" KX-71 settings command not passed on"),
               QStringLiteral(" KX-71 client ") + client.address + QLatin1Char(':') + QString::number(client.clientPort)
                   + QStringLiteral(" may not change the analyzer's settings (\"Require Authentication\" is on): "
                                    "its commands are not passed on"),
               int(LogLevel::Status));
    }
    if (f != 'D' && src && !readOnly) {
        // The analyzer session puts its own data-mode digit back in place.
        QByteArray command = text;
        if (command.size() > 1)
            command.remove(1, 1);
        src->queueUnitCommand(command);
    }
    ++client.activity;
}
