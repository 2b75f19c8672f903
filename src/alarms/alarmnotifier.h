#pragma once
// Notifications of alarms: one mail to the configured addresses and one POST
// to each webhook per batch of events (alarms raised or cleared within
// batch_s of the first go together), reminders while an alarm stays active,
// and retries with back-off until give_up_s, then one ERROR line. Nothing
// here waits for a server: transfers run on the event loop.
#include "alarms/alarmsettings.h"
#include "report/alarmrecord.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <deque>
#include <functional>

class Clock;
class MessageLog;

namespace alarms {

class CurlTransfers;
struct MailRequest;
struct HttpRequest;

struct AlarmEvent {
    enum Kind { Raised, Cleared, Reminder, Test } kind = Raised;
    report::AlarmRecord alarm;
};

class AlarmNotifier : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxQueued = 200; // deliveries waiting or retrying
    static constexpr int kMaxBackoffS = 600;

    AlarmNotifier(const Clock &clock, MessageLog &log, const QString &station, QObject *parent = nullptr);
    ~AlarmNotifier() override;

    void setSettings(const AlarmSettings &s) { m_settings = s; }
    void alarmEvent(const AlarmEvent &e);
    // Flushes batches that are due, retries deliveries that are due and
    // queues reminders for the active alarms. Called once a second.
    void tick(const QList<report::AlarmRecord> &active);
    // Sends one info message to every configured channel now; `done` gets a
    // line per channel ("mail to a@b: delivered").
    void sendTest(std::function<void(const QStringList &results)> done);

    int queued() const { return int(m_deliveries.size()); }
    int inFlight() const;
    // Mail message and webhook body of a batch, as sent (tests look at them).
    QByteArray mailMessage(const QList<AlarmEvent> &events) const;
    QByteArray webhookBody(const QList<AlarmEvent> &events) const;
    static QByteArray signature(const QByteArray &secret, const QByteArray &body);

signals:
    void delivered(const QString &target);
    void gaveUp(const QString &target, const QString &error);

private:
    enum class Channel { Mail, Webhook };
    struct Delivery {
        Channel channel = Channel::Mail;
        QString target; // URL or the mail addresses
        QByteArray payload;
        QDateTime firstAttempt, nextAttempt;
        int attempts = 0;
        bool inFlight = false;
        QString lastError;
        quint64 id = 0;
    };
    struct Batch {
        QList<AlarmEvent> events;
        QDateTime firstAt;
    };
    void flush(Channel c, Batch &b);
    void attempt(Delivery &d);
    MailRequest mailRequest(const QByteArray &message) const;
    HttpRequest hookRequest(const QString &url, const QByteArray &body) const;
    void finished(quint64 id, bool ok, const QString &error);
    bool wants(const ChannelSettings &c, const QString &severity) const { return c.severities.contains(severity); }
    QString subject(const QList<AlarmEvent> &events) const;
    QString eventLine(const AlarmEvent &e) const;

    const Clock &m_clock;
    MessageLog &m_log;
    QString m_station;
    AlarmSettings m_settings;
    CurlTransfers *m_transfers;
    Batch m_mailBatch, m_webhookBatch;
    std::deque<Delivery> m_deliveries;
    quint64 m_nextDelivery = 1;
    QHash<quint64, QDateTime> m_mailReminded, m_webhookReminded; // alarm id -> last message about it
};

} // namespace alarms
