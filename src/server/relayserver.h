#pragma once
// One relay server page: a TCP listener that offers the records of one
// source (a connection page or the log player) to remote clients, speaking
// the dialect of the source's hardware type, and passes permitted commands of
// the clients on to the source's unit.
#include "connection/relaystore.h"
#include "server/clientguard.h"
#include "server/reportgate.h"
#include "server/serversettings.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

class Clock;
class MessageLog;
class QHostInfo;
class QTcpServer;
class ClientSocket;
class FdPoller;
class QTimer;
class RelaySource;
struct RelayClient;

struct ServerRow {
    QString host;
    QString address;
    QString port;
    QString status;
};

// One client connection as the "Server Connections Log" shows it.
struct ConnectionLogEntry {
    quint64 clientId = 0;
    QString host; // filled in when the reverse look-up answers
    QString address;
    quint16 port = 0;
    QDateTime when;
};

class RelayServer : public QObject, private RelayStoreObserver {
    Q_OBJECT
    Q_MOC_INCLUDE(<QHostInfo>)
public:
    using SourceResolver = std::function<RelaySource *(int source)>;

    static constexpr qint64 kSendCap = 64 * 1024;
    static constexpr qint64 kStallLimitMs = 30000;
    // While a client is over the cap the server looks at it this often.
    static constexpr int kHousekeepingMs = 1000;
    // A viewer found keeping up is looked at again after this long, unless
    // bytes wait for it in the program before: a stall is then still seen
    // within 5 s of its start, and a viewer that reads costs a look (one
    // system call) every few seconds instead of every second.
    static constexpr int kQuietLookMs = 4000;
    // Clients one server takes at most: a flood of connections must not use
    // up the program's file descriptors (serial ports, logs, other servers).
    static constexpr int kMaxClients = 100;
    // The kernel's send buffer of a client socket is bounded too (the kernel
    // doubles it for its book-keeping): with kSendCap, a viewer that reads
    // nothing holds at most about 256 KiB.
    static constexpr int kKernelSendBuffer = 32 * 1024;
    // With "Require Authentication" on, a client must log in this soon.
    static constexpr qint64 kLoginDeadlineMs = 20000;
    // A client that neither started data nor sent a message for this long.
    static constexpr qint64 kIdleLimitMs = 5 * 60 * 1000;
    // A connection that has sent nothing this long after connecting.
    static constexpr qint64 kSilenceLimitMs = 20000;
    // Connections not yet logged in (authentication on) or not yet started
    // (off), per server and per /24 (IPv4) or /64 (IPv6): the rest of the
    // places stay for viewers that have.
    static constexpr int kMaxUnestablished = 30;
    static constexpr int kMaxUnestablishedPerNetwork = 10;
    // While log-ins are slowed (ClientGuard's budget): each answer waits
    // this long, and so many wait at most; further log-ins are refused.
    static constexpr qint64 kSlowAnswerMs = 2000;
    static constexpr int kMaxWaitingLogins = 10;
    // Messages a client may send behind a log-in that waits for its answer.
    static constexpr int kMaxHeldMessages = 32;
    // Reverse look-ups in flight at once; each may need a thread.
    static constexpr int kMaxLookups = 2;

    // number 1..8; the page is named "Server1".."Server8".
    RelayServer(int number, const QString &baseDir, MessageLog &log, const Clock &clock, SourceResolver resolver,
                QObject *parent = nullptr);
    ~RelayServer() override;

    int number() const { return m_number; }
    QString pageName() const { return objectName(); }

    // Start-up: both files, then Enable() when marked for start-up.
    bool loadSettings(QString &error);
    bool save(QString &error);

    void enable();
    void disable();
    void showStatus();
    void refreshClients();
    // Housekeeping: drops clients that stopped reading. Records do not wait
    // for it: each one goes out the moment the source files it.
    void relayTick();
    // The source may now be another object (the log player was set): follow it.
    void followSource();

    // Used by the configuration dialog ("Apply", "Save"): disable, take the
    // new settings and users; the caller enables afterwards.
    void takeOver(const ServerSettings &settings, const UserTable &users);

    const ServerSettings &settings() const { return m_settings; }
    void setSettings(const ServerSettings &s) { m_settings = s; }
    const UserTable &users() const { return m_users; }
    void setUsers(const UserTable &users) { m_users = users; }

    bool isEnabled() const { return m_enabled; }
    bool isFailed() const { return m_failed; }
    int sourceType() const { return m_sourceType; }
    quint16 serverPort() const; // the bound port, 0 while not listening

    ServerRow statusRow() const { return m_statusRow; }
    QList<ServerRow> clientRows() const { return m_clientRows; }
    int clientCount() const { return int(m_clients.size()); }
    QString connectionsText() const;

    // Queue of one HD/KF-71 control change for every other client.
    void queueChange(const RelayClient &sender, const QByteArray &line);

    // For the tests and the benchmark: keep the housekeeping timer off to
    // drive relayTick() by hand, and read a client's state by connection order.
    void setTimerRunning(bool on);
    bool housekeepingScheduled() const;
    const RelayClient *client(int index) const;

    // Since the program started, for the console and the metrics.
    struct Counters {
        quint64 recordsDelivered = 0; // records handed to a viewer's socket
        quint64 viewersDropped = 0;   // viewers closed for not reading their data
        quint64 failedLogins = 0;
    };
    const Counters &counters() const { return m_counters; }

    // The newest client connections, oldest first; bounded.
    static constexpr int kConnectionLogSize = 500;
    const std::deque<ConnectionLogEntry> &connectionLog() const { return m_connectionLog; }

signals:
    void statusChanged();
    void clientsChanged();
    // A connection from an address refused by the log-in throttle (it failed
    // too many log-ins within a minute); every refusal, not only the first.
    void throttledAddressRefused(const QString &address);

private slots:
    void lookedUp(const QHostInfo &info);

private:
    void onNewConnection(qintptr fd);
    void onClientRead(ClientSocket *socket, const QByteArray &bytes);
    void onClientClosed(ClientSocket *socket, int error);
    void onAcceptError();
    bool admit(const QString &address);
    bool allowedNetwork(const QString &address);
    bool admitUnestablished(const QString &address);
    bool established(const RelayClient &client) const;
    // Clients must log in: authentication on, and a dialect that has a log-in.
    bool loginRequired() const;
    // A line caused by a remote client: at most one per address and kind a
    // minute, then a summary (ReportGate).
    void report(const QString &address, const QString &kind, const QString &text, int level);
    void flushReports();
    void handleMessage(RelayClient &client, const QByteArray &message);
    void answerLogins();
    void answerLogin(RelayClient &client, const QByteArray &text, char terminator);
    void dropClient(ClientSocket *socket);
    void closeClient(ClientSocket *socket, const QString &why);
    void dropClosedPeers();
    void pumpLookups();
    void lookUp(quint64 id, const QString &address);
    RelayClient *findClient(const ClientSocket *socket);
    void startLookup(RelayClient &client);

    void handleArx(RelayClient &client, const QByteArray &message);
    void handleLine(RelayClient &client, const QByteArray &line);
    void handleKx(RelayClient &client, QByteArray text);
    void applyLogin(RelayClient &client, const QByteArray &text, char terminator);
    void reply(RelayClient &client, const QByteArray &bytes);

    RelaySource *currentSource() const;
    // The source to read identities from and forward commands to: only a
    // connection page (1..8) has them.
    RelaySource *commandSource() const;
    void refreshSourceType();
    void recordFiled(RecordKind kind, const QByteArray &record) override;
    void storeGone(const RelayStore &store) override;
    void subscribe(const RelayStore *store);
    void deliver(const QByteArray &record);
    bool sendRecord(RelayClient &client, const QByteArray &record);
    qint64 queueBytes(RelayClient &client, const QByteArray &bytes);
    void checkStalled();
    void checkDeadlines();
    void checkAccepting();
    bool housekeepingNeeded() const;
    void scheduleHousekeeping();
    void sampleProgress();

    int m_number;
    QString m_baseDir;
    MessageLog &m_log;
    const Clock &m_clock;
    std::deque<ConnectionLogEntry> m_connectionLog;
    bool m_refusing = false; // over kMaxClients: refusals reported once
    bool m_acceptFailing = false; // no descriptor for a connection: reported once
    bool m_acceptPaused = false;
    ClientGuard m_guard;
    ReportGate m_reports;
    std::deque<quint64> m_lookupQueue; // clients waiting for a reverse look-up
    int m_lookupsInFlight = 0;
    QHash<int, std::pair<quint64, QString>> m_lookups; // look-up id: client id, address
    qint64 m_lastSampleMs = -1; // progress of the viewers looked at during delivery
    SourceResolver m_resolver;

    ServerSettings m_settings;
    UserTable m_users;
    bool m_enabled = false;
    bool m_failed = false;
    int m_sourceType = 0;

    QTcpServer *m_listener;
    // Every client descriptor of the thread's relay servers, watched as one;
    // shared, so the event loop scans one descriptor for all eight servers.
    std::shared_ptr<FdPoller> m_poller;
    QTimer *m_timer;            // housekeeping, runs only while a client is over the cap
    bool m_timerAllowed = true;
    const RelayStore *m_store = nullptr; // the source's store this server observes
    std::vector<std::unique_ptr<RelayClient>> m_clients;
    quint64 m_nextClientId = 1;

    Counters m_counters;
    ServerRow m_statusRow;
    QList<ServerRow> m_clientRows;
    std::vector<quint64> m_rowClients; // client id shown in each row
    int m_lastClientCount = 0;
};
