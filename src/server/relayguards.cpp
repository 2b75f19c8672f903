// How a relay server keeps hostile or vanished viewers from costing the
// others: the allowed client networks, per-address limits, limits on
// connections not yet logged in and log-in throttling at accept, a stall
// rule that counts what waits in the kernel too, silence, log-in and idle
// deadlines, refusal when no descriptor is left, and a bound on the lines
// remote clients can cause in the message window.
#include "server/relayserver.h"

#include "core/clock.h"
#include "core/descriptors.h"
#include "core/messagelog.h"
#include "server/relayclient.h"

#include <QTcpServer>

#include <cerrno>
#include <cstring>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace {

// Bytes the kernel still holds for the peer: unsent plus sent but not
// acknowledged. 0 when it cannot be told.
qint64 kernelQueued(const ClientSocket &socket)
{
    const int fd = socket.descriptor();
    int n = 0;
    if (fd < 0 || ::ioctl(fd, SIOCOUTQ, &n) != 0)
        return 0;
    return n;
}

} // namespace

bool RelayServer::admit(const QString &address)
{
    const ClientGuard::Admission a = m_guard.admit(address, m_clock.now());
    if (a.verdict == ClientGuard::Verdict::Accept)
        return true;
    if (a.verdict == ClientGuard::Verdict::Throttled)
        emit throttledAddressRefused(address);
    if (a.report)
        m_log.log(pageName(),
                  QStringLiteral(" Connection from ") + address
                      + QStringLiteral(" refused: %1 connections from this address already open")
                            .arg(ClientGuard::kMaxPerAddress),
                  LogLevel::Status);
    return false;
}

bool RelayServer::allowedNetwork(const QString &address)
{
    if (serverfiles::clientAllowed(m_settings.allowedClients, address))
        return true;
    report(address, QStringLiteral(" Connection refused: not in the allowed client networks"),
           QStringLiteral(" Connection from ") + address + QStringLiteral(" refused: not in the allowed client networks"),
           int(LogLevel::Status));
    return false;
}

bool RelayServer::established(const RelayClient &c) const
{
    // The analyzer's dialect has no log-in: a request is its start.
    if (loginRequired())
        return c.loggedIn;
    return c.started;
}

bool RelayServer::loginRequired() const
{
    return m_settings.requireAuth && m_sourceType != 1;
}

bool RelayServer::admitUnestablished(const QString &address)
{
    const QString network = ClientGuard::networkKey(address);
    int all = 0;
    int fromNetwork = 0;
    for (const auto &c : m_clients) {
        if (established(*c))
            continue;
        ++all;
        if (ClientGuard::networkKey(c->address) == network)
            ++fromNetwork;
    }
    const QString waiting = loginRequired() ? QStringLiteral("not logged in yet")
                                                                         : QStringLiteral("not started yet");
    if (all >= kMaxUnestablished) {
        report(address, QStringLiteral(" Connection refused: too many connections ") + waiting,
               QStringLiteral(" Connection from ") + address
                   + QStringLiteral(" refused: %1 connections %2 on this server").arg(kMaxUnestablished).arg(waiting),
               int(LogLevel::Status));
        return false;
    }
    if (fromNetwork >= kMaxUnestablishedPerNetwork) {
        report(network, QStringLiteral(" Connection refused: too many connections ") + waiting,
               QStringLiteral(" Connection from ") + address
                   + QStringLiteral(" refused: %1 connections from %2 %3").arg(kMaxUnestablishedPerNetwork).arg(network, waiting),
               int(LogLevel::Status));
        return false;
    }
    return true;
}

void RelayServer::report(const QString &address, const QString &kind, const QString &text, int level)
{
    flushReports();
    if (m_reports.pass(ClientGuard::hostKey(address), kind, level, m_clock.now())) {
        m_log.log(pageName(), text, level);
        return;
    }
    scheduleHousekeeping(); // for the summary when the minute is over
}

void RelayServer::flushReports()
{
    for (const ReportGate::Summary &s : m_reports.due(m_clock.now()))
        m_log.log(pageName(), s.text, s.level);
}

void RelayServer::dropClosedPeers()
{
    std::vector<ClientSocket *> gone;
    for (auto &c : m_clients) {
        if (!c->socket->isOpen())
            gone.push_back(c->socket.get());
    }
    for (ClientSocket *socket : gone)
        dropClient(socket);
}

void RelayServer::onAcceptError()
{
    // The listener paused itself; checkAccepting() goes on from here.
    m_acceptPaused = true;
    scheduleHousekeeping();
}

void RelayServer::checkAccepting()
{
    // With no descriptor left, accept() fails and the connection stays
    // waiting. Qt pauses the listener and reports it (onAcceptError, which
    // starts the housekeeping of a server without clients too); found here
    // first, it is paused the same way. The waiting connections are closed
    // with the descriptor kept in reserve, and listening resumes once
    // descriptors are free.
    if (!m_listener->isListening())
        return;
    const int fd = int(m_listener->socketDescriptor());
    pollfd p {fd, POLLIN, 0};
    const bool waiting = ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
    if (!m_acceptPaused) {
        if (!waiting || descriptors::available(1))
            return;
        m_listener->pauseAccepting();
        m_acceptPaused = true;
        scheduleHousekeeping();
    }
    if (descriptors::available(2)) {
        m_listener->resumeAccepting();
        m_acceptPaused = false;
        return;
    }
    if (!waiting)
        return;
    descriptors::refuseWaiting(fd);
    if (!m_acceptFailing)
        m_log.log(pageName(), QStringLiteral(" Connection refused: ") + QString::fromLocal8Bit(std::strerror(EMFILE)),
                  LogLevel::Status);
    m_acceptFailing = true;
}

namespace {

// A viewer that had nothing waiting for it anywhere at its last look keeps
// up: it is looked at again only after kQuietLookMs, or as soon as bytes wait
// for it in the program (which takes no system call to tell).
bool dueForLook(const RelayClient &c, qint64 nowMs)
{
    if (!c.keptUp || c.lastLookMs < 0 || c.socket->bytesToWrite() > 0)
        return true;
    const qint64 since = nowMs - c.lastLookMs;
    return since >= RelayServer::kQuietLookMs || since < 0;
}

// Looks at what waits for a client (here and in the kernel) and how much it
// took since the last look. Returns how long it has taken nothing while
// bytes waited, or -1 while it takes them (or nothing waits, or it kept up
// at its last look and is not due for another).
qint64 stalledFor(RelayClient &c, qint64 nowMs)
{
    if (!dueForLook(c, nowMs))
        return -1;
    c.lastLookMs = nowMs;
    const qint64 waiting = c.socket->bytesToWrite() + kernelQueued(*c.socket);
    c.keptUp = waiting <= 0;
    const quint64 taken = c.bytesQueued - quint64(qMax<qint64>(waiting, 0));
    if (waiting <= 0 || taken != c.bytesTaken) {
        c.bytesTaken = taken;
        c.stallSinceMs = -1;
        return -1;
    }
    if (c.stallSinceMs < 0 || c.stallSinceMs > nowMs)
        c.stallSinceMs = nowMs;
    return nowMs - c.stallSinceMs;
}

} // namespace

void RelayServer::sampleProgress()
{
    // Records go out as they are filed, without a timer. A viewer that
    // stopped reading is noticed here, at most once a second, and the
    // housekeeping timer then counts its time; a viewer that reads is looked
    // at only every kQuietLookMs.
    const qint64 nowMs = m_clock.nowMs();
    if (m_lastSampleMs >= 0 && nowMs - m_lastSampleMs < kHousekeepingMs && m_lastSampleMs <= nowMs)
        return;
    m_lastSampleMs = nowMs;
    bool stalled = false;
    for (auto &c : m_clients)
        stalled = stalledFor(*c, nowMs) >= 0 || stalled;
    if (stalled)
        scheduleHousekeeping();
}

void RelayServer::checkStalled()
{
    // A viewer that reads nothing stops taking bytes: its window closes, and
    // what waits for it (here and in the kernel) stops shrinking. Counted
    // from the first look that found it so, whatever the record rate.
    const qint64 nowMs = m_clock.nowMs();
    std::vector<ClientSocket *> stalled;
    for (auto &c : m_clients) {
        if (stalledFor(*c, nowMs) >= kStallLimitMs)
            stalled.push_back(c->socket.get());
    }
    for (ClientSocket *socket : stalled) {
        // Reset, not closed: a closing handshake would wait behind the bytes
        // the viewer does not take, and the kernel would keep them meanwhile.
        socket->resetOnClose();
        ++m_counters.viewersDropped;
        closeClient(socket, QStringLiteral("not reading its data"));
    }
}

bool RelayServer::housekeepingNeeded() const
{
    if (m_acceptPaused)
        return true;
    for (const auto &c : m_clients) {
        const bool receiving = !c->arxHalted || !c->hdHalted || !c->kfHalted;
        if (c->stallSinceMs >= 0 || c->socket->bytesToWrite() >= kSendCap || !receiving
            || (loginRequired() && !c->loggedIn) || !c->spoke || c->loginPending)
            return true;
    }
    return m_reports.holding();
}

void RelayServer::checkDeadlines()
{
    const QDateTime now = m_clock.now();
    std::vector<std::pair<ClientSocket *, QString>> expired;
    for (auto &c : m_clients) {
        if (c->dropNow) {
            expired.emplace_back(c->socket.get(), QStringLiteral("log-ins slowed, %1 already waiting").arg(kMaxWaitingLogins));
            continue;
        }
        // The analyzer's dialect has no log-in: its clients are never
        // closed for not logging in.
        if (loginRequired() && !c->loggedIn && c->connectedAt.msecsTo(now) >= kLoginDeadlineMs) {
            expired.emplace_back(c->socket.get(), QStringLiteral("no login within %1 s").arg(kLoginDeadlineMs / 1000));
            continue;
        }
        if (!c->spoke && c->connectedAt.msecsTo(now) >= kSilenceLimitMs) {
            expired.emplace_back(c->socket.get(), QStringLiteral("sent nothing within %1 s").arg(kSilenceLimitMs / 1000));
            continue;
        }
        const bool receiving = !c->arxHalted || !c->hdHalted || !c->kfHalted;
        if (!receiving && c->lastMessageAt.msecsTo(now) >= kIdleLimitMs)
            expired.emplace_back(c->socket.get(), QStringLiteral("idle for %1 minutes").arg(kIdleLimitMs / 60000));
    }
    for (const auto &[socket, why] : expired)
        closeClient(socket, why);
}

void RelayServer::closeClient(ClientSocket *socket, const QString &why)
{
    const RelayClient *c = findClient(socket);
    if (!c)
        return;
    // One line per address a minute: a host that keeps coming back to sit
    // idle does not fill the message window.
    report(c->address, QStringLiteral(" Client disconnected"),
           QStringLiteral(" Client ") + c->address + QLatin1Char(':') + QString::number(c->clientPort)
               + QStringLiteral(" disconnected: ") + why,
           int(LogLevel::Status));
    dropClient(socket);
}
