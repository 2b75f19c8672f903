#pragma once
// The station as data: one place that turns pages, relay servers, decoded
// values and message lines into plain records and JSON-ready objects, with a
// change signal for each. The console's API, its live events and metrics,
// and whatever else watches the station read this, never a page or decoder.
//
// Sessions change their fields without signals, so the model looks at the
// pages and servers on a short timer and signals what changed since.
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include "report/alarmrecord.h"
#include <array>
#include <deque>

class Station;
class ConnectionPage;
class RelayServer;
class QTimer;

namespace report {

// ISO 8601 in UTC ("2026-06-12T12:05:09.000Z"); empty for an invalid time.
QString isoTime(const QDateTime &t);
// The station's offset from UTC at t, "+02:00".
QString utcOffset(const QDateTime &t);

struct PageCounters {
    quint64 framesFiled = 0;
    quint64 bytesReceived = 0;
    quint64 badFrames = 0;
    quint64 logFailures = 0;
    QDateTime lastFrameAt; // invalid: none yet
};

struct PageRecord {
    int number = 0;
    QString name, caption, hardware, linkKind, target;
    int hardwareType = 0;
    int connectionType = 0;
    bool started = false;
    bool open = false;
    QDateTime openSince;
    int state = 0;
    QString stateText;
    int phase = 0;
    PageCounters counters;
    bool logOpen = false;
    QString logFile;
    qint64 logSize = 0;
    QString logDirectory; // where its measurement log goes; empty when logging is off
};

struct ClientRecord {
    QString host, address, user;
    int port = 0;
    int level = 0;
    bool loggedIn = false;
    QDateTime since;
    bool started = false;
    qint64 bytesQueued = 0;
};

struct ServerRecord {
    int number = 0;
    QString name;
    int port = 0;        // the port set; boundPort while listening
    int boundPort = 0;
    QString bindAddress;
    QString state;       // "Enabled", "Disabled", "Error"
    bool enabled = false;
    int source = 0;
    bool requireAuth = false;
    quint64 recordsDelivered = 0, viewersDropped = 0, failedLogins = 0;
    QList<ClientRecord> clients;
};

struct MessageRecord {
    quint64 id = 0;
    QDateTime at;
    QString level; // "error", "status", "debug"
    QString text;  // the line as the message window shows it
};

// One alarm-table entry of an HD or KF-71 page that differs from the
// connection's first copy: the entry's alarm (an index into the alarm-name
// table, with its name when the table has one) and value, before and now.
struct AlarmTableChange {
    int group = 0, entry = 0; // from 0
    int alarmBefore = 0, valueBefore = 0, alarmNow = 0, valueNow = 0;
    QString nameBefore, nameNow; // empty: the table does not name it
};

struct LogFileRecord {
    QString name;
    int page = 0;
    qint64 size = 0;
    QDateTime first, last;
    QString path; // never shown: only names from the list reach the file system
};

class StationReport : public QObject {
    Q_OBJECT
public:
    static constexpr int kPollMs = 250;
    static constexpr int kMaxMessages = 10000;

    explicit StationReport(Station &station, QObject *parent = nullptr);
    ~StationReport() override;

    Station &station() const { return m_station; }
    QDateTime startedAt() const { return m_startedAt; }
    QDateTime now() const;

    PageRecord page(int number) const;
    ServerRecord server(int number) const;
    // The page's decoded values grouped as its family's decoder holds them.
    QJsonObject values(int number) const;
    // The unit's identification: replies to the identity questions,
    // serial numbers, versions.
    QJsonObject identity(int number) const;
    // The page's alarm-table entries that differ from their first copy;
    // empty for families without a table. Costs nothing to speak of when
    // the tables are equal, unlike values().
    QList<AlarmTableChange> alarmTableChanges(int number) const;
    QList<ConnectionPage *> pages() const;

    // Messages after id (0: all kept), oldest first; level "" for every level.
    QList<MessageRecord> messages(quint64 after, const QString &level, int limit) const;
    quint64 lastMessageId() const { return m_nextMessageId - 1; }

    QList<LogFileRecord> logFiles() const;

    // JSON forms, as the API gives them.
    QJsonObject pageJson(const PageRecord &p, bool detail) const;
    QJsonObject serverJson(const ServerRecord &s, bool detail) const;
    static QJsonObject messageJson(const MessageRecord &m);
    static QJsonObject logFileJson(const LogFileRecord &f);
    QJsonObject stationJson() const;

    // Alarms (stationalarms.cpp): the alarm engine hands each raise and
    // clear here; newest last. History is bounded to kMaxAlarms records.
    static constexpr int kMaxAlarms = 5000;
    void recordAlarm(const AlarmRecord &alarm);
    QList<AlarmRecord> alarms(bool activeOnly) const;
    static QJsonObject alarmJson(const AlarmRecord &a);

    // Looks now instead of at the next poll (tests, a request that wants it fresh).
    void poll();

signals:
    void pageChanged(int page);          // state, link, phase, open
    void hardwareRowsChanged(int page);
    void valuesChanged(int page);        // frames were filed since the last look
    void serverChanged(int server);      // state or clients
    void messageAdded(const report::MessageRecord &message);
    void alarmChanged(const report::AlarmRecord &alarm); // raised, cleared or changed

private:
    void onLine(const QString &line);
    size_t pageKey(int number) const;
    size_t serverKey(int number) const;

    Station &m_station;
    QDateTime m_startedAt;
    QTimer *m_timer;
    std::array<size_t, 8> m_pageKeys{};
    std::array<size_t, 8> m_serverKeys{};
    std::array<quint64, 8> m_framesSeen{};
    std::array<bool, 8> m_wasOpen{};
    std::array<QDateTime, 8> m_openSince;
    std::deque<MessageRecord> m_messages;
    quint64 m_nextMessageId = 1;
    std::deque<AlarmRecord> m_alarms;
};

} // namespace report

Q_DECLARE_METATYPE(report::MessageRecord)
