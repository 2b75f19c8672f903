#include "arx_testpage.h"

namespace {

const QByteArray kChange = arxBytes({0x06, 0xFE});
const QByteArray kLevel = arxBytes({'3', 0xFE});
const QByteArray kNew("NEWPASS\xFE");

class ArxPasswordTest : public ArxPageTest {
protected:
    void startChange()
    {
        connectUnit(); // the rules of the log-in are dropped here
        tick(); // one poll tick, so the interval saved is the polling one
        link.takeSent();
        session().setNewPassword("newpass");
        page->startPasswordChange();
        ASSERT_EQ(record().phase, 5);
        ASSERT_EQ(record().passwordStep, 0);
    }
    bool runUntilPolling(int limit = 80)
    {
        for (int i = 0; i < limit && record().phase == 5; ++i)
            tick();
        return record().phase == 4;
    }
};

TEST_F(ArxPasswordTest, ChangeRunsTheWholeDialogue)
{
    startChange();
    link.answer(kChange, "ENTER PASSWORD LEVEL\r\n");
    link.answer(kLevel, "ENTER NEW PASSWORD\r\n");
    link.answerInTurn(kNew, {"VERIFY PASSWORD\r\n", "PASSWORD CHANGED\r\n"});
    tick();
    EXPECT_EQ(record().state, state::Password);
    EXPECT_EQ(record().savedInterval, 50);
    ASSERT_TRUE(runUntilPolling());
    const QList<QByteArray> expected = {arxBytes({0x03, 0xFE}), kChange, kLevel, kNew, kNew, arxBytes({0x04, 0xFE})};
    EXPECT_EQ(link.sends(), expected);
    EXPECT_TRUE(logged(QStringLiteral(" ARX Succesful Password Change"), LogLevel::Status));
    EXPECT_EQ(page->interval(), 50);
    // Stays "Password " until the next frame; the stored log-in password is untouched.
    EXPECT_EQ(record().state, state::Password);
    EXPECT_EQ(page->settings().password, QStringLiteral("SECRET"));
}

TEST_F(ArxPasswordTest, OperatorIsRefusedAndPollingResumes)
{
    startChange();
    link.answer(kChange, "MUST BE A VALID SUPERVISOR\r\n");
    ASSERT_TRUE(runUntilPolling());
    EXPECT_TRUE(logged(QStringLiteral(" Must be VAILD SUPERVISOR to change password")));
    EXPECT_EQ(link.sends().last(), arxBytes({0x04, 0xFE}));
    EXPECT_FALSE(link.sends().contains(kLevel));
}

TEST_F(ArxPasswordTest, SilentUnitIsAskedAgainAfterFiveTicksAndFailsAfterEleven)
{
    startChange();
    ticks(2); // wake, then 06 FE
    EXPECT_EQ(link.takeSent(), arxBytes({0x03, 0xFE, 0x06, 0xFE}));
    EXPECT_EQ(page->interval(), 1000);
    ticks(4);
    EXPECT_TRUE(link.sent().isEmpty());
    tick(); // 5: FE, back to step 1
    tick(); // step 1 sends 06 FE again
    EXPECT_EQ(link.takeSent(), arxBytes({0xFE, 0x06, 0xFE}));
    ticks(5); // 10
    EXPECT_EQ(record().phase, 5);
    tick(); // 11
    EXPECT_EQ(record().phase, 0);
    EXPECT_EQ(record().state, state::Error);
    EXPECT_EQ(link.takeSent(), arxBytes({0xFE, 0x02, 0xFE}));
    EXPECT_TRUE(logged(QStringLiteral(" ARX Hardware not responding check settings ")));
}

TEST_F(ArxPasswordTest, ChangedInTheFifthTickIsNotSentAThirdTime)
{
    startChange();
    link.answer(kChange, "PASSWORD LEVEL\r\n");
    link.answer(kLevel, "NEW\r\n");
    link.answerInTurn(kNew, {"VERIFY\r\n"});
    for (int i = 0; i < 40 && record().passwordStep != 8; ++i)
        tick();
    ASSERT_EQ(record().passwordStep, 8);
    link.queue("CHANGED\r\n", 5);
    ASSERT_TRUE(runUntilPolling());
    EXPECT_EQ(link.sends().count(kNew), 2);
    EXPECT_TRUE(logged(QStringLiteral(" ARX Succesful Password Change"), LogLevel::Status));
}

TEST_F(ArxPasswordTest, ZeroByteInAReplyReadsAsX)
{
    startChange();
    link.answer(kChange, QByteArray("PASS\0WORD LEVEL\r\n", 17));
    ticks(3);
    EXPECT_EQ(record().lastReply, QByteArray("PASSXWORD LEVEL"));
    EXPECT_EQ(record().passwordStep, 2); // not the words looked for
}

TEST_F(ArxPageTest, PasswordChangeNeedsAnOpenLink)
{
    session().setNewPassword("X");
    page->startPasswordChange();
    EXPECT_EQ(record().phase, 0);
    connectUnit();
    page->disconnectButton();
    page->startPasswordChange();
    EXPECT_EQ(record().phase, 0);
}

} // namespace
