// The MQTT client: its queue while the broker is away (bounded by count and
// by bytes, the oldest dropped and counted, one line per outage), and a
// broker given by name.
#include "brokertest.h"
#include "core/clock.h"
#include "core/messagelog.h"
#include "network/mqttclient.h"
#include "../integration/station_support.h"

#include <QDir>
#include <QTimer>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>

TEST(MqttQueue, BoundedByCountAndBytesWhileTheBrokerIsAway)
{
    struct Case {
        int messages;
        int payloadBytes;
        int keptAtMost;
    };
    const Case cases[] = {
        {MqttClient::kMaxQueued + 50, 10, MqttClient::kMaxQueued},
        {40, 1024 * 1024, int(MqttClient::kMaxQueuedBytes / (1024 * 1024))},
    };
    for (const Case &c : cases) {
        MessageLog log(SystemClock::instance());
        log.setEchoToStderr(false);
        MqttClient client(log);
        MqttClient::Options o;
        o.host = QStringLiteral("127.0.0.1");
        o.port = stationtest::freePort(); // nobody listens
        o.clientId = QStringLiteral("queue-test");
        client.start(o);
        ASSERT_TRUE(stationtest::waitFor([&] { return client.state() == MqttClient::State::Waiting; }, 20000));
        const QByteArray payload(c.payloadBytes, 'x');
        for (int i = 0; i < c.messages; ++i)
            client.publish("tolva/s/messages", payload, 1, false);
        // Retained state and QoS 0 are not queued: they are sent again, or
        // are only worth having live.
        client.publish("tolva/s/status", payload, 1, true);
        client.publish("tolva/s/pages/1/values", payload, 0, false);
        EXPECT_LE(client.queued(), c.keptAtMost);
        EXPECT_EQ(client.dropped(), quint64(c.messages - client.queued()));
        int full = 0, refused = 0;
        for (const QString &l : log.lines()) {
            full += l.contains(QLatin1String("Broker queue full"));
            refused += l.contains(QLatin1String("Cannot connect to the broker"));
        }
        EXPECT_EQ(full, 1);
        EXPECT_EQ(refused, 1);
    }
}

// A broker given by name is looked up off the event loop (a resolver that
// waits must not stop the station), and TLS still checks the name.
TEST(MqttClientByName, LookedUpOffTheEventLoopAndGivenUpCleanly)
{
    REQUIRE_BROKER();
    brokertest::Broker broker;
    ASSERT_TRUE(broker.start({{"station", "pw-s"}}, true));
    std::mutex gate;
    std::atomic<int> lookUps{0};
    MqttClient::beforeOffLoopConnectForTests = [&] {
        ++lookUps;
        std::lock_guard<std::mutex> wait(gate);
    };
    MessageLog log(SystemClock::instance());
    log.setEchoToStderr(false);
    MqttClient::Options o;
    o.host = QStringLiteral("localhost");
    o.port = broker.port;
    o.user = QStringLiteral("station");
    o.password = QStringLiteral("pw-s");
    o.tlsCa = broker.file("ca.crt");
    o.tlsCertificate = broker.file("client.crt");
    o.tlsKey = broker.file("client.key");
    const uint threadsBefore = QDir("/proc/self/task").count();
    for (const bool givenUp : {true, false}) {
        gate.lock(); // the look-up waits until the gate opens
        auto client = std::make_unique<MqttClient>(log);
        o.clientId = givenUp ? QStringLiteral("given-up") : QStringLiteral("by-name");
        const int before = lookUps;
        client->start(o);
        bool ticked = false;
        QTimer::singleShot(20, [&] { ticked = true; });
        ASSERT_TRUE(stationtest::waitFor([&] { return ticked && lookUps == before + 1; }, 5000));
        EXPECT_EQ(client->state(), MqttClient::State::Connecting);
        if (givenUp) {
            client.reset();
            gate.unlock();
            // Its thread finishes the connect, frees it and ends.
            EXPECT_TRUE(stationtest::waitFor([&] {
                return MqttClient::offLoopConnectsRunning() == 0 && QDir("/proc/self/task").count() <= threadsBefore;
            }, 20000));
        } else {
            // A second client at once, as the publisher and the fleet view
            // start: the library's first TLS set-up is not theirs to share.
            MqttClient second(log);
            o.clientId = QStringLiteral("by-name-too");
            second.start(o);
            gate.unlock();
            EXPECT_TRUE(stationtest::waitFor([&] {
                return client->state() == MqttClient::State::Connected && second.state() == MqttClient::State::Connected;
            }, 20000)) << log.lines().join('\n').toStdString();
        }
    }
    MqttClient::beforeOffLoopConnectForTests = nullptr;
}
