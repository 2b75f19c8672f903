// The ARX dialect over real sockets: replies, levels, forwarded commands,
// per-client assembly and the authentication gate.
#include "support/bytes.h"
#include "server/relayfixture.h"

namespace {


QByteArray arxRecord(char fill)
{
    return QByteArray("\xFF\xFE\xFD", 3) + QByteArray(97, fill) + QByteArray(8, '\x01');
}

class ArxRelay : public RelayFixture {
protected:
    void SetUp() override
    {
        RelayFixture::SetUp();
        source.type = 0;
        source.family = 0;
        source.model = "KM71";
        users = {{"op", "Secret", "Operator"}, {"obs", "o", "Observer"}, {"none", "n", "<none>"}};
    }
    UserTable users;
};

TEST_F(ArxRelay, SilentClientGetsNothingAndShowsInActive)
{
    auto server = makeServer();
    auto c = connectClient(*server);
    source.store.fileRecord(RecordKind::Arx, arxRecord('a'));
    server->relayTick();
    pumpFor(50);
    EXPECT_TRUE(c->received.isEmpty());
    EXPECT_EQ(server->client(0)->level, 1);
    server->refreshClients();
    EXPECT_EQ(server->connectionsText(), QString("Connections: 1"));
    ASSERT_EQ(server->clientRows().size(), 1);
    EXPECT_EQ(server->clientRows()[0].address, QString("127.0.0.1"));
    EXPECT_EQ(server->clientRows()[0].port, QString::number(c->socket.localPort()));
    EXPECT_EQ(server->clientRows()[0].status, QString("InActive"));
}

TEST_F(ArxRelay, HelloChecksumIdentifyAndData)
{
    auto server = makeServer();
    auto c = connectClient(*server);
    c->send(bytes({0x01, 0xFE, 0x05, 0xFE, 0x07, 0xFE, 0x04, 0xFE}));
    const QByteArray want = QByteArray("SVALID SUPERVISOR\xFF" "GOOD CHECKSUM\xFF" "KM71\xFF");
    ASSERT_TRUE(c->waitFor(want.size()));
    EXPECT_EQ(c->take(), want);
    EXPECT_EQ(server->client(0)->level, 3);

    const QByteArray record = arxRecord('r');
    source.store.fileRecord(RecordKind::Arx, record);
    server->relayTick();
    ASSERT_TRUE(c->waitFor(108));
    EXPECT_EQ(c->take(), record);
    server->refreshClients();
    EXPECT_EQ(server->clientRows()[0].status, QString("Active"));
    server->refreshClients();
    EXPECT_EQ(server->clientRows()[0].status, QString("InActive"));

    // Stop data: the next record is not sent.
    c->send(bytes({0x03, 0xFE}));
    ASSERT_TRUE(pumpUntil([&] { return server->client(0)->arxHalted; }));
    source.store.fileRecord(RecordKind::Arx, arxRecord('s'));
    server->relayTick();
    pumpFor(50);
    EXPECT_TRUE(c->received.isEmpty());
}

TEST_F(ArxRelay, LoginLevelGovernsForwardedCommands)
{
    auto server = makeServer();
    server->setUsers(users);
    auto c = connectClient(*server);
    // An Observer's level-2 command is dropped; after the Operator log-in in
    // the same read it passes.
    const QByteArray r = bytes({'R', 1, 2, 3, 4, 0xFE});
    c->send(r + QByteArray("\x00op:secret\xFE", 11) + r + bytes({0x08, 0x05, 0xFE}));
    ASSERT_TRUE(c->waitFor(16));
    EXPECT_EQ(c->take(), QByteArray("SVALID OPERATOR\xFF"));
    ASSERT_TRUE(pumpUntil([&] { return source.commands.size() == 2; }));
    EXPECT_EQ(source.commands[0], bytes({'R', 1, 2, 3, 4, 0xFE}));
    EXPECT_EQ(source.commands[1], bytes({0x08, 0x05, 0xFE}));
    EXPECT_EQ(server->client(0)->level, 2);
}

TEST_F(ArxRelay, FailedLoginIsLoggedAndSilencesTheClient)
{
    auto server = makeServer();
    server->setUsers(users);
    auto c = connectClient(*server);
    c->send(QByteArray("\x00op:wrong\xFE", 10));
    ASSERT_TRUE(c->waitFor(17));
    EXPECT_EQ(c->take(), QByteArray("INVALID PASSWORD\xFF"));
    ASSERT_GE(log.count(), 1);
    EXPECT_TRUE(log.line(0).startsWith("STATUS(")) << log.line(0).toStdString();
    EXPECT_TRUE(log.line(0).contains("<Server1>"));
    EXPECT_TRUE(log.line(0).contains("127.0.0.1"));
    // Level 0: a later hello and a valid log-in are both ignored.
    c->send(QByteArray("\x01\xFE\x00op:Secret\xFE", 13));
    pumpFor(80);
    EXPECT_TRUE(c->received.isEmpty());
    EXPECT_EQ(server->client(0)->level, 0);

    // "<none>" authorization: no reply at all, level 0.
    auto d = connectClient(*server);
    d->send(QByteArray("\x00none:n\xFE\x05\xFE", 10));
    pumpFor(80);
    EXPECT_TRUE(d->received.isEmpty());
    EXPECT_EQ(server->client(1)->level, 0);
}

TEST_F(ArxRelay, EachClientAssemblesItsOwnMessages)
{
    auto server = makeServer();
    server->setUsers(users);
    auto a = connectClient(*server);
    auto b = connectClient(*server);
    a->send(QByteArray("\x00op:se", 6));
    settle();
    b->send(bytes({0x04, 0xFE}));
    settle();
    a->send(QByteArray("cret\xFE", 5));
    ASSERT_TRUE(a->waitFor(16));
    EXPECT_EQ(a->take(), QByteArray("SVALID OPERATOR\xFF"));
    EXPECT_TRUE(b->received.isEmpty());
    EXPECT_EQ(server->client(0)->level, 2);
    EXPECT_TRUE(server->client(0)->arxHalted);
    EXPECT_EQ(server->client(1)->level, 1);
    EXPECT_FALSE(server->client(1)->arxHalted);
}

TEST_F(ArxRelay, RequiredAuthenticationAllowsOnlyHelloAndLogin)
{
    auto server = makeServer(1, true);
    server->setUsers(users);
    auto c = connectClient(*server);
    c->send(bytes({0x04, 0xFE, 0x08, 0x01, 0xFE, 0x05, 0xFE, 0x07, 0xFE, 0x01, 0xFE}));
    ASSERT_TRUE(c->waitFor(10));
    EXPECT_EQ(c->take(), QByteArray("SPASSWORD\xFF"));
    source.store.fileRecord(RecordKind::Arx, arxRecord('x'));
    server->relayTick();
    pumpFor(50);
    EXPECT_TRUE(c->received.isEmpty());
    EXPECT_TRUE(source.commands.isEmpty());
    EXPECT_TRUE(server->client(0)->arxHalted);

    c->send(QByteArray("\x00obs:O\xFE\x04\xFE\x08\x01\xFE", 12));
    ASSERT_TRUE(c->waitFor(16));
    EXPECT_EQ(c->take(), QByteArray("SVALID OBSERVER\xFF"));
    ASSERT_TRUE(pumpUntil([&] { return source.commands.size() == 1; }));
    EXPECT_EQ(source.commands[0], bytes({0x08, 0x01, 0xFE}));
    const QByteArray record = arxRecord('y');
    source.store.fileRecord(RecordKind::Arx, record);
    server->relayTick();
    ASSERT_TRUE(c->waitFor(108));
    EXPECT_EQ(c->take(), record);
}

TEST_F(ArxRelay, NoSourceAnswersButForwardsNothing)
{
    auto server = makeServer(0);
    auto c = connectClient(*server);
    c->send(bytes({0x01, 0xFE, 0x07, 0xFE, 0x08, 0x01, 0xFE}));
    const QByteArray want = QByteArray("SVALID SUPERVISOR\xFF\xFF");
    ASSERT_TRUE(c->waitFor(want.size()));
    EXPECT_EQ(c->take(), want);
    pumpFor(30);
    EXPECT_TRUE(source.commands.isEmpty());
}

TEST_F(ArxRelay, TvFamilyTranslatesBeforeForwarding)
{
    source.family = 1;
    auto server = makeServer();
    auto c = connectClient(*server);
    c->send(bytes({0x01, 0xFE, 27, 4, 0xFE, 'L', 2, '0', 'c', 0xFE, 20, 60, 0xFE}));
    ASSERT_TRUE(pumpUntil([&] { return source.commands.size() == 2; }));
    EXPECT_EQ(source.commands[0], bytes({0x1A, 4, 0xFE}));
    EXPECT_EQ(source.commands[1], QByteArray("L\x02" "00\xFE"));
    pumpFor(30);
    EXPECT_EQ(source.commands.size(), 2); // channel 60 is out of range
}

} // namespace
