#pragma once
// Real relay servers on 127.0.0.1 with real TCP clients, driven by pumping
// the event loop until a condition holds.
#include "core/messagelog.h"
#include "core/socketerrors.h"
#include "server/relayclient.h"
#include "server/relayserver.h"
#include "server/fakerelaysource.h"
#include "support/fakeclock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

inline bool pumpUntil(const std::function<bool()> &done, int timeoutMs = 3000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Lets pending socket traffic settle when the test expects nothing to arrive.
inline void pumpFor(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

class TestClient {
public:
    // `from`: a loopback address of its own (127.0.0.2 ...), since a server
    // takes at most ten connections from one address.
    explicit TestClient(quint16 port, const QHostAddress &from = QHostAddress())
    {
        if (!from.isNull())
            socket.bind(from);
        socket.connectToHost(QHostAddress::LocalHost, port);
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); });
    }
    bool waitConnected() { return pumpUntil([this] { return socket.state() == QAbstractSocket::ConnectedState; }); }
    void send(const QByteArray &bytes)
    {
        socket.write(bytes);
        socket.flush();
    }
    bool waitFor(qsizetype bytes, int ms = 3000) { return pumpUntil([&] { return received.size() >= bytes; }, ms); }
    QByteArray take()
    {
        QByteArray out = received;
        received.clear();
        return out;
    }

    QTcpSocket socket;
    QByteArray received;
};

class RelayFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        log.setEchoToStderr(false);
        socketerrors::Hook::instance().install(&log);
        resolver = [this](int n) -> RelaySource * {
            if (n == 1)
                return &source;
            if (n == 9)
                return &player;
            return nullptr;
        };
    }
    void TearDown() override { socketerrors::Hook::instance().install(nullptr); }

    // A server on source 1 listening on a free port, timer stopped so that
    // the test calls relayTick() itself.
    std::unique_ptr<RelayServer> makeServer(int sourceNumber = 1, bool requireAuth = false, int number = 1)
    {
        auto s = std::make_unique<RelayServer>(number, dir.path(), log, clock, resolver);
        s->setTimerRunning(false);
        s->setSettings({sourceNumber, false, 0, requireAuth});
        s->enable();
        EXPECT_TRUE(s->isEnabled());
        return s;
    }

    std::unique_ptr<TestClient> connectClient(RelayServer &s, const QHostAddress &from = QHostAddress())
    {
        const int before = s.clientCount();
        auto c = std::make_unique<TestClient>(s.serverPort(), from);
        EXPECT_TRUE(c->waitConnected());
        EXPECT_TRUE(pumpUntil([&] { return s.clientCount() == before + 1; }));
        return c;
    }

    // Lets the server read everything sent so far.
    void settle() { pumpFor(30); }

    QTemporaryDir dir;
    FakeClock clock;
    MessageLog log{clock};
    FakeRelaySource source;
    FakeRelaySource player;
    RelayServer::SourceResolver resolver;
};
