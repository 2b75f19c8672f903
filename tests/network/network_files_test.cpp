// Network.CFG as the program reads it, and the fleet view's handling of what
// anyone on the broker may publish.
#include "network/networkfleet.h"
#include "network/networksettings.h"
#include "core/clock.h"
#include "core/messagelog.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

bool loadText(const QTemporaryDir &dir, const QByteArray &text, NetworkSettings &s, QString *error)
{
    QFile f(NetworkSettings::path(dir.path()));
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(text);
    f.close();
    return NetworkSettings::load(dir.path(), s, error);
}

} // namespace

TEST(NetworkSettings, FileTable)
{
    struct Case {
        const char *text;
        bool ok;
        const char *errorHas; // for refusals
    };
    const Case cases[] = {
        {"", true, ""},
        {"broker_host = 10.0.0.5\nstation = Site_07-b\n", true, ""},
        {"broker_host = h\nstation = a/b\n", false, "line 2: the station id \"a/b\" may hold only"},
        {"broker_host = h\nstation = site#1\n", false, "may hold only letters"},
        {"broker_host = h\nstation = site+\n", false, "may hold only letters"},
        {"broker_host = h\nstation = two words\n", false, "may hold only letters"},
        {"broker_host = h\nprefix = a/b\n", false, "the prefix"},
        {"broker_host = h\nbroker_port = 0\n", false, "line 2"},
        {"broker_host = h\ntls_ca = ca\ntls_certificate = c\n", false, "go together"},
        {"broker_host = h\ntls_certificate = c\ntls_key = k\n", false, "needs tls_ca"},
        {"broker_host = h\npassword = p\n", false, "needs a user"},
        {"broker_host = h\npublish_values = maybe\n", false, "line 2"},
        {"broker_host = h\nbroker = x\n", false, "line 2"},
    };
    for (const Case &c : cases) {
        QTemporaryDir dir;
        NetworkSettings s;
        QString error;
        EXPECT_EQ(loadText(dir, c.text, s, &error), c.ok) << c.text;
        if (!c.ok) {
            EXPECT_TRUE(error.contains(QLatin1String(c.errorHas))) << c.text << " -> " << error.toStdString();
            EXPECT_TRUE(error.contains(QLatin1String("Network.CFG"))) << error.toStdString();
        }
    }
}

TEST(NetworkSettings, DefaultsAndSaving)
{
    QTemporaryDir dir;
    NetworkSettings s;
    ASSERT_TRUE(NetworkSettings::load(dir.path(), s, nullptr));
    EXPECT_FALSE(s.enabled()); // no file: off
    EXPECT_EQ(s.prefix, "tolva");
    EXPECT_TRUE(s.publishValues);
    EXPECT_FALSE(s.publishRecords);
    EXPECT_EQ(s.port(), 1883);
    EXPECT_TRUE(NetworkSettings::validId(s.stationId())); // the host name, made valid
    s.brokerHost = "broker.example";
    s.tlsCa = "/etc/ca.pem";
    EXPECT_EQ(s.port(), 8883);
    s.station = "north-7";
    s.user = "u";
    s.password = "p#ss = word";
    s.publishRecords = true;
    QString error;
    ASSERT_TRUE(s.save(dir.path(), &error)) << error.toStdString();
    EXPECT_EQ(QFile(NetworkSettings::path(dir.path())).permissions() & (QFile::ReadGroup | QFile::ReadOther), 0);
    NetworkSettings back;
    ASSERT_TRUE(NetworkSettings::load(dir.path(), back, &error)) << error.toStdString();
    EXPECT_EQ(back.text(), s.text());
    EXPECT_EQ(back.password, "p#ss = word");
    // A refused id is not written.
    s.station = "a/b";
    EXPECT_FALSE(s.save(dir.path(), &error));
    ASSERT_TRUE(NetworkSettings::load(dir.path(), back, nullptr));
    EXPECT_EQ(back.station, "north-7");
}

TEST(NetworkFleet, TakesOnlyWellFormedStateAndSortsByAttention)
{
    MessageLog log(SystemClock::instance());
    log.setEchoToStderr(false);
    NetworkSettings settings;
    settings.brokerHost = "127.0.0.1";
    NetworkFleet fleet(log, settings);
    const QString now = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    auto page = [&](bool open, const QString &last) {
        return QJsonDocument(QJsonObject{{"started", true}, {"open", open}, {"autoConnect", true}, {"hardwareType", 2}, {"caption", "Tx"},
                                         {"counters", QJsonObject{{"lastFrameAt", last}}}})
            .toJson(QJsonDocument::Compact);
    };
    struct Case {
        QByteArray topic, payload;
        bool taken;
    };
    const Case cases[] = {
        {"tolva/good/status", R"({"online":true,"consoleUrl":"https://good.example:8080/"})", true},
        {"tolva/good/pages/1/state", page(true, now), true},
        {"tolva/good/pages/2/state", page(false, now), true},
        {"tolva/good/pages/3/state", page(true, "2020-01-01T00:00:00.000Z"), true},
        {"tolva/good/servers/1", R"({"port":7000,"state":"Enabled","clientCount":2})", true},
        {"tolva/calm/status", R"x({"online":true,"consoleUrl":"javascript:alert(1)"})x", true},
        {"tolva/calm/pages/1/state", page(true, now), true},
        {"tolva/gone/status", R"({"online":false})", true},
        {"tolva/bad/pages/9/state", page(true, now), false},
        {"tolva/bad/pages/x/state", page(true, now), false},
        {"tolva/bad/status", "not json", false},
        {"tolva/bad/status", "[1,2]", false},
        {"tolva/bad/status", QByteArray(NetworkFleet::kMaxPayload + 1, ' '), false},
        {"other/bad/status", R"({"online":true})", false},
        {"tolva/b%d/status", R"({"online":true})", false},
        {"tolva/bad/alarms/status", R"({"online":true})", false},
    };
    quint64 refused = 0;
    for (const Case &c : cases) {
        fleet.take(c.topic, c.payload);
        refused += !c.taken;
        EXPECT_EQ(fleet.refused(), refused) << c.topic.constData();
    }
    EXPECT_EQ(fleet.stationCount(), 3);
    const QJsonArray stations = fleet.json().value("stations").toArray();
    ASSERT_EQ(stations.size(), 3);
    // Offline first, then the station with a failed page; its pages failed,
    // silent, ok.
    EXPECT_EQ(stations[0].toObject().value("station").toString(), "gone");
    const QJsonObject good = stations[1].toObject();
    EXPECT_EQ(good.value("station").toString(), "good");
    EXPECT_EQ(good.value("failedPages").toInt(), 1);
    EXPECT_EQ(good.value("silentPages").toInt(), 1);
    EXPECT_EQ(good.value("consoleUrl").toString(), "https://good.example:8080/");
    QStringList order;
    for (const QJsonValue &p : good.value("pages").toArray())
        order << p.toObject().value("health").toString() + QString::number(p.toObject().value("number").toInt());
    EXPECT_EQ(order, QStringList({"failed2", "silent3", "ok1"}));
    EXPECT_EQ(good.value("servers").toArray().first().toObject().value("clientCount").toInt(), 2);
    const QJsonObject calm = stations[2].toObject();
    EXPECT_TRUE(calm.value("consoleUrl").isNull()); // only web addresses are links
    // A retained topic cleared forgets it; a station with nothing left goes.
    fleet.take("tolva/gone/status", {});
    EXPECT_EQ(fleet.stationCount(), 2);
}
