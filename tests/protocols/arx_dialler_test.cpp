#include "arx_testpage.h"

#include "protocols/arx/modemdialler.h"

namespace {

const QList<QByteArray> kCommands = {
    "ATZ", "ATE1", "ATV1", "ATQ0", "ATL2", "AT&C1", "AT&D3", "ATs2=43", "ATS8=2", "ATM1", "ATDT5551234",
};

class ArxDiallerTest : public ArxPageTest {
protected:
    int connectionType() const override { return connection::Modem; }

    // Phase 1, steps 0, 1 and 2: the first command goes out on the next tick.
    void openToFirstCommand()
    {
        page->openLink();
        tick();
        ASSERT_EQ(record().phase, 2);
        tick();
        EXPECT_EQ(link.takeSent(), arxBytes({0x02, 0xFE}));
        EXPECT_EQ(record().state, state::Initializing);
        EXPECT_EQ(page->interval(), 250);
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
    tick(); // 16
    tick(); // step 3 again
    EXPECT_EQ(link.takeSent(), QByteArray("ATZ\r"));
    ticks(14); // 30
    EXPECT_EQ(record().phase, 2);
    EXPECT_EQ(errorCount(), 0);
    tick(); // 31
    EXPECT_EQ(record().phase, 0);
    EXPECT_EQ(record().state, state::Error);
    EXPECT_TRUE(logged(QStringLiteral(" MODEM not responding check settings ")));
    ticks(3);
    EXPECT_EQ(errorCount(), 1);
    EXPECT_TRUE(link.sent().isEmpty());
}

TEST_F(ArxDiallerTest, EchoOnlyModemIsWalkedThroughEveryCommand)
{
    for (const QByteArray &c : kCommands)
        link.answer(c + '\r', c + '\r');
    link.answer(QByteArray("ATDT5551234\r"), QByteArray("CONNECT 2400\r\n"), 3);
    openToFirstCommand();
    bool sawDialing = false;
    for (int i = 0; i < 60 && record().phase == 2; ++i) {
        tick();
        sawDialing |= record().state == state::Dialing;
    }
    EXPECT_TRUE(sawDialing);
    EXPECT_EQ(record().phase, 3);
    EXPECT_EQ(record().detectStep, 0);
    EXPECT_EQ(page->interval(), 50);
    QList<QByteArray> expected;
    for (const QByteArray &c : kCommands)
        expected << c + '\r';
    EXPECT_EQ(link.sends(), expected);
    // The detect machine follows on the modem line.
    tick();
    EXPECT_EQ(link.sends().last(), arxBytes({0x03, 0xFE}));
}

TEST_F(ArxDiallerTest, ErrorCountsAsAnAnswerAndOtherReportsDoNotEndTheWait)
{
    for (const QByteArray &c : kCommands.mid(0, 10))
        link.answer(c + '\r', QByteArray("\r\nERROR\r\n"));
    link.answer(QByteArray("ATDT5551234\r"), QByteArray("OK\r\nBUSY\r\n"));
    openToFirstCommand();
    for (int i = 0; i < 30 && record().dialStep != 5; ++i)
        tick();
    ASSERT_EQ(record().dialStep, 5);
    EXPECT_EQ(link.sends().size(), 11);
    link.queue("NO CARRIER\r\n");
    ticks(240);
    EXPECT_EQ(record().phase, 2);
    tick();
    EXPECT_EQ(record().phase, 0);
    EXPECT_EQ(record().state, state::Error);
    EXPECT_TRUE(logged(QStringLiteral(" Remote MODEM not responding check settings")));
}

TEST(ModemDiallerCommands, EmptyPhoneNumberDialsAtdtAlone)
{
    EXPECT_EQ(ModemDialler::command(10, QByteArray()), QByteArray("ATDT"));
    EXPECT_EQ(ModemDialler::command(7, QByteArray()), QByteArray("ATs2=43"));
    EXPECT_TRUE(ModemDialler::command(11, QByteArray()).isEmpty());
}

} // namespace
