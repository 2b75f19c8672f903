// The alarms as the console gives them: GET /api/alarms, the live "alarm"
// event and tolva_alarm_active, for a simulated KH-71 that stops and resumes.
#include "alarms/alarmmonitor.h"
#include "consoletest.h"

#include <csignal>

using namespace consoletest;

TEST_F(ConsoleStation, AlarmsReachTheApiLiveEventsAndMetrics)
{
    QFile cfg(dir.filePath(QStringLiteral("CONFIG/Alarms.CFG")));
    ASSERT_TRUE(cfg.open(QIODevice::WriteOnly));
    cfg.write("unit_silent_raise_s = 1\nunit_silent_clear_s = 1\n");
    cfg.close();
    ASSERT_NO_FATAL_FAILURE(startStation());
    alarms::AlarmMonitor monitor(*report, SystemClock::instance());
    monitor.loadSettings();
    monitor.start();
    QWebSocket live;
    QList<QJsonObject> events;
    QObject::connect(&live, &QWebSocket::textMessageReceived,
                     [&](const QString &t) { events << QJsonDocument::fromJson(t.toUtf8()).object(); });
    QNetworkRequest r(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/live").arg(port)));
    r.setRawHeader("Authorization", "Basic " + QByteArray("obs:pw-obs").toBase64());
    live.open(r);
    ASSERT_TRUE(waitFor([&] { return !events.isEmpty(); }, 5000));
    const pid_t unit = pid_t(sim.process().processId());
    auto alarmEvents = [&] {
        QList<QJsonObject> out;
        for (const QJsonObject &e : events)
            if (e["type"].toString() == QLatin1String("alarm"))
                out << e["alarm"].toObject();
        return out;
    };

    ::kill(unit, SIGSTOP);
    ASSERT_TRUE(waitFor([&] { return alarmEvents().size() == 1; }, 20000)) << run->messages();
    ::kill(unit, SIGCONT);
    EXPECT_EQ(alarmEvents()[0]["name"].toString(), QStringLiteral("unit_silent"));
    EXPECT_TRUE(alarmEvents()[0]["active"].toBool());
    const QJsonArray active = http->get("/api/alarms?active=1", "obs:pw-obs").json()["alarms"].toArray();
    ASSERT_EQ(active.size(), 1);
    EXPECT_EQ(active[0].toObject()["page"].toInt(), 1);
    EXPECT_EQ(active[0].toObject()["severity"].toString(), QStringLiteral("critical"));
    EXPECT_TRUE(http->get("/metrics").body.contains("tolva_alarm_active{name=\"unit_silent\",page=\"1\"} 1\n"));

    ASSERT_TRUE(waitFor([&] { return alarmEvents().size() == 2; }, 20000)) << run->messages();
    EXPECT_FALSE(alarmEvents()[1]["active"].toBool());
    EXPECT_TRUE(http->get("/api/alarms?active=1", "obs:pw-obs").json()["alarms"].toArray().isEmpty());
    const QJsonArray all = http->get("/api/alarms", "obs:pw-obs").json()["alarms"].toArray();
    ASSERT_EQ(all.size(), 1);
    EXPECT_FALSE(all[0].toObject()["clearedAt"].toString().isEmpty());
    EXPECT_TRUE(http->get("/metrics").body.contains("tolva_alarm_active{name=\"unit_silent\",page=\"1\"} 0\n"));
    EXPECT_EQ(http->get("/api/alarms?active=yes", "obs:pw-obs").status, 400);
    EXPECT_EQ(http->get("/api/alarms").status, 401);
}

TEST_F(ConsoleStation, SupervisorEditsAlarmsCfg)
{
    ASSERT_NO_FATAL_FAILURE(startStation());
    const QString file = dir.filePath(QStringLiteral("CONFIG/Alarms.CFG"));
    struct Case {
        const char *user;
        QByteArray body;
        int status;
        const char *error;
    };
    const Case cases[] = {
        {"op:pw-op", R"({"unit_silent_raise_s": 7})", 403, "Supervisor"},
        {"sup:pw-sup", R"({"no_such_key": 1})", 400, "not an Alarms.CFG key"},
        {"sup:pw-sup", R"({"smtp_security": "ssl"})", 400, "Alarms.CFG line"},
        {"sup:pw-sup", R"({"smtp_host": "mail\nRCPT TO:<x@y>"})", 400, "one line only"},
        {"sup:pw-sup", R"({"unit_silent_raise_s": 7, "link_down_enabled": false, "smtp_password": "pw 1",
                          "smtp_host": "mail.example.org", "mail_from": "st@example.org", "mail_to": "a@example.org"})", 200, nullptr},
    };
    for (const Case &c : cases) {
        const Answer a = http->post("/api/alarms/settings", c.body, c.user);
        EXPECT_EQ(a.status, c.status) << c.body.toStdString() << " " << a.body.toStdString();
        if (c.error) {
            EXPECT_TRUE(a.json()["error"].toString().contains(QLatin1String(c.error))) << a.body.toStdString();
            EXPECT_FALSE(QFile::exists(file));
        }
    }
    EXPECT_EQ(QFile::permissions(file) & 0x0077, 0);
    const QJsonObject shown = http->get("/api/alarms/settings", "sup:pw-sup").json();
    EXPECT_EQ(shown["unit_silent_raise_s"].toString(), QStringLiteral("7"));
    EXPECT_EQ(shown["link_down_enabled"].toString(), QStringLiteral("0"));
    EXPECT_TRUE(shown["smtp_password_set"].toBool());
    EXPECT_FALSE(shown.contains(QStringLiteral("smtp_password")));
    EXPECT_FALSE(shown["webhook_secret_set"].toBool());
    EXPECT_EQ(http->get("/api/alarms/settings", "obs:pw-obs").status, 403);
    EXPECT_TRUE(run->waitForLine(QStringLiteral("Alarm settings changed by sup from 127.0.0.1"), 1000));
}
