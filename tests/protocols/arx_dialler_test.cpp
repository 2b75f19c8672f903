#include "arx_testpage.h"

namespace {

class ArxDiallerTest : public ArxPageTest {
protected:
    int connectionType() const override { return connection::Modem; }

    // Phase 1 and steps 0-2: the first command goes out on the next tick.
    void openToFirstCommand()
    {
        page->openLink();
        ticks(2);
        EXPECT_EQ(link.takeSent(), bytes({0x02, 0xFE}));
        EXPECT_EQ(record().state, state::Initializing);
        tick();
        EXPECT_EQ(page->interval(), 1000);
        tick();
        ASSERT_EQ(record().dialStep, 3);
    }
};

TEST_F(ArxDiallerTest, SilentModemGetsOneResendAt16AndFailsAt31)
{
    openToFirstCommand();
    tick();
    EXPECT_EQ(link.takeSent(), QByteArray("ATZ\r"));
    EXPECT_EQ(page->interval(), 250);
    ticks(15);
    EXPECT_TRUE(link.sent().isEmpty());
    ticks(2); // 16, then the command again
    EXPECT_EQ(link.takeSent(), QByteArray("ATZ\r"));
    ticks(14); // 30
    EXPECT_EQ(record().phase, 2);
    tick();
    EXPECT_EQ(record().phase, 0);
    EXPECT_EQ(record().state, state::Error);
    EXPECT_TRUE(logged(QStringLiteral(" MODEM not responding check settings ")));
}

TEST_F(ArxDiallerTest, EchoOnlyModemIsWalkedThroughEveryCommand)
{
    const QList<QByteArray> commands = {"ATZ\r",  "ATE1\r",    "ATV1\r",   "ATQ0\r", "ATL2\r",       "AT&C1\r",
                                        "AT&D3\r", "ATs2=43\r", "ATS8=2\r", "ATM1\r", "ATDT5551234\r"};
    for (const QByteArray &c : commands)
        link.answer(c, c);
    openToFirstCommand();
    for (int i = 0; i < 40 && record().dialStep != 5; ++i)
        tick();
    EXPECT_EQ(record().state, state::Dialing);
    EXPECT_EQ(link.sends(), commands);

    // Only CONNECT ends the wait for the far modem.
    link.queue("BUSY\r\n");
    link.queue("CONNECT 2400\r\n", 30);
    ticks(29);
    EXPECT_EQ(record().dialStep, 5);
    ticks(2);
    EXPECT_EQ(record().phase, 3);
    EXPECT_EQ(record().detectStep, 0);
    EXPECT_EQ(page->interval(), 50);
}

TEST_F(ArxDiallerTest, FarModemSilentFor240TicksFails)
{
    for (const char *c : {"ATZ\r", "ATE1\r", "ATV1\r", "ATQ0\r", "ATL2\r", "AT&C1\r", "AT&D3\r", "ATs2=43\r",
                          "ATS8=2\r", "ATM1\r", "ATDT5551234\r"})
        link.answer(c, "\r\nERROR\r\n"); // taken like OK
    openToFirstCommand();
    for (int i = 0; i < 40 && record().dialStep != 5; ++i)
        tick();
    ticks(240);
    EXPECT_EQ(record().phase, 2);
    tick();
    EXPECT_EQ(record().phase, 0);
    EXPECT_TRUE(logged(QStringLiteral(" Remote MODEM not responding check settings")));
}

} // namespace
