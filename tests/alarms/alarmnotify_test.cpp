// Notifications on a fake clock: batching, severities, reminders, the
// webhook's body and signature, mail through a real SMTP sink, and retries
// against a mail server that is away or refuses. Also Alarms.CFG and the
// history file.
#include "alarms/alarmhistory.h"
#include "alarms/alarmnotifier.h"
#include "alarms/alarmsettings.h"
#include "core/messagelog.h"
#include "sinks.h"
#include "support/fakeclock.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTimeZone>
#include <QJsonDocument>
#include <QMessageAuthenticationCode>

using namespace alarms;
using alarmtest::HttpSink;
using alarmtest::SmtpSink;
using stationtest::waitFor;

namespace {

report::AlarmRecord alarm(quint64 id, const char *severity, const QDateTime &at)
{
    report::AlarmRecord a;
    a.id = id;
    a.name = QStringLiteral("unit_silent");
    a.severity = QLatin1String(severity);
    a.page = 2;
    a.text = QStringLiteral("Unit silent on page 2: no frame for 1 min");
    a.clearText = QStringLiteral("Unit on page 2 sends frames again");
    a.raisedAt = at;
    return a;
}

class Notify : public ::testing::Test {
protected:
    Notify() : log(clock), notifier(clock, log, QStringLiteral("studio-a")) { log.setEchoToStderr(false); }
    // Ticks until nothing is in flight.
    void settle(const QList<report::AlarmRecord> &active = {})
    {
        notifier.tick(active);
        ASSERT_TRUE(waitFor([&] { return notifier.inFlight() == 0; }, 20000));
    }
    int lines(const QString &text) const
    {
        int n = 0;
        for (const QString &l : log.lines())
            n += l.contains(text) ? 1 : 0;
        return n;
    }
    FakeClock clock;
    MessageLog log;
    AlarmNotifier notifier;
};

} // namespace

TEST_F(Notify, WebhookBatchesEventsAndSignsTheBody)
{
    HttpSink sink;
    AlarmSettings s;
    s.webhookUrls = {sink.url()};
    s.webhookSecret = QStringLiteral("s3cret");
    notifier.setSettings(s);
    const QDateTime t0 = clock.now();
    notifier.alarmEvent({AlarmEvent::Raised, alarm(1, "critical", t0)});
    clock.advanceMs(5000);
    notifier.alarmEvent({AlarmEvent::Raised, alarm(2, "warning", clock.now())});
    settle();
    EXPECT_TRUE(sink.requests.isEmpty()) << "sent before the batch time";
    clock.advanceMs(5000);
    settle();
    ASSERT_TRUE(waitFor([&] { return sink.requests.size() == 1; }, 10000));
    const HttpSink::Request &r = sink.requests[0];
    EXPECT_EQ(r.header("X-Tolva-Signature"),
              "sha256=" + QMessageAuthenticationCode::hash(r.body, "s3cret", QCryptographicHash::Sha256).toHex());
    EXPECT_EQ(r.header("Content-Type"), "application/json");
    const QJsonObject body = QJsonDocument::fromJson(r.body).object();
    EXPECT_EQ(body["station"].toString(), QStringLiteral("studio-a"));
    const QJsonArray events = body["events"].toArray();
    ASSERT_EQ(events.size(), 2);
    EXPECT_EQ(events[0].toObject()["event"].toString(), QStringLiteral("raised"));
    EXPECT_EQ(events[1].toObject()["alarm"].toObject()["id"].toInt(), 2);
    EXPECT_TRUE(body["text"].toString().contains(QStringLiteral("2 raised")));

    report::AlarmRecord cleared = alarm(1, "critical", t0);
    cleared.clearedAt = clock.now();
    notifier.alarmEvent({AlarmEvent::Cleared, cleared});
    clock.advanceMs(10000);
    settle();
    ASSERT_TRUE(waitFor([&] { return sink.requests.size() == 2; }, 10000));
    EXPECT_TRUE(sink.requests[1].body.contains("\"event\":\"cleared\""));
    EXPECT_EQ(notifier.queued(), 0);
}

TEST_F(Notify, SeveritiesAndReminders)
{
    HttpSink sink;
    AlarmSettings s;
    s.webhookUrls = {sink.url()};
    s.webhook.severities = {QStringLiteral("critical")};
    s.webhook.reminderH = 2;
    s.batchS = 0;
    notifier.setSettings(s);
    const report::AlarmRecord critical = alarm(1, "critical", clock.now());
    notifier.alarmEvent({AlarmEvent::Raised, alarm(2, "warning", clock.now())});
    notifier.alarmEvent({AlarmEvent::Raised, critical});
    settle({critical});
    ASSERT_TRUE(waitFor([&] { return sink.requests.size() == 1; }, 10000));
    EXPECT_FALSE(sink.requests[0].body.contains("warning"));
    clock.advanceMs(3600 * 1000);
    settle({critical});
    EXPECT_EQ(sink.requests.size(), 1) << "a reminder before its time";
    clock.advanceMs(3600 * 1000);
    settle({critical});
    ASSERT_TRUE(waitFor([&] { return sink.requests.size() == 2; }, 10000));
    EXPECT_TRUE(sink.requests[1].body.contains("\"event\":\"reminder\""));
}

TEST_F(Notify, MailReachesTheSmtpSink)
{
    SmtpSink smtp;
    if (!smtp.start())
        GTEST_SKIP() << "python3-aiosmtpd not installed";
    AlarmSettings s;
    s.smtpHost = QStringLiteral("127.0.0.1");
    s.smtpPort = smtp.port;
    s.mailFrom = QStringLiteral("station@example.org");
    s.mailTo = {QStringLiteral("eng1@example.org"), QStringLiteral("eng2@example.org")};
    s.batchS = 0;
    notifier.setSettings(s);
    notifier.alarmEvent({AlarmEvent::Raised, alarm(7, "critical", clock.now())});
    settle();
    ASSERT_TRUE(waitFor([&] { return smtp.messages().size() == 1; }, 10000)) << smtp.stderrText();
    const QByteArray m = smtp.messages()[0];
    EXPECT_TRUE(m.contains("X-Envelope-To: <eng1@example.org>,<eng2@example.org>")
                || m.contains("X-Envelope-To: eng1@example.org,eng2@example.org")) << m.toStdString();
    EXPECT_TRUE(m.contains("Subject: [studio-a] ALARM: Unit silent on page 2: no frame for 1 min")) << m.toStdString();
    EXPECT_TRUE(m.contains("From: station@example.org"));
    EXPECT_TRUE(m.contains("ALARM (critical) since "));
}

TEST_F(Notify, UndeliverableMailIsRetriedThenOneErrorLine)
{
    struct Server {
        const char *name;
        bool refuse;
    };
    for (const Server &server : {Server{"away", false}, Server{"refuses", true}}) {
        SmtpSink smtp;
        quint16 port = stationtest::freePort(); // nothing listens there
        if (server.refuse) {
            if (!smtp.start(true))
                GTEST_SKIP() << "python3-aiosmtpd not installed";
            port = smtp.port;
        }
        log.clear();
        AlarmSettings s;
        s.smtpHost = QStringLiteral("127.0.0.1");
        s.smtpPort = port;
        s.mailFrom = QStringLiteral("station@example.org");
        s.mailTo = {QStringLiteral("eng@example.org")};
        s.batchS = 0;
        s.retryFirstS = 10;
        s.giveUpS = 60;
        notifier.setSettings(s);
        notifier.alarmEvent({AlarmEvent::Raised, alarm(1, "critical", clock.now())});
        // Attempts at 0, 10 and 30 s; the next would come after the give-up time.
        for (int i = 0; i < 20 && notifier.queued() > 0; ++i) {
            settle();
            clock.advanceMs(5000);
        }
        EXPECT_EQ(notifier.queued(), 0) << server.name;
        EXPECT_EQ(lines(QStringLiteral("not delivered")), 1) << server.name << log.lines().join('\n').toStdString();
        EXPECT_EQ(lines(QStringLiteral("ERROR")), 1) << server.name;
        EXPECT_EQ(lines(QStringLiteral("3 attempts")), 1) << server.name << log.lines().join('\n').toStdString();
        EXPECT_EQ(smtp.messages().size(), 0);
    }
}

TEST(AlarmSettingsFile, Table)
{
    struct Case {
        const char *text;
        const char *error; // nullptr: accepted
        std::function<bool(const AlarmSettings &)> check;
    };
    const Case cases[] = {
        {"", nullptr, [](const AlarmSettings &s) { return s.conditions[LinkDown].raiseS == 30 && s.conditions[UnitSilent].raiseS == 60 && !s.mailConfigured()
                                     && s.mail.severities == QStringList{"critical", "warning"} && s.webhook.severities.size() == 2; }},
        {"unit_silent_raise_s = 5\nunit_silent_clear_s = 2\nlink_down_enabled = 0\n", nullptr,
         [](const AlarmSettings &s) { return s.conditions[UnitSilent].raiseS == 5 && s.conditions[UnitSilent].clearS == 2 && !s.conditions[LinkDown].enabled; }},
        {"webhook_url = http://a.example/x, https://b.example/y\n", nullptr, [](const AlarmSettings &s) { return s.webhookUrls.size() == 2; }},
        {"smtp_host = mail\nmail_from = st@x.org\nmail_to = a@x.org, b@x.org\nmail_severities = critical\n", nullptr,
         [](const AlarmSettings &s) { return s.mailTo.size() == 2 && s.mail.severities == QStringList{QStringLiteral("critical")}; }},
        {"# comment\nbogus = 1\n", "line 2", {}},
        {"smtp_security = ssl\n", "smtp_security is none, starttls or tls", {}},
        {"webhook_url = ftp://x.example/\n", "not an http or https URL", {}},
        {"smtp_host = mail\nmail_to = a@x.org\n", "without mail_from", {}},
        {"mail_severities = loud\n", "severities are", {}},
        {"unit_silent_raise_s = -1\n", "line 1", {}},
        {"smtp_host = m\nmail_from = s@x.org\nmail_to = <b@x.org>\n", "not a mail address", {}},
    };
    for (const Case &c : cases) {
        QTemporaryDir dir;
        QFile f(AlarmSettings::path(dir.path()));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(c.text);
        f.close();
        AlarmSettings s;
        QString error;
        const bool ok = AlarmSettings::load(dir.path(), s, &error);
        if (c.error) {
            EXPECT_FALSE(ok) << c.text;
            EXPECT_TRUE(error.contains(QLatin1String(c.error))) << c.text << " -> " << error.toStdString();
            EXPECT_TRUE(error.contains(QStringLiteral("Alarms.CFG"))) << error.toStdString();
        } else {
            EXPECT_TRUE(ok) << c.text << " -> " << error.toStdString();
            EXPECT_TRUE(c.check(s)) << c.text;
        }
    }
}

TEST(AlarmSettingsFile, SecretsOnlyInAFileOfTheOwner)
{
    QTemporaryDir dir;
    AlarmSettings s;
    s.smtpHost = QStringLiteral("mail.example.org");
    s.mailFrom = QStringLiteral("st@example.org");
    s.mailTo = {QStringLiteral("eng@example.org")};
    s.smtpPassword = QStringLiteral("pa ss");
    s.webhookSecret = QStringLiteral("hook-secret");
    s.conditions[BadChecks].clearS = 120;
    QString error;
    ASSERT_TRUE(AlarmSettings::save(dir.path(), s, &error)) << error.toStdString();
    const QString path = AlarmSettings::path(dir.path());
    EXPECT_EQ(QFile::permissions(path) & 0x0077, 0);
    AlarmSettings back;
    ASSERT_TRUE(AlarmSettings::load(dir.path(), back, &error)) << error.toStdString();
    EXPECT_EQ(back.smtpPassword, s.smtpPassword);
    EXPECT_EQ(back.webhookSecret, s.webhookSecret);
    EXPECT_EQ(back.conditions[BadChecks].clearS, 120);
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ReadOther);
    EXPECT_FALSE(AlarmSettings::load(dir.path(), back, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("chmod 600"))) << error.toStdString();
}

TEST(AlarmHistoryFile, KeepsThirtyDaysRotatesMonthlyAndEndsStaleAlarms)
{
    QTemporaryDir dir;
    AlarmHistory h(dir.path());
    const QDateTime now(QDate(2026, 12, 7), QTime(12, 0), Qt::UTC);
    report::AlarmRecord old = alarm(1, "critical", now.addDays(-40));
    old.clearedAt = now.addDays(-40).addSecs(60);
    report::AlarmRecord recent = alarm(2, "warning", now.addDays(-20));
    recent.details = {QStringLiteral("RF LOW: 0 -> 1")};
    report::AlarmRecord stale = alarm(3, "critical", now.addDays(-1));
    ASSERT_TRUE(h.append(old, true, now, nullptr));
    ASSERT_TRUE(h.append(old, false, now, nullptr));
    ASSERT_TRUE(h.append(recent, true, now, nullptr));
    // The file was last written in November: the next write starts a new one.
    QFile file(h.path());
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime(QDate(2026, 11, 28), QTime(8, 0)), QFileDevice::FileModificationTime));
    file.close();
    recent.clearedAt = now.addDays(-20).addSecs(30);
    ASSERT_TRUE(h.append(recent, false, now, nullptr));
    ASSERT_TRUE(h.append(stale, true, now, nullptr));
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("alarms-2026-11.jsonl"))));
    {
        QFile f(h.path());
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write("{\"id\": 9, \"name\": \"cut"); // a line cut by a crash
    }
    QList<report::AlarmRecord> ended;
    const QList<report::AlarmRecord> kept = h.load(now, &ended);
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(kept[0].id, 2u);
    EXPECT_EQ(kept[0].details, recent.details);
    EXPECT_EQ(kept[0].clearedAt, recent.clearedAt);
    ASSERT_EQ(ended.size(), 1);
    EXPECT_EQ(ended[0].id, 3u);
}
