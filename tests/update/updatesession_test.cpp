// An update as a session of its own, on a scripted host instead of a
// connection page: it runs while the page is in an update phase, and hands
// the page back to a fresh unit session when it ends or is interrupted.
#include "support/scriptedhost.h"
#include "update/firmwarefiles.h"
#include "update/updatesession.h"

#include <QBuffer>
#include <gtest/gtest.h>

#include <vector>

namespace {

using Kind = UpdateMachine::Kind;

// What the page runs for its unit: counts what it is asked to do.
class UnitStandIn : public Session {
public:
    using Session::Session;
    void tick() override { ++ticks; }
    void connectButton() override { ++connects; }
    void disconnectButton() override { ++disconnects; }
    int ticks = 0, connects = 0, disconnects = 0;
};

class UpdateSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QObject::connect(&machine, &UpdateMachine::finished, [this](bool ok, const QString &) { results << ok; });
    }
    UnitStandIn *unit() { return dynamic_cast<UnitStandIn *>(&host.session()); }
    void start(Kind kind)
    {
        auto b = std::make_unique<QBuffer>();
        const int versionLines = kind == Kind::Network ? 1 : 2;
        b->setData("1\r\n" + QByteArray("V01.00\r\n").repeated(versionLines) + "S1130000AA\r\n");
        b->open(QIODevice::ReadOnly);
        downloadfile::File f(std::move(b), QStringLiteral("/st/DLD/T.DLD"));
        downloadfile::Head head;
        ASSERT_TRUE(readHead(f, versionLines, &head));
        machine.start(kind, std::move(f), 1);
        ASSERT_NE(dynamic_cast<UpdateSession *>(&host.session()), nullptr);
    }
    void runUntilHandedBack()
    {
        for (int i = 0; i < 10000 && host.handBacks == 0; ++i)
            host.tick();
    }

    ScriptedLink link;
    ScriptedHost host{link, [](SessionHost &h) { return std::make_unique<UnitStandIn>(h); }};
    UpdateMachine machine{host};
    QList<bool> results;
};

TEST_F(UpdateSessionTest, SuccessHandsThePageToAFreshUnitSessionThatReconnects)
{
    const QByteArray serial = firmware::serialRecord(0, 0, 0) + "\r";
    const struct {
        Kind kind;
        QList<QByteArray> sends;
        std::vector<int> bauds;
        int saves, releases;
        const char *message;
    } cases[] = {
        {Kind::Hd, {"HD\r", "PG\r", "S1130000AA\r", serial, "EF\r"}, {9}, 1, 1, " EEPROM Update Succesful "},
        {Kind::Network, {"PG0001\r", "S1130000AA\r", "UL\r"}, {}, 0, 2, " Lantronix Update Succesful "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(int(c.kind));
        link.answer(c.kind == Kind::Hd ? "PG\r" : "PG0001\r", "READY\r");
        link.answer("S1130000AA\r", "GC\r");
        link.answer(serial, "GC\r");
        link.answer("EF\r", "DONE\r", 2);
        start(c.kind);
        runUntilHandedBack();

        EXPECT_EQ(link.sends(), c.sends);
        EXPECT_EQ(results, QList<bool>{true});
        ASSERT_NE(unit(), nullptr);
        EXPECT_EQ(unit()->connects, 1);
        EXPECT_FALSE(machine.running());
        // As a vector: Qt's compare of two empty lists hands memcmp a null pointer.
        EXPECT_EQ(std::vector<int>(host.bauds.cbegin(), host.bauds.cend()), c.bauds);
        EXPECT_EQ(host.saved.size(), c.saves);
        EXPECT_EQ(host.releases, c.releases);
        EXPECT_EQ(host.messages.last(), QStringLiteral("1") + QLatin1String(c.message));
        host.tick(); // the unit session runs the page from now on
        EXPECT_EQ(unit()->ticks, 1);
        results.clear();
        host.handBacks = host.releases = 0;
        host.bauds.clear();
        host.saved.clear();
        host.openLink();
        link.clearRules();
        link.takeSent();
    }
}

TEST_F(UpdateSessionTest, FailureHandsThePageBackWithoutReconnecting)
{
    const struct {
        Kind kind;
        QList<QByteArray> lastSends;
        int releases;
        const char *message;
    } cases[] = {
        {Kind::Kf71, {"DE\r", "\r", "EC\r"}, 0, " EEPROM Update Failed "},
        {Kind::Kh71, {"S1130000AA\r", "DE\r"}, 1, " Please Close Arxview, and Re-open, and Re-Connect"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(int(c.kind));
        host.openLink();
        host.releases = host.handBacks = 0;
        results.clear();
        link.clearRules();
        link.takeSent();
        link.answer("PG0001\r", "READY\r");
        link.answer("S1130000AA\r", "BC\r");
        start(c.kind);
        runUntilHandedBack();

        EXPECT_EQ(link.sends().mid(link.sends().size() - c.lastSends.size()), c.lastSends);
        EXPECT_EQ(results, QList<bool>{false});
        ASSERT_NE(unit(), nullptr);
        EXPECT_EQ(unit()->connects, 0);
        EXPECT_EQ(host.record().phase, 0);
        EXPECT_EQ(host.record().state, state::Error);
        EXPECT_FALSE(host.updateEnabled);
        EXPECT_EQ(host.releases, c.releases);
        EXPECT_EQ(host.messages.last(), QStringLiteral("0") + QLatin1String(c.message));
    }
}

// Whatever else the page asks of a running update goes to the unit's session.
TEST_F(UpdateSessionTest, AnythingButAnUpdateStepGoesToTheUnitSession)
{
    const struct {
        const char *name;
        std::function<void(ScriptedHost &)> act;
        int ticks, connects, disconnects;
    } cases[] = {
        {"link failed", [](ScriptedHost &h) { h.record().phase = 0; h.tick(); }, 1, 0, 0},
        {"Connect", [](ScriptedHost &h) { h.session().connectButton(); }, 0, 1, 0},
        {"Disconnect", [](ScriptedHost &h) { h.session().disconnectButton(); }, 0, 0, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        host.handBacks = 0;
        link.answer("PG0001\r", "READY\r");
        start(Kind::Kf71);
        host.tick();
        ASSERT_EQ(host.handBacks, 0);
        c.act(host);
        EXPECT_EQ(host.handBacks, 1);
        ASSERT_NE(unit(), nullptr);
        EXPECT_EQ(unit()->ticks, c.ticks);
        EXPECT_EQ(unit()->connects, c.connects);
        EXPECT_EQ(unit()->disconnects, c.disconnects);
        host.tick();
        EXPECT_NE(unit(), nullptr) << "the update stays handed back";
    }
}

} // namespace
