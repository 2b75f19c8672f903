#include "server/clientguard.h"

ClientGuard::Admission ClientGuard::admit(const QString &address, const QDateTime &now)
{
    prune(now);
    Host &h = m_hosts[address];
    h.lastSeen = now;
    if (h.throttledUntil.isValid()) {
        if (now < h.throttledUntil)
            return {Verdict::Throttled, false}; // reported when it started
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
    ++m_hosts[address].open;
}

void ClientGuard::closed(const QString &address)
{
    auto it = m_hosts.find(address);
    if (it != m_hosts.end() && it->open > 0)
        --it->open;
}

bool ClientGuard::loginFailed(const QString &address, const QDateTime &now)
{
    Host &h = m_hosts[address];
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

bool ClientGuard::reportClose(const QString &address, const QDateTime &now)
{
    Host &h = m_hosts[address];
    h.lastSeen = now;
    if (h.closeReportedAt.isValid() && h.closeReportedAt.msecsTo(now) < kReportGapMs)
        return false;
    h.closeReportedAt = now;
    return true;
}

int ClientGuard::openFrom(const QString &address) const
{
    auto it = m_hosts.find(address);
    return it == m_hosts.end() ? 0 : it->open;
}

void ClientGuard::prune(const QDateTime &now)
{
    // Hosts with nothing open and nothing pending are forgotten; a flood from
    // many addresses cannot make the table grow without end.
    for (auto it = m_hosts.begin(); it != m_hosts.end();) {
        const Host &h = it.value();
        const bool throttled = h.throttledUntil.isValid() && now < h.throttledUntil;
        const bool recentFailures = !h.failures.empty() && h.failures.back().msecsTo(now) < kFailureWindowMs;
        const bool recentReport = h.closeReportedAt.isValid() && h.closeReportedAt.msecsTo(now) < kReportGapMs;
        if (h.open == 0 && !throttled && !recentFailures && !recentReport)
            it = m_hosts.erase(it);
        else
            ++it;
    }
    while (m_hosts.size() > kMaxRemembered) {
        auto oldest = m_hosts.end();
        for (auto it = m_hosts.begin(); it != m_hosts.end(); ++it) {
            if (it->open == 0 && (oldest == m_hosts.end() || it->lastSeen < oldest->lastSeen))
                oldest = it;
        }
        if (oldest == m_hosts.end())
            break;
        m_hosts.erase(oldest);
    }
}
