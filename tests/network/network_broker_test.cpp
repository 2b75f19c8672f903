// A station in this process with a simulated KH-71 publishing to a real
// mosquitto, watched by mosquitto_sub and by the fleet view.
#include "brokertest.h"

#include "core/messagelog.h"
#include "network/networkfleet.h"
#include "network/networkpublisher.h"
#include "report/stationreport.h"

#include <QJsonArray>

using namespace brokertest;
using namespace stationtest;

namespace {

class NetworkStation : public UnitFixture {
protected:
    void SetUp() override
    {
        UnitFixture::SetUp();
        if (IsSkipped())
            return;
        REQUIRE_BROKER();
    }
    // Page 1 a KH-71 on TCP at 8 frames a second, relay server 1 serving it.
    void startStation(const QStringList &network)
    {
        ASSERT_TRUE(sim.start({"--tcp", "0", "--unit", "kh71", "--rate", "8", "--trace", trace}));
        PageFile page = networkPage(sim.tcpPort());
        page.hardwareType = 2;
        ASSERT_TRUE(dir.writePage(1, page));
        ASSERT_NE(dir.addServer(1, false), 0);
        ASSERT_TRUE(dir.writeConfig(QStringLiteral("Network.CFG"), network));
        ASSERT_NO_FATAL_FAILURE(startRun(run, dir.path(), QStringLiteral(" HD Succesful Connection"), 15000));
        report = std::make_unique<report::StationReport>(run->station());
        NetworkSettings settings;
        QString error;
        ASSERT_TRUE(NetworkSettings::load(run->station().configDirectory(), settings, &error)) << error.toStdString();
        publisher = std::make_unique<NetworkPublisher>(*report, settings);
        publisher->start(QStringLiteral("http://127.0.0.1:8080/"));
    }
    int linesWith(const QString &text) const
    {
        int n = 0;
        for (const QString &l : run->station().messageLog().lines())
            n += l.contains(text);
        return n;
    }
    void TearDown() override
    {
        publisher.reset();
        report.reset();
        run.reset();
        UnitFixture::TearDown();
    }

    Broker broker;
    Subscriber sub;
    std::unique_ptr<StationRun> run;
    std::unique_ptr<report::StationReport> report;
    std::unique_ptr<NetworkPublisher> publisher;
};

} // namespace

TEST_F(NetworkStation, PublishesTheStationAndKeepsEveryLineThroughABrokerRestart)
{
    ASSERT_TRUE(broker.start({{"station", "pw-s"}, {"viewer", "pw-v"}}));
    ASSERT_TRUE(sub.start(broker, "viewer", "pw-v"));
    ASSERT_NO_FATAL_FAILURE(startStation(broker.networkConfig("station", "pw-s", "site-a")));
    MqttClient &client = publisher->client();

    // Status (retained, with the console's address), page state, values,
    // relay server and message lines, as the console's API gives them.
    ASSERT_TRUE(sub.waitFor("tolva/site-a/status", [](const QJsonObject &o) { return o["online"].toBool(); }));
    EXPECT_EQ(sub.on("tolva/site-a/status").last().json()["consoleUrl"].toString(), "http://127.0.0.1:8080/");
    ASSERT_TRUE(sub.waitFor("tolva/site-a/pages/1/state", [](const QJsonObject &o) {
        return o["open"].toBool() && o["counters"].toObject()["framesFiled"].toInt() > 0;
    })) << sub.on("tolva/site-a/pages/1/state").value(0).payload.toStdString();
    const QJsonObject state = sub.on("tolva/site-a/pages/1/state").last().json();
    EXPECT_EQ(state["hardwareType"].toInt(), 2);
    EXPECT_TRUE(state["counters"].toObject().contains("framesFiled"));
    EXPECT_TRUE(state.contains("identity"));
    ASSERT_TRUE(sub.waitFor("tolva/site-a/pages/1/values", [&](const QJsonObject &o) {
        return o["page"].toInt() == 1 && o["values"].toObject() == report->values(1);
    }, 20000)) << "values as the API gives them";
    ASSERT_TRUE(sub.waitFor("tolva/site-a/servers/1", [](const QJsonObject &o) { return o["port"].toInt() > 0; }));
    run->station().messageLog().log("Test", "before the outage", LogLevel::Status);
    ASSERT_TRUE(sub.waitFor("tolva/site-a/messages", [](const QJsonObject &o) {
        return o["text"].toString().contains("before the outage") && o["level"] == "status";
    }));
    // An alarm raised: its event, and the retained list of active ones.
    report::AlarmRecord alarm;
    alarm.id = 77;
    alarm.name = "unit_silent";
    alarm.page = 1;
    alarm.raisedAt = QDateTime::currentDateTimeUtc();
    report->recordAlarm(alarm);
    ASSERT_TRUE(sub.waitFor("tolva/site-a/alarms", [](const QJsonObject &o) { return o["id"].toInt() == 77; }));
    ASSERT_TRUE(sub.waitFor("tolva/site-a/alarms/active", [](const QJsonObject &o) {
        const QJsonArray a = o["alarms"].toArray();
        return a.size() == 1 && a[0].toObject()["name"] == "unit_silent";
    }));

    // Values at most once a second: 8 frames a second give far fewer.
    const int frames = int(sub.on("tolva/site-a/pages/1/values").size());
    EXPECT_LE(frames, 25) << "values within the first seconds";

    // The fleet view sees the station through its subscription.
    NetworkSettings viewSettings = publisher->settings();
    viewSettings.user = "viewer";
    viewSettings.password = "pw-v";
    NetworkFleet fleet(run->station().messageLog(), viewSettings);
    fleet.start();
    ASSERT_TRUE(waitFor([&] {
        const QJsonObject s = fleet.stationJson("site-a");
        const QJsonArray pages = s["pages"].toArray();
        return s["online"].toBool() && !pages.isEmpty() && pages[0].toObject()["health"] == "ok";
    }, 20000)) << QJsonDocument(fleet.json()).toJson().toStdString();

    // The broker goes away for a few retries; every line of that time waits.
    broker.stop();
    ASSERT_TRUE(waitFor([&] { return client.state() == MqttClient::State::Waiting; }, 60000));
    const int attempts = client.attempts();
    for (int i = 1; i <= 300; ++i)
        run->station().messageLog().log("Test", QStringLiteral("outage line %1").arg(i), LogLevel::Status);
    ASSERT_TRUE(waitFor([&] { return client.attempts() >= attempts + 2; }, 30000));
    ASSERT_TRUE(broker.resume());
    ASSERT_TRUE(waitFor([&] {
        const QList<Message> got = sub.on("tolva/site-a/messages");
        return !got.isEmpty() && got.last().json()["text"].toString().contains("again after");
    }, 90000)) << run->messages();
    ASSERT_TRUE(waitFor([&] {
        int n = 0;
        for (const Message &m : sub.on("tolva/site-a/messages"))
            n += m.json()["text"].toString().contains("outage line");
        return n >= 300;
    }, 30000));
    QStringList outage;
    quint64 lastId = 0;
    bool increasing = true;
    for (const Message &m : sub.on("tolva/site-a/messages")) {
        const QJsonObject o = m.json();
        increasing = increasing && quint64(o["id"].toDouble()) > lastId;
        lastId = quint64(o["id"].toDouble());
        const QString text = o["text"].toString();
        if (text.contains("outage line"))
            outage << text.section("outage line ", 1);
    }
    QStringList expected;
    for (int i = 1; i <= 300; ++i)
        expected << QString::number(i);
    EXPECT_EQ(outage, expected) << "each line once, in order";
    EXPECT_TRUE(increasing) << "message ids only increase";
    EXPECT_EQ(linesWith("Connection to the broker"), 1);
    EXPECT_EQ(linesWith(QStringLiteral("Connected to the broker 127.0.0.1:%1 again after").arg(broker.port)), 1);
    EXPECT_EQ(client.dropped(), 0u);
    // Retained state is sent again on the new connection.
    const qsizetype statuses = sub.on("tolva/site-a/status").size();
    EXPECT_GE(statuses, 2);
}

TEST_F(NetworkStation, WrongPasswordIsOneErrorLineAndRetriesSlowingDown)
{
    ASSERT_TRUE(broker.start({{"station", "pw-s"}}));
    ASSERT_NO_FATAL_FAILURE(startStation(broker.networkConfig("station", "wrong", "site-b")));
    MqttClient &client = publisher->client();
    ASSERT_TRUE(waitFor([&] { return client.attempts() >= 4; }, 60000)) << run->messages();
    EXPECT_EQ(linesWith("refused the connection"), 1) << run->messages();
    const QString line = run->line("refused the connection");
    EXPECT_TRUE(line.startsWith("ERROR")) << line.toStdString();
    EXPECT_TRUE(line.contains("user \"station\"")) << line.toStdString();
    EXPECT_TRUE(line.contains("not authorised") || line.contains("wrong user name or password")) << line.toStdString();
    EXPECT_GE(client.retryMs(), 8000); // 1, 2, 4, 8 s ... up to 60 s
    EXPECT_NE(client.state(), MqttClient::State::Connected);
}
