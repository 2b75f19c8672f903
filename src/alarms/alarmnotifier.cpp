#include "alarms/alarmnotifier.h"

#include "alarms/curltransfers.h"
#include "core/clock.h"
#include "core/messagelog.h"
#include "report/stationreport.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QMessageAuthenticationCode>
#include <QUuid>

namespace alarms {

namespace {

QString kindWord(AlarmEvent::Kind k)
{
    switch (k) {
    case AlarmEvent::Raised: return QStringLiteral("raised");
    case AlarmEvent::Cleared: return QStringLiteral("cleared");
    case AlarmEvent::Reminder: return QStringLiteral("reminder");
    case AlarmEvent::Test: return QStringLiteral("test");
    }
    return {};
}

// A header value in UTF-8 when it is not plain ASCII (RFC 2047).
QByteArray headerText(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    bool ascii = true;
    for (char c : utf8)
        ascii = ascii && uchar(c) >= 0x20 && uchar(c) < 0x7f;
    return ascii ? utf8 : "=?UTF-8?B?" + utf8.toBase64() + "?=";
}

QString oneLine(QString s)
{
    s.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return s;
}

} // namespace

AlarmNotifier::AlarmNotifier(const Clock &clock, MessageLog &log, const QString &station, QObject *parent)
    : QObject(parent), m_clock(clock), m_log(log), m_station(station), m_transfers(new CurlTransfers(this))
{
}

AlarmNotifier::~AlarmNotifier() = default;

int AlarmNotifier::inFlight() const
{
    return int(std::count_if(m_deliveries.begin(), m_deliveries.end(), [](const Delivery &d) { return d.inFlight; }));
}

QByteArray AlarmNotifier::signature(const QByteArray &secret, const QByteArray &body)
{
    return "sha256=" + QMessageAuthenticationCode::hash(body, secret, QCryptographicHash::Sha256).toHex();
}

void AlarmNotifier::alarmEvent(const AlarmEvent &e)
{
    const QDateTime now = m_clock.now();
    auto add = [&](Batch &b, bool configured, const ChannelSettings &c) {
        if (!configured || !wants(c, e.alarm.severity))
            return;
        if (b.events.isEmpty())
            b.firstAt = now;
        b.events << e;
    };
    add(m_mailBatch, m_settings.mailConfigured(), m_settings.mail);
    add(m_webhookBatch, m_settings.webhookConfigured(), m_settings.webhook);
    if (e.kind != AlarmEvent::Reminder) {
        m_mailReminded[e.alarm.id] = now;
        m_webhookReminded[e.alarm.id] = now;
    }
    if (e.kind == AlarmEvent::Cleared) {
        m_mailReminded.remove(e.alarm.id);
        m_webhookReminded.remove(e.alarm.id);
    }
    if (m_settings.batchS == 0)
        tick({});
}

void AlarmNotifier::tick(const QList<report::AlarmRecord> &active)
{
    const QDateTime now = m_clock.now();
    auto remind = [&](const ChannelSettings &c, QHash<quint64, QDateTime> &last, Batch &b, bool configured) {
        if (c.reminderH <= 0 || !configured)
            return;
        for (const report::AlarmRecord &a : active) {
            const QDateTime since = last.value(a.id, a.raisedAt);
            if (since.secsTo(now) >= qint64(c.reminderH) * 3600 && wants(c, a.severity)) {
                if (b.events.isEmpty())
                    b.firstAt = now;
                b.events << AlarmEvent{AlarmEvent::Reminder, a};
                last[a.id] = now;
            }
        }
    };
    remind(m_settings.mail, m_mailReminded, m_mailBatch, m_settings.mailConfigured());
    remind(m_settings.webhook, m_webhookReminded, m_webhookBatch, m_settings.webhookConfigured());
    if (!m_mailBatch.events.isEmpty() && m_mailBatch.firstAt.secsTo(now) >= m_settings.batchS)
        flush(Channel::Mail, m_mailBatch);
    if (!m_webhookBatch.events.isEmpty() && m_webhookBatch.firstAt.secsTo(now) >= m_settings.batchS)
        flush(Channel::Webhook, m_webhookBatch);
    for (Delivery &d : m_deliveries)
        if (!d.inFlight && d.nextAttempt <= now)
            attempt(d);
}

void AlarmNotifier::flush(Channel c, Batch &b)
{
    const QList<AlarmEvent> events = b.events;
    b.events.clear();
    const QDateTime now = m_clock.now();
    auto queue = [&](const QString &target, const QByteArray &payload) {
        if (m_deliveries.size() >= size_t(kMaxQueued)) {
            const Delivery &old = m_deliveries.front();
            m_log.log(QStringLiteral("Alarms"),
                      QStringLiteral("Alarm notification to %1 dropped: %2 notifications wait for their servers")
                          .arg(old.target).arg(kMaxQueued),
                      LogLevel::Error);
            m_deliveries.pop_front();
        }
        Delivery d;
        d.channel = c;
        d.target = target;
        d.payload = payload;
        d.firstAttempt = d.nextAttempt = now;
        d.id = m_nextDelivery++;
        m_deliveries.push_back(d);
        attempt(m_deliveries.back());
    };
    if (c == Channel::Mail) {
        queue(m_settings.mailTo.join(QStringLiteral(", ")), mailMessage(events));
    } else {
        const QByteArray body = webhookBody(events);
        for (const QString &url : m_settings.webhookUrls)
            queue(url, body);
    }
}

void AlarmNotifier::attempt(Delivery &d)
{
    d.inFlight = true;
    ++d.attempts;
    const quint64 id = d.id;
    auto done = [this, id](bool ok, const QString &error) { finished(id, ok, error); };
    if (d.channel == Channel::Mail)
        m_transfers->sendMail(mailRequest(d.payload), done);
    else
        m_transfers->post(hookRequest(d.target, d.payload), done);
}

MailRequest AlarmNotifier::mailRequest(const QByteArray &message) const
{
    MailRequest r;
    r.host = m_settings.smtpHost;
    r.port = m_settings.smtpPort;
    r.security = m_settings.smtpSecurity;
    r.user = m_settings.smtpUser;
    r.password = m_settings.smtpPassword;
    r.from = m_settings.mailFrom;
    r.to = m_settings.mailTo;
    r.message = message;
    return r;
}

HttpRequest AlarmNotifier::hookRequest(const QString &url, const QByteArray &body) const
{
    HttpRequest r;
    r.url = url;
    r.body = body;
    r.headers << qMakePair(QByteArray("Content-Type"), QByteArray("application/json"));
    r.headers << qMakePair(QByteArray("User-Agent"), QByteArray("tolva-server"));
    if (!m_settings.webhookSecret.isEmpty())
        r.headers << qMakePair(QByteArray("X-Tolva-Signature"), signature(m_settings.webhookSecret.toUtf8(), body));
    return r;
}

void AlarmNotifier::finished(quint64 id, bool ok, const QString &error)
{
    auto it = std::find_if(m_deliveries.begin(), m_deliveries.end(), [id](const Delivery &d) { return d.id == id; });
    if (it == m_deliveries.end())
        return;
    Delivery &d = *it;
    d.inFlight = false;
    const QString what = d.channel == Channel::Mail ? QStringLiteral("Alarm mail to ") + d.target
                                                    : QStringLiteral("Alarm webhook ") + d.target;
    if (ok) {
        const QString target = d.target;
        m_deliveries.erase(it);
        emit delivered(target);
        return;
    }
    d.lastError = error;
    const QDateTime now = m_clock.now();
    const qint64 backoff = qMin<qint64>(qint64(m_settings.retryFirstS) << qMin(d.attempts - 1, 20), kMaxBackoffS);
    if (d.firstAttempt.secsTo(now) + backoff > m_settings.giveUpS) {
        m_log.log(QStringLiteral("Alarms"),
                  QStringLiteral("%1 not delivered: %2 attempts in %3 s failed, the last with \"%4\"")
                      .arg(what)
                      .arg(d.attempts)
                      .arg(d.firstAttempt.secsTo(now))
                      .arg(oneLine(error)),
                  LogLevel::Error);
        const QString target = d.target;
        m_deliveries.erase(it);
        emit gaveUp(target, error);
        return;
    }
    d.nextAttempt = now.addSecs(backoff);
}

QString AlarmNotifier::eventLine(const AlarmEvent &e) const
{
    const report::AlarmRecord &a = e.alarm;
    switch (e.kind) {
    case AlarmEvent::Raised:
        return QStringLiteral("ALARM (%1) since %2: %3").arg(a.severity, report::isoTime(a.raisedAt), a.text);
    case AlarmEvent::Cleared:
        return QStringLiteral("ALL CLEAR at %1: %2").arg(report::isoTime(a.clearedAt), a.clearText);
    case AlarmEvent::Reminder:
        return QStringLiteral("STILL ACTIVE (%1) since %2: %3").arg(a.severity, report::isoTime(a.raisedAt), a.text);
    case AlarmEvent::Test:
        return a.text;
    }
    return {};
}

QString AlarmNotifier::subject(const QList<AlarmEvent> &events) const
{
    if (events.size() == 1) {
        const AlarmEvent &e = events.first();
        const QString head = e.kind == AlarmEvent::Raised ? QStringLiteral("ALARM")
            : e.kind == AlarmEvent::Cleared              ? QStringLiteral("All clear")
            : e.kind == AlarmEvent::Reminder             ? QStringLiteral("Still active")
                                                         : QStringLiteral("Test");
        return QStringLiteral("[%1] %2: %3").arg(m_station, head, e.kind == AlarmEvent::Cleared ? e.alarm.clearText : e.alarm.text);
    }
    int raised = 0, cleared = 0, other = 0;
    for (const AlarmEvent &e : events)
        (e.kind == AlarmEvent::Raised ? raised : e.kind == AlarmEvent::Cleared ? cleared : other)++;
    QStringList parts;
    if (raised)
        parts << QStringLiteral("%1 raised").arg(raised);
    if (cleared)
        parts << QStringLiteral("%1 cleared").arg(cleared);
    if (other)
        parts << QStringLiteral("%1 still active").arg(other);
    return QStringLiteral("[%1] Alarms: %2").arg(m_station, parts.join(QStringLiteral(", ")));
}

QByteArray AlarmNotifier::mailMessage(const QList<AlarmEvent> &events) const
{
    const QDateTime now = m_clock.now();
    QByteArray m;
    auto header = [&](const char *name, const QByteArray &value) { m += QByteArray(name) + ": " + value + "\r\n"; };
    header("Date", QLocale::c().toString(now, QStringLiteral("ddd, dd MMM yyyy HH:mm:ss")).toLatin1() + ' '
                       + QByteArray(now.offsetFromUtc() < 0 ? "-" : "+")
                       + QByteArray::number(qAbs(now.offsetFromUtc()) / 3600 * 100 + qAbs(now.offsetFromUtc()) % 3600 / 60)
                             .rightJustified(4, '0'));
    header("From", m_settings.mailFrom.toUtf8());
    header("To", m_settings.mailTo.join(QStringLiteral(", ")).toUtf8());
    QString subjectText = oneLine(subject(events));
    if (subjectText.size() > 150)
        subjectText = subjectText.left(147) + QStringLiteral("...");
    header("Subject", headerText(subjectText));
    const QString domain = m_settings.mailFrom.section(QLatin1Char('@'), 1);
    header("Message-ID", '<' + QUuid::createUuid().toString(QUuid::WithoutBraces).toLatin1() + '@' + domain.toUtf8() + '>');
    header("MIME-Version", "1.0");
    header("Content-Type", "text/plain; charset=utf-8");
    header("Content-Transfer-Encoding", "8bit");
    m += "\r\n";
    QString body = QStringLiteral("Station %1 reports:\r\n\r\n").arg(m_station);
    for (const AlarmEvent &e : events) {
        body += oneLine(eventLine(e)) + QStringLiteral("\r\n");
        for (const QString &d : e.alarm.details)
            body += QStringLiteral("    ") + oneLine(d) + QStringLiteral("\r\n");
    }
    body += QStringLiteral("\r\n-- \r\ntolva-server\r\n");
    m += body.toUtf8();
    return m;
}

QByteArray AlarmNotifier::webhookBody(const QList<AlarmEvent> &events) const
{
    QJsonArray list;
    QStringList lines;
    for (const AlarmEvent &e : events) {
        list.append(QJsonObject{{QStringLiteral("event"), kindWord(e.kind)},
                                {QStringLiteral("alarm"), report::StationReport::alarmJson(e.alarm)}});
        lines << eventLine(e);
    }
    // "text" is what chat services show; "events" is for scripts.
    return QJsonDocument(QJsonObject{{QStringLiteral("station"), m_station},
                                     {QStringLiteral("sentAt"), report::isoTime(m_clock.now())},
                                     {QStringLiteral("text"), subject(events) + QLatin1Char('\n') + lines.join(QLatin1Char('\n'))},
                                     {QStringLiteral("events"), list}})
        .toJson(QJsonDocument::Compact);
}

void AlarmNotifier::sendTest(std::function<void(const QStringList &)> done)
{
    report::AlarmRecord a;
    a.name = QStringLiteral("test");
    a.severity = QStringLiteral("info");
    a.raisedAt = m_clock.now();
    a.text = QStringLiteral("Test notification from station %1: mail and webhooks reach you.").arg(m_station);
    const QList<AlarmEvent> events{AlarmEvent{AlarmEvent::Test, a}};
    struct Pending {
        QStringList results;
        int left = 0;
        std::function<void(const QStringList &)> done;
    };
    auto pending = std::make_shared<Pending>();
    pending->done = std::move(done);
    auto finish = [pending](const QString &target) {
        return [pending, target](bool ok, const QString &error) {
            pending->results << target + (ok ? QStringLiteral(": delivered") : QStringLiteral(": failed (%1)").arg(error));
            if (--pending->left == 0)
                pending->done(pending->results);
        };
    };
    if (m_settings.mailConfigured()) {
        ++pending->left;
        m_transfers->sendMail(mailRequest(mailMessage(events)),
                              finish(QStringLiteral("Mail to ") + m_settings.mailTo.join(QStringLiteral(", "))));
    }
    for (const QString &url : m_settings.webhookUrls) {
        ++pending->left;
        m_transfers->post(hookRequest(url, webhookBody(events)), finish(QStringLiteral("Webhook ") + url));
    }
    if (pending->left == 0)
        pending->done({QStringLiteral("No mail server or webhook is set in Alarms.CFG.")});
}

} // namespace alarms
