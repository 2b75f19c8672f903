// The network module update: download, "UL", two fixed waits, the link
// closed once on the way.
#include "updatetestpage.h"

namespace {

class NetworkUpdateTest : public UpdatePageTest,
                          public ::testing::WithParamInterface<int> {};

TEST_P(NetworkUpdateTest, LoadsTheModuleWaitsAndReconnects)
{
    ConnectionSettings s = page->settings();
    s.connectionType = GetParam();
    page->setSettings(s);
    page->reconnect();
    record().state = state::Data;
    link.answer("PG0002\r", "READY\r");
    acceptLines({"S1", "S2"});
    start(UpdateMachine::Kind::Network, {"S1", "S2"});
    EXPECT_EQ(record().phase, UpdateMachine::kNetworkPhase);
    while (machine().step() != 7)
        tick();
    EXPECT_EQ(link.sends(), (QList<QByteArray>{"PG0002\r", "S1\r", "S2\r", "UL\r"}));
    EXPECT_EQ(record().state, state::Data); // left as it was
    EXPECT_EQ(statuses.last(), QStringLiteral("Updating Lantronix  "));
    EXPECT_EQ(page->interval(), 100);

    // Nine ticks on the link, the tenth closes it without leaving the phase.
    ticks(9);
    page->sendText("probe");
    EXPECT_EQ(link.sends().last(), QByteArray("probe"));
    tick();
    page->sendText("gone");
    EXPECT_NE(link.sends().last(), QByteArray("gone"));
    EXPECT_EQ(record().phase, UpdateMachine::kNetworkPhase);
    EXPECT_TRUE(record().portOpen);

    ticks(4200 - 10);
    EXPECT_EQ(machine().step(), 7);
    EXPECT_EQ(machine().progress(), 100);
    tick(); // 4201
    EXPECT_EQ(machine().step(), 17);
    EXPECT_EQ(statuses.last(), QStringLiteral("Resetting Unit   "));
    ticks(900);
    EXPECT_EQ(machine().step(), 17);
    tick(); // 901
    EXPECT_EQ(machine().step(), 18);
    EXPECT_TRUE(results.isEmpty());
    tick();
    EXPECT_EQ(results, QList<bool>{true});
    EXPECT_TRUE(logged(QStringLiteral(" Lantronix Update Succesful "), LogLevel::Status));
    EXPECT_NE(record().phase, UpdateMachine::kNetworkPhase);
}

INSTANTIATE_TEST_SUITE_P(EveryConnectionType, NetworkUpdateTest,
                         ::testing::Values(int(connection::Serial), int(connection::Network), int(connection::Modem)));

TEST_F(UpdatePageTest, NetworkModuleFailureSaysSo)
{
    link.answer("PG0001\r", "READY\r");
    link.answer("S1\r", "BC\r");
    start(UpdateMachine::Kind::Network, {"S1"});
    run();
    EXPECT_EQ(link.sends().mid(link.sends().size() - 3), (QList<QByteArray>{"DE\r", "\r", "EC\r"}));
    EXPECT_TRUE(logged(QStringLiteral(" Lantronix Update Failed ")));
    EXPECT_EQ(record().state, state::Error);
    EXPECT_EQ(record().phase, 0);
}

} // namespace
