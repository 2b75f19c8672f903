#include "server/clientguard.h"

#include <QHostAddress>

#include <algorithm>
#include <vector>

namespace {

// The address with everything past `bits` cleared, written as a prefix;
// the address unchanged when it is none.
QString prefixOf(const QString &address, int v4Bits, int v6Bits)
{
    QHostAddress a(address);
    bool v4 = false;
    const quint32 ip4 = a.toIPv4Address(&v4);
    if (v4) {
        if (v4Bits >= 32)
            return QHostAddress(ip4).toString();
        const quint32 mask = v4Bits <= 0 ? 0 : ~quint32(0) << (32 - v4Bits);
        return QHostAddress(ip4 & mask).toString() + QStringLiteral("/%1").arg(v4Bits);
    }
    if (a.protocol() != QAbstractSocket::IPv6Protocol)
        return address;
    Q_IPV6ADDR ip6 = a.toIPv6Address();
    for (int i = v6Bits / 8; i < 16; ++i)
        ip6[i] = 0;
    return QHostAddress(ip6).toString() + QStringLiteral("/%1").arg(v6Bits);
}

} // namespace

QString ClientGuard::hostKey(const QString &address)
{
    return prefixOf(address, 32, 64);
}

QString ClientGuard::networkKey(const QString &address)
{
    return prefixOf(address, 24, 64);
}

ClientGuard::Admission ClientGuard::admit(const QString &address, const QDateTime &now)
{
    prune(now);
    Host &h = m_hosts[hostKey(address)];
    h.lastSeen = now;
    if (h.throttledUntil.isValid()) {
        if (now < h.throttledUntil) {
            if (onThrottledRefusal)
                onThrottledRefusal(address);
            return {Verdict::Throttled, false}; // reported when it started
        }
        h.throttledUntil = QDateTime();
        h.failures.clear();
    }
    if (h.open >= kMaxPerAddress) {
        const bool first = !h.fullReported;
        h.fullReported = true;
        return {Verdict::AddressFull, first};
    }
    h.fullReported = false;
    return {};
}

void ClientGuard::opened(const QString &address)
{
    ++m_hosts[hostKey(address)].open;
}

void ClientGuard::closed(const QString &address)
{
    auto it = m_hosts.find(hostKey(address));
    if (it != m_hosts.end() && it->open > 0)
        --it->open;
}

bool ClientGuard::loginFailed(const QString &address, const QDateTime &now)
{
    while (!m_serverFailures.empty()
           && (m_serverFailures.front().msecsTo(now) >= kFailureWindowMs || now < m_serverFailures.front()))
        m_serverFailures.pop_front();
    m_serverFailures.push_back(now);
    if (int(m_serverFailures.size()) > kServerFailureBudget && !slowingLogins(now)) {
        m_slowUntil = now.addMSecs(kSlowMs);
        m_slowingStarted = true;
        m_serverFailures.clear();
    }

    Host &h = m_hosts[hostKey(address)];
    h.lastSeen = now;
    if (h.throttledUntil.isValid() && now < h.throttledUntil)
        return false;
    while (!h.failures.empty() && h.failures.front().msecsTo(now) >= kFailureWindowMs)
        h.failures.pop_front();
    h.failures.push_back(now);
    if (int(h.failures.size()) < kMaxFailedLogins)
        return false;
    h.throttledUntil = now.addMSecs(kThrottleMs);
    h.failures.clear();
    return true;
}

bool ClientGuard::takeSlowingStarted()
{
    const bool started = m_slowingStarted;
    m_slowingStarted = false;
    return started;
}

bool ClientGuard::reportClose(const QString &address, const QDateTime &now)
{
    Host &h = m_hosts[hostKey(address)];
    h.lastSeen = now;
    if (h.closeReportedAt.isValid() && h.closeReportedAt.msecsTo(now) < kReportGapMs)
        return false;
    h.closeReportedAt = now;
    return true;
}

int ClientGuard::openFrom(const QString &address) const
{
    auto it = m_hosts.find(hostKey(address));
    return it == m_hosts.end() ? 0 : it->open;
}

void ClientGuard::prune(const QDateTime &now)
{
    // A sweep at most once a second, or when the table is over its bound: a
    // flood of connections costs no full look at the table each.
    const qint64 t = now.toMSecsSinceEpoch();
    if (m_hosts.size() <= kMaxRemembered && m_lastPrune >= 0 && t >= m_lastPrune && t - m_lastPrune < 1000)
        return;
    m_lastPrune = t;
    // Hosts with nothing open and nothing pending are forgotten; a flood from
    // many addresses cannot make the table grow without end.
    std::vector<std::pair<QDateTime, QString>> spare; // neither connected nor refused
    for (auto it = m_hosts.begin(); it != m_hosts.end();) {
        const Host &h = it.value();
        const bool throttled = h.throttledUntil.isValid() && now < h.throttledUntil;
        const bool recentFailures = !h.failures.empty() && h.failures.back().msecsTo(now) < kFailureWindowMs;
        const bool recentReport = h.closeReportedAt.isValid() && h.closeReportedAt.msecsTo(now) < kReportGapMs;
        if (h.open == 0 && !throttled && !recentFailures && !recentReport) {
            it = m_hosts.erase(it);
            continue;
        }
        if (h.open == 0 && !throttled)
            spare.emplace_back(h.lastSeen, it.key());
        ++it;
    }
    // Over the bound, the oldest hosts that are neither connected nor
    // refused go first, down to nine tenths so that this is seldom. A
    // refused host is never dropped before its minute is over: fresh
    // addresses must not buy it free. Refused hosts need five failed log-ins
    // each, which the server's budget slows, so they alone cannot make the
    // table grow without end either.
    if (m_hosts.size() <= kMaxRemembered)
        return;
    std::sort(spare.begin(), spare.end());
    for (const auto &[seen, key] : spare) {
        if (m_hosts.size() <= kMaxRemembered * 9 / 10)
            break;
        m_hosts.remove(key);
    }
}
