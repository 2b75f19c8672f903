#include "arx_testpage.h"

namespace {

const QByteArray kChange = bytes({0x06, 0xFE});
const QByteArray kLevel = bytes({'3', 0xFE});
const QByteArray kNew("NEWPASS\xFE");

class ArxPasswordTest : public ArxPageTest {
protected:
    void startChange()
    {
        connectUnit();
        tick(); // a poll tick: the saved interval is the polling one
        link.takeSent();
        session().setNewPassword("newpass");
        page->startPasswordChange();
        ASSERT_EQ(record().phase, 5);
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
    tickWhile(5);
    ASSERT_EQ(record().phase, 4);
    const QList<QByteArray> expected = {bytes({0x03, 0xFE}), kChange, kLevel, kNew, kNew, bytes({0x04, 0xFE})};
    EXPECT_EQ(link.sends(), expected);
    EXPECT_TRUE(logged(QStringLiteral(" ARX Succesful Password Change"), LogLevel::Status));
    EXPECT_EQ(page->interval(), 50);
    EXPECT_EQ(page->settings().password, QStringLiteral("SECRET"));
}

TEST_F(ArxPasswordTest, OperatorIsRefusedAndPollingResumes)
{
    startChange();
    link.answer(kChange, "MUST BE A VALID SUPERVISOR\r\n");
    tickWhile(5);
    EXPECT_EQ(record().phase, 4);
    EXPECT_TRUE(logged(QStringLiteral(" Must be VAILD SUPERVISOR to change password")));
    EXPECT_EQ(link.sends().last(), bytes({0x04, 0xFE}));
}

TEST_F(ArxPasswordTest, SilentUnitIsAskedAgainAtFiveAndFailsAtEleven)
{
    startChange();
    ticks(2);
    EXPECT_EQ(link.takeSent(), bytes({0x03, 0xFE, 0x06, 0xFE}));
    ticks(4);
    EXPECT_TRUE(link.sent().isEmpty());
    ticks(2); // 5: FE, then 06 FE again
    EXPECT_EQ(link.takeSent(), bytes({0xFE, 0x06, 0xFE}));
    ticks(5);
    EXPECT_EQ(record().phase, 5);
    tick(); // 11
    EXPECT_EQ(record().phase, 0);
    EXPECT_EQ(link.takeSent(), bytes({0xFE, 0x02, 0xFE}));
    EXPECT_TRUE(logged(QStringLiteral(" ARX Hardware not responding check settings ")));
}

TEST_F(ArxPasswordTest, ChangedInTheFifthTickEndsWithoutAThirdSend)
{
    startChange();
    link.answer(kChange, "PASSWORD LEVEL\r\n");
    link.answer(kLevel, "NEW\r\n");
    link.answerInTurn(kNew, {"VERIFY\r\n"});
    for (int i = 0; i < 40 && record().passwordStep != 8; ++i)
        tick();
    link.queue("CHANGED\r\n", 5);
    tickWhile(5);
    EXPECT_EQ(record().phase, 4);
    EXPECT_EQ(link.sends().count(kNew), 2);
}

TEST_F(ArxPageTest, PasswordChangeNeedsAnOpenLink)
{
    page->startPasswordChange();
    EXPECT_EQ(record().phase, 0);
}

} // namespace
