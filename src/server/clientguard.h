#pragma once
// What a relay server remembers per remote host so that one host cannot
// lock every other viewer out: connections open from it, failed log-ins of
// the last minute, and whether a refusal was already reported. An IPv6 host
// is counted by its /64 (one host can hold a whole /64), an IPv4 one by its
// address. Across all hosts it also keeps the server's failed log-ins of the
// last minute: past a budget, log-ins are slowed for a minute.
// Time comes from the caller (the server's clock).
#include <QDateTime>
#include <QHash>
#include <QString>
#include <deque>
#include <functional>

class ClientGuard {
public:
    static constexpr int kMaxPerAddress = 10;
    static constexpr int kMaxFailedLogins = 5;
    static constexpr qint64 kFailureWindowMs = 60000;
    static constexpr qint64 kThrottleMs = 60000;
    static constexpr qint64 kReportGapMs = 60000;
    // Hosts remembered without any open connection or running refusal; the
    // oldest go first. A refused host stays until its minute is over.
    static constexpr int kMaxRemembered = 1000;
    // Failed log-ins a minute, across all hosts, beyond which the server's
    // log-ins are slowed for kSlowMs.
    static constexpr int kServerFailureBudget = 30;
    static constexpr qint64 kSlowMs = 60000;

    enum class Verdict { Accept, AddressFull, Throttled };
    struct Admission {
        Verdict verdict = Verdict::Accept;
        bool report = false; // first refusal of this episode: say it once
    };

    // The key a host is counted under: the IPv4 address itself, or the /64
    // of an IPv6 one ("2001:db8:0:1::/64").
    static QString hostKey(const QString &address);
    // The network that counts connections that are not established yet:
    // the /24 of an IPv4 address, the /64 of an IPv6 one.
    static QString networkKey(const QString &address);

    Admission admit(const QString &address, const QDateTime &now);
    void opened(const QString &address);
    void closed(const QString &address);
    // True when this failure starts the address's throttling (report it).
    bool loginFailed(const QString &address, const QDateTime &now);
    // True unless a closing of this address's client was reported within
    // the last minute.
    bool reportClose(const QString &address, const QDateTime &now);

    // The per-server budget: log-ins are slowed while this holds.
    bool slowingLogins(const QDateTime &now) const { return m_slowUntil.isValid() && now < m_slowUntil; }
    // True once when a failure started the slowing (report it).
    bool takeSlowingStarted();

    // Called with the address each time a throttled host is refused
    // (an alarm may watch for log-in attacks).
    std::function<void(const QString &address)> onThrottledRefusal;

    int openFrom(const QString &address) const;
    int rememberedAddresses() const { return int(m_hosts.size()); }

private:
    struct Host {
        int open = 0;
        std::deque<QDateTime> failures; // within the last minute
        QDateTime throttledUntil;
        bool fullReported = false;
        QDateTime closeReportedAt;
        QDateTime lastSeen;
    };
    void prune(const QDateTime &now);

    QHash<QString, Host> m_hosts;
    std::deque<QDateTime> m_serverFailures; // all hosts, within the last minute
    QDateTime m_slowUntil;
    qint64 m_lastPrune = -1; // ms since the epoch of the last sweep
    bool m_slowingStarted = false;
};
