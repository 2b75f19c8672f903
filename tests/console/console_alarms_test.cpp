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
