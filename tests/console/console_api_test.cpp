// The console over real HTTP against a station with a simulated KH-71: log-in
// and levels, CSRF, throttling, each endpoint's shape, values and counters
// moving as frames arrive, actions reaching the unit, and hostile requests.
#include "consoletest.h"

#include "core/messagelog.h"
#include "server/relayservers.h"

using namespace consoletest;

namespace {

QByteArray loginBody(const char *user, const char *password)
{
    return QJsonDocument(QJsonObject{{"user", user}, {"password", password}}).toJson();
}

} // namespace

TEST_F(ConsoleStation, ApiAnswersEachLevelAsItMay)
{
    ASSERT_NO_FATAL_FAILURE(startStation());

    // Nothing without a log-in but the health check.
    EXPECT_EQ(http->get("/api/station").status, 401);
    EXPECT_EQ(http->get("/healthz").json()["status"].toString(), "ok");
    EXPECT_EQ(http->post("/api/login", loginBody("sup", "wrong")).status, 401);

    const Answer login = http->post("/api/login", loginBody("sup", "pw-sup"));
    ASSERT_EQ(login.status, 200) << login.body.toStdString();
    const QByteArray csrf = login.json()["csrf"].toString().toLatin1();
    EXPECT_EQ(login.json()["level"].toString(), "Supervisor");
    const QByteArray cookie = login.header("Set-Cookie");
    EXPECT_TRUE(cookie.contains("HttpOnly") && cookie.contains("SameSite=Strict")) << cookie.toStdString();

    const QJsonObject station = http->get("/api/station").json();
    EXPECT_EQ(station["pages"].toArray().size(), 8);
    EXPECT_EQ(station["servers"].toArray().size(), 8);
    EXPECT_FALSE(station["utcOffset"].toString().isEmpty());

    // A page's detail, and its counters and values moving as frames come.
    ASSERT_TRUE(waitFor([&] { return run->page(1).record().framesFiled >= 3; }, 10000));
    const QJsonObject page = http->get("/api/pages/1").json();
    EXPECT_EQ(page["hardware"].toString(), "HD System");
    EXPECT_TRUE(page["open"].toBool());
    EXPECT_EQ(page["link"].toObject()["kind"].toString(), "Network");
    EXPECT_EQ(page["identity"].toObject()["serial"].toString(), "710123");
    EXPECT_EQ(page["hardwareRows"].toArray()[0].toObject()["serial"].toString(), "710123");
    EXPECT_TRUE(page["measurementLog"].toObject()["open"].toBool());
    EXPECT_TRUE(page.contains("settings")) << "a Supervisor sees the settings";
    const double filed = page["counters"].toObject()["framesFiled"].toDouble();
    ASSERT_TRUE(waitFor([&] { return run->page(1).record().framesFiled >= quint64(filed) + 4; }, 10000));
    const QJsonObject later = http->get("/api/pages/1").json()["counters"].toObject();
    EXPECT_GE(later["framesFiled"].toDouble(), filed + 4);
    EXPECT_GT(later["bytesReceived"].toDouble(), (filed + 4) * 1501 - 1);
    EXPECT_FALSE(later["lastFrameAt"].toString().isEmpty());

    const QJsonObject values = http->get("/api/pages/1/values").json()["values"].toObject();
    EXPECT_EQ(values["family"].toString(), "hd");
    EXPECT_EQ(values["meters"].toArray().size(), 126);
    const QJsonObject alarm = values["alarmTable"].toArray()[0].toObject()["pairs"].toArray()[0].toObject();
    const int code = alarm["alarm"].toObject()["value"].toInt();
    if (code >= 0 && code <= 12) { // the alarm-name table's text beside its index
        EXPECT_EQ(alarm["alarm"].toObject()["text"].toString().size(), 25);
    }
    EXPECT_EQ(http->get("/api/pages/5/values").json()["values"].toObject()["family"].toString(), "arx");

    const QJsonObject server = http->get("/api/servers/1").json();
    EXPECT_EQ(server["state"].toString(), "Enabled");
    EXPECT_EQ(server["users"].toArray()[0].toObject()["name"].toString(), "viewer");
    EXPECT_FALSE(server["users"].toArray()[0].toObject().contains("password"));

    // Messages after an id, by level.
    const QJsonObject all = http->get("/api/messages").json();
    const QJsonArray lines = all["messages"].toArray();
    ASSERT_GE(lines.size(), 2);
    const double firstId = lines[0].toObject()["id"].toDouble();
    const QJsonArray rest = http->get(QStringLiteral("/api/messages?after=%1").arg(firstId)).json()["messages"].toArray();
    EXPECT_EQ(rest.size(), lines.size() - 1);
    for (const QJsonValue &m : http->get("/api/messages?level=error").json()["messages"].toArray())
        EXPECT_EQ(m.toObject()["level"].toString(), "error");
    EXPECT_EQ(http->get("/api/messages?after=x").status, 400);

    // Measurement logs: only names the list gives are served.
    const QJsonArray logs = http->get("/api/logs").json()["logs"].toArray();
    ASSERT_EQ(logs.size(), 1);
    const QString name = logs[0].toObject()["name"].toString();
    EXPECT_TRUE(http->get("/api/logs/" + name).body.startsWith("DATE,TIME"));
    for (const char *hostile : {"/api/logs/..%2F..%2FCONFIG%2FConsole.USR", "/api/logs/%2Fetc%2Fpasswd",
                                "/api/logs/../CONFIG/Console.USR", "/api/pages/9", "/api/pages/01"})
        EXPECT_EQ(http->get(QString::fromLatin1(hostile)).status, 404) << hostile;

    // Changes need the session's token; Basic needs none.
    EXPECT_EQ(http->post("/api/pages/1/disconnect").status, 403);
    EXPECT_EQ(http->post("/api/pages/1/disconnect", {}, {}, "bad").status, 403);
    EXPECT_EQ(http->post("/api/pages/1/disconnect", {}, "obs:pw-obs").status, 403) << "Observers only read";
    EXPECT_FALSE(http->get("/api/pages/1", "obs:pw-obs").json().contains("settings"));
    EXPECT_FALSE(http->get("/api/servers/1", "op:pw-op").json().contains("users"));
    ASSERT_EQ(http->post("/api/pages/1/disconnect", {}, {}, csrf).status, 200);
    EXPECT_TRUE(run->waitForLine(QStringLiteral("Disconnect by sup from 127.0.0.1: Connect1"), 3000));
    ASSERT_TRUE(waitFor([&] { return !run->page(1).record().portOpen; }, 10000)) << run->messages();
    ASSERT_EQ(http->post("/api/pages/1/connect", {}, "op:pw-op").status, 200);
    EXPECT_TRUE(run->waitForLine(QStringLiteral("Connect by op from 127.0.0.1: Connect1"), 3000));
    const quint64 before = run->page(1).record().framesFiled;
    EXPECT_TRUE(waitFor([&] { return run->page(1).record().framesFiled > before + 2; }, 15000)) << run->messages();

    ASSERT_EQ(http->post("/api/servers/1/disable", {}, "op:pw-op").status, 200);
    EXPECT_FALSE(run->station().servers().server(1)->isEnabled());
    ASSERT_EQ(http->post("/api/logout", {}, {}, csrf).status, 200);
    EXPECT_EQ(http->get("/api/station").status, 401);
}

TEST_F(ConsoleStation, FailedLogInsAreThrottledAndLogged)
{
    ASSERT_NO_FATAL_FAILURE(startStation());
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(http->post("/api/login", loginBody("op", "nope")).status, 401);
    EXPECT_EQ(http->post("/api/login", loginBody("op", "pw-op")).status, 429) << "refused for a minute";
    EXPECT_EQ(http->get("/api/station", "op:pw-op").status, 429);
    EXPECT_FALSE(run->line(QStringLiteral("Failed log-in as \"op\" from 127.0.0.1")).isEmpty());
    EXPECT_FALSE(run->line(QStringLiteral("Log-ins from 127.0.0.1 refused for 60 s")).isEmpty()) << run->messages();
}

TEST_F(ConsoleStation, WithoutAccountsOnlyHealthAndMetricsAnswer)
{
    ASSERT_NO_FATAL_FAILURE(startStation(false));
    EXPECT_EQ(http->get("/healthz").status, 200);
    EXPECT_EQ(http->get("/metrics").status, 200);
    const Answer api = http->get("/api/station", "sup:pw-sup");
    EXPECT_EQ(api.status, 403);
    EXPECT_TRUE(api.body.contains("--console-user NAME")) << api.body.toStdString();
    // An account added while it runs is noticed.
    ASSERT_TRUE(consoleaccounts::setAccount(consoleaccounts::path(dir.filePath("CONFIG")), "late", 1, "pw", nullptr));
    EXPECT_EQ(http->get("/api/station", "late:pw").status, 200);
}

TEST_F(ConsoleStation, HostileRequestsAreRefusedAndBounded)
{
    ASSERT_NO_FATAL_FAILURE(startStation());
    struct Case {
        const char *what;
        QByteArray bytes;
        QByteArray status;
    };
    const QByteArray big(20 * 1024, 'a');
    const Case cases[] = {
        {"not HTTP", "GARBAGE\r\n\r\n", "400"},
        {"bad length", "POST /api/login HTTP/1.1\r\nContent-Length: zz\r\n\r\n", "400"},
        {"headers over 16 KiB", "GET /healthz HTTP/1.1\r\nHost: a\r\nX-A: " + big + "\r\n\r\n", "431"},
        {"body over 64 KiB", "POST /api/login HTTP/1.1\r\nContent-Length: 70000\r\n\r\n" + QByteArray(70000, '{'), "413"},
        {"endless body", "POST /api/login HTTP/1.1\r\nContent-Length: 99999999\r\n\r\n" + QByteArray(300000, 'x'), "413"},
        {"login not JSON", "POST /api/login HTTP/1.1\r\nContent-Length: 5\r\n\r\n[1,2]", "400"},
        {"wrong method", "PUT /api/station HTTP/1.1\r\nContent-Length: 0\r\n\r\n", "401"},
    };
    for (const Case &c : cases) {
        const QByteArray got = rawExchange(port, c.bytes);
        EXPECT_TRUE(got.startsWith("HTTP/1.1 " + c.status)) << c.what << ": " << got.left(80).toStdString();
    }
    // Still answering.
    EXPECT_EQ(http->get("/healthz").status, 200);

    // Ten connections from one address; the eleventh is refused.
    std::vector<std::unique_ptr<QTcpSocket>> held;
    for (int i = 0; i < ConsoleListener::kMaxPerAddress; ++i) {
        held.push_back(std::make_unique<QTcpSocket>());
        held.back()->connectToHost(QHostAddress::LocalHost, port);
        ASSERT_TRUE(held.back()->waitForConnected(3000));
    }
    ASSERT_TRUE(waitFor([&] { return console->listener()->connectionCount() == ConsoleListener::kMaxPerAddress; }, 3000));
    EXPECT_TRUE(rawExchange(port, "GET /healthz HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 429"));
    // Idle connections are closed (the minute shortened here).
    console->listener()->setIdleLimit(300);
    EXPECT_TRUE(waitFor([&] {
        return std::all_of(held.begin(), held.end(),
                           [](const auto &s) { return s->state() == QAbstractSocket::UnconnectedState; });
    }, 5000));
    EXPECT_TRUE(waitFor([&] { return console->listener()->connectionCount() == 0; }, 3000));
    EXPECT_EQ(http->get("/healthz").status, 200);
}
