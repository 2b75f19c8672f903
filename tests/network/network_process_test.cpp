// The program as an operator runs it, on a broker that wants TLS with client
// certificates and a password: a station publishing, a --network-view copy
// showing it in its console, a clean stop, and the last will after a kill.
#include "brokertest.h"

#include "../console/consoletest.h"

#include <csignal>

using namespace brokertest;
using namespace stationtest;

namespace {

class NetworkProcess : public UnitFixture {
protected:
    void SetUp() override
    {
        UnitFixture::SetUp();
        if (IsSkipped())
            return;
        REQUIRE_BROKER();
        if (program("openssl").isEmpty())
            GTEST_SKIP() << "openssl is not installed";
    }
    void TearDown() override
    {
        for (QProcess *p : {&station, &view}) {
            p->kill();
            p->waitForFinished(5000);
        }
        UnitFixture::TearDown();
    }
    // A console on a free port with one Supervisor account; its port.
    static quint16 addConsole(const StationDir &d)
    {
        const quint16 port = freePort();
        EXPECT_TRUE(d.writeConfig(QStringLiteral("Console.CFG"), {QStringLiteral("port = %1").arg(port)}));
        EXPECT_TRUE(consoleaccounts::setAccount(consoleaccounts::path(d.filePath(QStringLiteral("CONFIG"))), "sup", 3,
                                                "pw-sup", nullptr));
        return port;
    }
    static void launch(QProcess &p, const QString &dir, const QStringList &args)
    {
        p.setWorkingDirectory(dir);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(qEnvironmentVariable("TOLVA_SERVER"), args);
        ASSERT_TRUE(p.waitForStarted(5000));
    }
    // The view's /api/network until `ok` holds.
    static bool networkShows(consoletest::Http &http, const std::function<bool(const QJsonObject &)> &ok, QJsonObject *last)
    {
        return waitFor([&] {
            *last = http.get("/api/network", "sup:pw-sup").json();
            return ok(*last);
        }, 30000);
    }
    static QJsonObject stationIn(const QJsonObject &network, const QString &id)
    {
        for (const QJsonValue &s : network["stations"].toArray())
            if (s.toObject()["station"].toString() == id)
                return s.toObject();
        return {};
    }

    Broker broker;
    Subscriber sub;
    QProcess station, view;
};

} // namespace

TEST_F(NetworkProcess, TlsStationSeenByTheNetworkViewCleanStopAndLastWill)
{
    ASSERT_TRUE(broker.start({{"station", "pw-s"}, {"viewer", "pw-v"}}, true));
    ASSERT_TRUE(sub.start(broker, "viewer", "pw-v"));
    ASSERT_TRUE(sim.start({"--tcp", "0", "--unit", "kh71", "--rate", "8", "--trace", trace}));
    PageFile page = networkPage(sim.tcpPort());
    page.hardwareType = 2;
    ASSERT_TRUE(dir.writePage(1, page));
    ASSERT_TRUE(dir.writeConfig("Network.CFG", broker.networkConfig("station", "pw-s", "site-c")));
    const quint16 stationConsole = addConsole(dir);
    ASSERT_NO_FATAL_FAILURE(launch(station, dir.path(), {"--headless"}));
    ASSERT_TRUE(sub.waitFor("tolva/site-c/status", [](const QJsonObject &o) { return o["online"].toBool(); }))
        << station.readAll().toStdString();
    EXPECT_EQ(sub.on("tolva/site-c/status").last().json()["consoleUrl"].toString(),
              QStringLiteral("http://127.0.0.1:%1/").arg(stationConsole));

    // The control room's copy: the fleet in its console.
    StationDir viewDir;
    QStringList viewConfig = broker.networkConfig("viewer", "pw-v", "control-room");
    ASSERT_TRUE(viewDir.writeConfig("Network.CFG", viewConfig));
    consoletest::Http http(addConsole(viewDir));
    ASSERT_NO_FATAL_FAILURE(launch(view, viewDir.path(), {"--network-view", "--headless"}));
    QJsonObject network;
    ASSERT_TRUE(networkShows(http, [](const QJsonObject &n) {
        const QJsonObject s = stationIn(n, "site-c");
        return s["online"].toBool() && s["pages"].toArray().size() == 8
            && s["pages"].toArray()[0].toObject()["health"] == "ok";
    }, &network)) << QJsonDocument(network).toJson().toStdString();
    EXPECT_EQ(network["broker"].toObject()["state"], "connected");
    EXPECT_TRUE(network["broker"].toObject()["tls"].toBool());
    EXPECT_TRUE(network["publisher"].isNull()) << "a view publishes nothing";
    EXPECT_EQ(stationIn(network, "control-room"), QJsonObject());

    // A clean stop says offline itself.
    ::kill(pid_t(station.processId()), SIGTERM);
    ASSERT_TRUE(waitFor([&] { return station.state() == QProcess::NotRunning; }, 20000));
    ASSERT_TRUE(sub.waitFor("tolva/site-c/status", [](const QJsonObject &o) { return !o["online"].toBool(); }));
    EXPECT_FALSE(sub.on("tolva/site-c/status").last().json().contains("reason"));

    // Started again, then killed: the broker's last will says it.
    ASSERT_NO_FATAL_FAILURE(launch(station, dir.path(), {"--headless"}));
    ASSERT_TRUE(networkShows(http, [](const QJsonObject &n) { return stationIn(n, "site-c")["online"].toBool(); },
                             &network));
    ::kill(pid_t(station.processId()), SIGKILL);
    ASSERT_TRUE(sub.waitFor("tolva/site-c/status", [](const QJsonObject &o) {
        return !o["online"].toBool() && o["reason"] == "connection lost";
    }));
    ASSERT_TRUE(networkShows(http, [](const QJsonObject &n) {
        const QJsonArray s = n["stations"].toArray();
        return !s.isEmpty() && s[0].toObject()["station"] == "site-c" && !s[0].toObject()["online"].toBool();
    }, &network)) << "an offline station comes first";
}
