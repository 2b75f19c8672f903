// The detect machine of the line session, HD and KF-71, step by step.
#include "hd_testpage.h"

#include "protocols/hd/hddecoder.h"

namespace {

using Phase = LineSession::Phase;

class HdDetectTest : public LinePageTest {
protected:
    // Phase 1, steps 0 and 1: "SC" is out.
    void openToPrompt()
    {
        page->openLink();
        ticks(3);
        ASSERT_EQ(record().detectStep, 2);
        link.takeSent();
    }
};

TEST_F(HdDetectTest, Kh71WithLcdLogsInIdentifiesAndStreams)
{
    const QByteArray ident = "KH-71 LCD(B) SW(01.23 04.56) SN(123456) LAN(6.5.0.0)";
    scriptLogin(ident);
    page->openLink();
    ticks(2);
    EXPECT_EQ(page->interval(), 1000);
    EXPECT_EQ(record().state, state::Connecting);
    tickWhile(Phase::Detect);
    ASSERT_EQ(record().phase, Phase::Polling);
    const QList<QByteArray> expected = {"HD\r", "SC\r", "SECRET\r", "UI\r", "SD\r"};
    EXPECT_EQ(link.sends(), expected);
    EXPECT_EQ(page->interval(), 50);
    EXPECT_EQ(record().state, state::Data);
    EXPECT_FALSE(record().viaRelay);
    EXPECT_EQ(session().accessLevel(), 3);
    const LineIdentity &id = session().identity();
    EXPECT_EQ(id.model, 1);
    EXPECT_TRUE(id.hasLcd);
    EXPECT_EQ(id.lcdType, 11);
    EXPECT_EQ(id.serial, QByteArray("123456"));
    EXPECT_EQ(id.software[0], QByteArray("01.23"));
    EXPECT_EQ(id.software[1], QByteArray("04.56"));
    EXPECT_EQ(id.lanVersion, QByteArray("6.5.0.0"));
    EXPECT_EQ(page->identLine(), ident); // what a relay client's "UI" gets
    EXPECT_EQ(page->hardwareRows(), (QList<HardwareRow>{{" HD System  ", " KH-71 ", "N/A", "123456"}}));
    EXPECT_TRUE(page->updateEnabled());
    EXPECT_TRUE(logged(QStringLiteral(" HD Succesful Connection"), LogLevel::Status));
    EXPECT_TRUE(static_cast<const HdDecoder *>(session().decoder())->firstStatusPending());
}

TEST_F(HdDetectTest, Kh71WithoutLcdStopsBeforeTheStreamAndAsksForAnUpdate)
{
    scriptLogin("KH-71 SW(1.2.3.4) SN(654321)");
    page->openLink();
    tickWhile(Phase::WaitLink);
    tickWhile(Phase::Detect);
    EXPECT_EQ(record().phase, Phase::Idle);
    EXPECT_EQ(record().state, state::Connecting);
    EXPECT_FALSE(link.sends().contains("SD\r"));
    EXPECT_TRUE(session().updateDialogNeeded());
    EXPECT_TRUE(page->updateEnabled());
    EXPECT_FALSE(session().identity().hasLcd);
    EXPECT_EQ(session().identity().software[0], QByteArray());
    EXPECT_EQ(session().identity().software[1], QByteArray("1.2.3.4"));
    EXPECT_EQ(page->hardwareRows().at(0).serial, QStringLiteral("654321"));
    EXPECT_TRUE(logged(QStringLiteral(" HD Succesful Connection"), LogLevel::Status));
    ticks(5);
    EXPECT_EQ(link.sends().last(), QByteArray("UI\r"));
}

TEST_F(HdDetectTest, Kh72IsPolledAndKeepsItsWholeLine)
{
    connectUnit("KH-72 V2.0 SN(777777)");
    EXPECT_EQ(session().identity().model, 2);
    EXPECT_EQ(session().identity().modelText, QByteArray("KH-72 V2.0 SN(777777)"));
    EXPECT_EQ(page->hardwareRows(), (QList<HardwareRow>{{" HD System  ", "N/A", "N/A", "N/A"}}));
}

TEST_F(HdDetectTest, RelayServersArePromptedWithTheirOwnWords)
{
    connectUnit("KH-72", "SPASSWORD\r");
    EXPECT_TRUE(record().viaRelay);
    EXPECT_FALSE(page->updateEnabled());

    link.answer("SC\r", "SVALID SUPERVISOR\r");
    link.answer("UI\r", "KH-72\r");
    page->closeLink();
    page->openLink();
    tickWhile(Phase::WaitLink);
    tickWhile(Phase::Detect);
    EXPECT_EQ(record().phase, Phase::Polling);
    EXPECT_TRUE(record().viaRelay);
    EXPECT_FALSE(link.sends().contains("SPSECRET\r"));
    EXPECT_EQ(session().accessLevel(), 3);
}

TEST_F(HdDetectTest, LevelAnswersCountOnceTheirLineEnds)
{
    const struct {
        QByteArray answer;
        int level;
        bool readOnly;
    } cases[] = {{"OBSERVER\r", 1, true}, {"OPERATOR\r", 2, false}, {"SUPERVISOR\r", 3, false}};
    for (const auto &c : cases) {
        link.clearRules();
        link.answer("SC\r", "PASSWORD\r");
        openToPrompt();
        link.queue(c.answer.chopped(1), 2);
        ticks(3);
        EXPECT_EQ(record().detectStep, 3) << "no CR yet";
        link.queue("\r", 0);
        tick();
        EXPECT_EQ(record().detectStep, 4);
        EXPECT_EQ(page->interval(), 100);
        EXPECT_EQ(session().accessLevel(), c.level);
        EXPECT_EQ(session().readOnly(), c.readOnly);
    }
}

// Each failure: its message once, state "Error", CR and "EC" to the unit.
TEST_F(HdDetectTest, FailuresEndTheUnitSessionWithTheirMessage)
{
    const struct {
        QByteArray prompt, level;
        int ticksToFail;
        const char *message;
    } cases[] = {
        {"PASSWORD\r", "INVAILD PASSWORD\r", 1, " HD INVAILD PASSWORD             "},
        // A relay server's refusal holds none of the tested words: it times out.
        {"SPASSWORD\r", "INVALID PASSWORD\r", 11, " HD password verification failed "},
        {"PASSWORD\r", "", 11, " HD password verification failed "},
    };
    for (const auto &c : cases) {
        log.clear();
        link.clearRules();
        link.answer("SC\r", c.prompt);
        link.answer(c.prompt.startsWith('S') ? "SPSECRET\r" : "SECRET\r", c.level);
        openToPrompt();
        tick(); // the prompt
        link.takeSent();
        ticks(c.ticksToFail);
        EXPECT_EQ(record().phase, Phase::Idle) << c.message;
        EXPECT_EQ(record().state, state::Error);
        EXPECT_EQ(link.takeSent(), QByteArray("\rEC\r"));
        EXPECT_TRUE(logged(QString::fromLatin1(c.message))) << c.message;
        EXPECT_EQ(errorCount(), 1);
    }
}

TEST_F(HdDetectTest, SilentUnitIsAskedAgainAtTick25AndGivenUpAt31)
{
    openToPrompt();
    ticks(24);
    EXPECT_TRUE(link.sent().isEmpty());
    tick();
    EXPECT_EQ(link.takeSent(), QByteArray("\rSC\r"));
    ticks(5);
    EXPECT_EQ(record().phase, Phase::Detect);
    tick();
    EXPECT_EQ(record().phase, Phase::Idle);
    EXPECT_EQ(link.takeSent(), QByteArray("\rEC\r"));
    EXPECT_TRUE(logged(QStringLiteral(" HD Hardware not responding check settings ")));
}

TEST_F(HdDetectTest, AnswerInTheTwentyFifthTickIsTakenWithoutAskingAgain)
{
    openToPrompt();
    link.queue("VALID\r", 25);
    ticks(25);
    EXPECT_EQ(record().detectStep, 4);
    EXPECT_TRUE(link.sent().isEmpty());
    EXPECT_EQ(page->interval(), 100);
}

TEST_F(HdDetectTest, UnitWithoutIdentificationIsAskedAgainThenGivenUp)
{
    link.answer("SC\r", "VALID\r");
    link.answer("UI\r", "KX-99\r"); // a line, but no model of this family
    openToPrompt();
    ticks(2);
    ASSERT_EQ(record().detectStep, 5);
    link.takeSent();
    ticks(25);
    EXPECT_EQ(link.takeSent(), QByteArray("\rUI\r"));
    ticks(25);
    EXPECT_EQ(record().phase, Phase::Detect);
    tick();
    EXPECT_EQ(record().phase, Phase::Idle);
    EXPECT_TRUE(logged(QStringLiteral(" HD hardware not responding")));
}

// --- KF-71 ---------------------------------------------------------------------------

class Kf71DetectTest : public HdDetectTest {
protected:
    void SetUp() override { makePage(hardware::Kf71); }
};

TEST_F(Kf71DetectTest, ValidAloneIsIgnoredAndTimesOut)
{
    link.answer("SC\r", "VALID\r");
    openToPrompt();
    ticks(30);
    EXPECT_EQ(record().phase, Phase::Detect);
    tick();
    EXPECT_EQ(record().phase, Phase::Idle);
    EXPECT_TRUE(logged(QStringLiteral(" KF71 Hardware not responding check settings ")));
}

TEST_F(Kf71DetectTest, IdentifiedUnitStreamsAndShowsItsOption)
{
    link.answer("SC\r", "VALID SUPERVISOR\r");
    link.answer("UI\r", "KF-71 OPT(0) SW(02.10 03.20) SN(424242) LAN(6.6.0.1)\r");
    page->openLink();
    tickWhile(Phase::WaitLink);
    tickWhile(Phase::Detect);
    ASSERT_EQ(record().phase, Phase::Polling);
    EXPECT_TRUE(link.sends().contains("SD\r"));
    EXPECT_TRUE(logged(QStringLiteral(" KF71 Succesful Connection"), LogLevel::Status));
    EXPECT_EQ(page->hardwareThirdColumn(), QStringLiteral("Option"));
    EXPECT_EQ(page->hardwareRows(), (QList<HardwareRow>{{" KF-71 System ", "KF-71", "Basic", "424242"}}));
    EXPECT_EQ(session().identity().software[1], QByteArray("03.20"));
    EXPECT_EQ(session().identity().lanVersion, QByteArray("6.6.0.1"));
    EXPECT_EQ(page->identLine(), QByteArray("KF-71 OPT(0) SW(02.10 03.20) SN(424242) LAN(6.6.0.1)"));
}

TEST(Kf71Identity, OptionIsBasicOnlyForAZeroAfterItsMarker)
{
    const struct {
        QByteArray line;
        const char *option;
    } cases[] = {{"KF-71 OPT(1)", "Complete"}, {"KF-71 OPT(0)", "Basic"}, {"KF-71", "Complete"},
                 // Without "OPT(" the fourth character decides, as the unit's software did.
                 {"KF-0 KF-71", "Basic"}};
    for (const auto &c : cases) {
        LineIdentity id;
        quint32 units = 0;
        linefamily::kf71().identify(c.line, id, units);
        EXPECT_EQ(id.option, QByteArray(c.option)) << c.line.constData();
    }
}

} // namespace
