#pragma once
// What a relay server remembers per remote address so that one host cannot
// lock every other viewer out: connections open from the address, failed
// log-ins of the last minute, and whether a refusal was already reported.
// Time comes from the caller (the server's clock).
#include <QDateTime>
#include <QHash>
#include <QString>
#include <deque>

class ClientGuard {
public:
    static constexpr int kMaxPerAddress = 10;
    static constexpr int kMaxFailedLogins = 5;
    static constexpr qint64 kFailureWindowMs = 60000;
    static constexpr qint64 kThrottleMs = 60000;
    static constexpr qint64 kReportGapMs = 60000;
    // Addresses remembered without any open connection; the oldest go first.
    static constexpr int kMaxRemembered = 1000;

    enum class Verdict { Accept, AddressFull, Throttled };
    struct Admission {
        Verdict verdict = Verdict::Accept;
        bool report = false; // first refusal of this episode: say it once
    };

    Admission admit(const QString &address, const QDateTime &now);
    void opened(const QString &address);
    void closed(const QString &address);
    // True when this failure starts the address's throttling (report it).
    bool loginFailed(const QString &address, const QDateTime &now);
    // True unless a closing of this address's client was reported within
    // the last minute.
    bool reportClose(const QString &address, const QDateTime &now);

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
};
