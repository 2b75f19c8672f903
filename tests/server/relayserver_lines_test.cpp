// The HD/KF-71 line dialect and the KX-71 requests over real sockets.
#include "protocols/kx71/kx71store.h"
#include "server/relayfixture.h"

namespace {

class LineRelay : public RelayFixture {
protected:
    void SetUp() override
    {
        RelayFixture::SetUp();
        source.type = 2;
        source.ident = "KH71 V1.0";
    }
};

TEST_F(LineRelay, HelloIdentAndLevelsForCommands)
{
    auto server = makeServer();
    server->setUsers({{"Op", "pw", "Operator"}, {"nobody", "x", "<none>"}});
    auto c = connectClient(*server);
    // Observer: CC and PB go nowhere; "UI" answers.
    c->send("UI\rCC0F1234AB\rPB01\r");
    ASSERT_TRUE(c->waitFor(10));
    EXPECT_EQ(c->take(), QByteArray("KH71 V1.0\r"));
    pumpFor(30);
    EXPECT_TRUE(source.commands.isEmpty());
    // Log-in as Operator with other letter case; the CC after it passes.
    c->send("SPop:PW\rCC0F1234AB\rPB01\rEC\r");
    ASSERT_TRUE(c->waitFor(16));
    EXPECT_EQ(c->take(), QByteArray("SVALID OPERATOR\r"));
    ASSERT_TRUE(pumpUntil([&] { return source.commands.size() == 2; }));
    EXPECT_EQ(source.commands[0], QByteArray("CC0F1234AB\r"));
    EXPECT_EQ(source.commands[1], QByteArray("PB01\r"));

    auto d = connectClient(*server);
    d->send("SC\r");
    ASSERT_TRUE(d->waitFor(18));
    EXPECT_EQ(d->take(), QByteArray("SVALID SUPERVISOR\r"));
    EXPECT_EQ(server->client(1)->level, 3);
    // Two characters alone are not a command.
    d->send("SD");
    d->send("\r");
    EXPECT_TRUE(pumpUntil([&] { return server->client(1)->hdHalted; }));

    auto e = connectClient(*server);
    e->send("SPnobody:x\rSC\rUI\r");
    pumpFor(80);
    EXPECT_TRUE(e->received.isEmpty());
    EXPECT_EQ(server->client(2)->level, 0);
}

TEST_F(LineRelay, RequiredAuthenticationGatesLines)
{
    auto server = makeServer(1, true);
    server->setUsers({{"op", "pw", "Operator"}});
    auto c = connectClient(*server);
    c->send("SD\rUI\rSC\r");
    ASSERT_TRUE(c->waitFor(10));
    EXPECT_EQ(c->take(), QByteArray("SPASSWORD\r"));
    EXPECT_TRUE(server->client(0)->hdHalted);
    c->send("SPop:pw\rSD\r");
    ASSERT_TRUE(c->waitFor(16));
    EXPECT_EQ(c->take(), QByteArray("SVALID OPERATOR\r"));
    settle();
    EXPECT_FALSE(server->client(0)->hdHalted);
}

QByteArray hdRecord(char fill)
{
    return QByteArray("\xFF\xFE\xFD", 3) + QByteArray(1498, fill) + QByteArray(8, '\x02');
}

TEST_F(LineRelay, ChangesOverlaidOnOtherClientsOnlyOldestFirst)
{
    auto server = makeServer();
    auto a = connectClient(*server);
    auto b = connectClient(*server);
    for (auto *c : {a.get(), b.get()})
        c->send("SC\rSD\r");
    ASSERT_TRUE(a->waitFor(18) && b->waitFor(18));
    a->take();
    b->take();
    a->send("CC0F1234AB\rCC107FAB\r"); // two-byte and one-byte codes
    ASSERT_TRUE(pumpUntil([&] { return source.commands.size() == 2; }));

    const QByteArray rec = hdRecord('h');
    for (int n = 0; n < 3; ++n) {
        source.store.fileRecord(RecordKind::Hd, rec);
        server->relayTick();
        ASSERT_TRUE(a->waitFor(1509) && b->waitFor(1509));
        const QByteArray ra = a->take(), rb = b->take();
        EXPECT_EQ(ra, rec) << "the sender never gets its own change";
        QByteArray want = rec;
        if (n == 0)
            want.replace(4, 5, QByteArray("\x0F\x00\x00\x12\x34", 5));
        if (n == 1)
            want.replace(4, 5, QByteArray("\x10\x00\x00\x00\x7F", 5));
        EXPECT_EQ(rb, want) << "record " << n;
    }
}

TEST_F(LineRelay, ElevenChangesKeepTheNewestTen)
{
    source.type = 3; // KF-71: code 0x16 takes two bytes
    auto server = makeServer();
    auto a = connectClient(*server);
    auto b = connectClient(*server);
    a->send("SC\r");
    b->send("SC\rSD\r");
    ASSERT_TRUE(a->waitFor(18) && b->waitFor(18));
    b->take();
    QByteArray lines;
    for (int i = 0; i < 11; ++i)
        lines += "CC1600" + QByteArray::number(i, 16).rightJustified(2, '0').toUpper() + "\r";
    a->send(lines.left(9 * 10)); // the dialect takes ten lines per read
    ASSERT_TRUE(pumpUntil([&] { return source.commands.size() >= 10; }));
    a->send(lines.mid(9 * 10));
    ASSERT_TRUE(pumpUntil([&] { return source.commands.size() == 11; }));
    pumpFor(20);
    EXPECT_EQ(server->client(1)->changeQueue.size(), 10);
    EXPECT_EQ(source.commands.size(), 11);
    EXPECT_EQ(server->client(1)->changeQueue.front().overlay.toHex(), QByteArray("1600000001"));
    const QByteArray rec = hdRecord('k');
    for (int i = 1; i <= 11; ++i) {
        source.store.fileRecord(RecordKind::Kf, rec);
        server->relayTick();
        ASSERT_TRUE(b->waitFor(1509));
        const QByteArray got = b->take();
        QByteArray want = rec;
        if (i <= 10)
            want.replace(4, 5, QByteArray("\x16\x00\x00\x00", 4) + char(i));
        EXPECT_EQ(got, want) << "record " << i;
    }
}

TEST_F(LineRelay, HardwareTypeChangeReachesServerAtShowStatus)
{
    source.type = 0;
    auto server = makeServer();
    auto c = connectClient(*server);
    source.type = 2;
    c->send(QByteArray("\x05\xFE", 2)); // still the ARX dialect
    ASSERT_TRUE(c->waitFor(14));
    EXPECT_EQ(c->take(), QByteArray("GOOD CHECKSUM\xFF"));
    server->showStatus();
    EXPECT_EQ(server->sourceType(), 2);
    c->send("SC\r");
    ASSERT_TRUE(c->waitFor(18));
    EXPECT_EQ(c->take(), QByteArray("SVALID SUPERVISOR\r"));
}

TEST_F(LineRelay, KxRequests)
{
    source.type = 1;
    source.kxType = "KX71 A";
    source.kxVersion = "V2.3";
    QByteArray frame("\xFF\xFE\xFD\xFC", 4);
    frame += QByteArray(400, 'q');
    source.kxFrames['1'] = frame;
    source.kxFrames['4'] = QByteArray("\xFF\xFE\xFD\xFC", 4) + QByteArray(352, 'z');
    auto server = makeServer();
    auto c = connectClient(*server);

    c->send(QByteArray("T\xF0\xF1\r"));
    ASSERT_TRUE(c->waitFor(8));
    EXPECT_EQ(c->take(), QByteArray("KX71 A\xF0\xF1"));
    server->refreshClients();
    EXPECT_EQ(server->clientRows()[0].status, QString("Connect"));

    c->send("U\r");
    ASSERT_TRUE(c->waitFor(6));
    EXPECT_EQ(c->take(), QByteArray("V2.3\xF0\xF1"));

    c->send("D1\r");
    ASSERT_TRUE(c->waitFor(356));
    pumpFor(20);
    EXPECT_EQ(c->take(), frame.left(356));
    EXPECT_EQ(server->client(0)->activity, 0); // -1 + 1

    c->send("M4x\r");
    ASSERT_TRUE(c->waitFor(356));
    EXPECT_EQ(c->take(), source.kxFrames['4']);
    ASSERT_EQ(source.commands.size(), 1);
    EXPECT_EQ(source.commands[0], QByteArray("Mx\r"));

    // Nothing is left once the marker is taken away: nothing to answer.
    c->send(QByteArray("\xF0\xF1", 2));
    settle();
    c->send("D9\r");
    settle();
    c->send("X1\r");
    pumpFor(50);
    EXPECT_TRUE(c->received.isEmpty());
    EXPECT_EQ(server->client(0)->activity, 2); // D9 counts, X1 does not
}

// A viewer asking before the analyzer's first frame of a kind waits for 356
// bytes: it gets those of the empty store, zeros, not silence.
TEST_F(LineRelay, KxRequestBeforeTheFirstFrameGetsTheEmptyStore)
{
    source.type = 1;
    for (char d : {'1', '2', '3', '4'})
        source.kxFrames[d] = Kx71Store().selected(d);
    auto server = makeServer();
    auto c = connectClient(*server);
    for (const char *request : {"D2\r", "D3\r", "D4\r", "D1\r"}) {
        c->send(request);
        ASSERT_TRUE(c->waitFor(356)) << request;
        EXPECT_EQ(c->take(), QByteArray(356, '\0')) << request;
    }
}

} // namespace
