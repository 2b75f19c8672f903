// The detect machine of the line session, HD and KF-71, step by step.
#include "hd_testpage.h"

#include "protocols/hd/hddecoder.h"

namespace {

using LineDetectTest = LinePageTest;

TEST_F(LineDetectTest, Kh71WithLcdLogsInIdentifiesAndStreams)
{
    const QByteArray ident = "KH-71 LCD(B) SW(01.23 04.56) SN(123456) LAN(6.5.0.0)";
    link.answer("SC\r", "PASSWORD\r");
    link.answer("SECRET\r", "SUPERVISOR\r");
    link.answer("UI\r", ident + '\r');
    page->openLink();
    ticks(2);
    EXPECT_EQ(page->interval(), 1000);
    EXPECT_EQ(record().state, state::Connecting);
    tickWhile(Phase::Detect);
    ASSERT_EQ(record().phase, Phase::Polling);
    EXPECT_EQ(link.sends(), (QList<QByteArray>{"HD\r", "SC\r", "SECRET\r", "UI\r", "SD\r"}));
    EXPECT_EQ(page->interval(), 50);
    EXPECT_EQ(record().state, state::Data);
    EXPECT_FALSE(record().viaRelay);
    const LineIdentity &id = session().identity();
    EXPECT_EQ(id.lcdType, 11);
    EXPECT_EQ(id.software[0] + '/' + id.software[1] + '/' + id.lanVersion, QByteArray("01.23/04.56/6.5.0.0"));
    EXPECT_EQ(page->identLine(), ident); // what a relay client's "UI" gets
    EXPECT_EQ(page->hardwareRows(), (QList<HardwareRow>{{" HD System  ", " KH-71 ", "N/A", "123456"}}));
    EXPECT_TRUE(page->updateEnabled());
    EXPECT_EQ(count(QStringLiteral(" HD Succesful Connection"), LogLevel::Status), 1);
    EXPECT_TRUE(static_cast<const HdDecoder *>(session().decoder())->firstStatusPending());
}

TEST_F(LineDetectTest, Kh71WithoutLcdStopsBeforeTheStreamAndAsksForAnUpdate)
{
    link.answer("SC\r", "VALID\r");
    link.answer("UI\r", "KH-71 SW(1.2.3.4) SN(654321)\r");
    page->openLink();
    tickWhile(Phase::WaitLink);
    tickWhile(Phase::Detect);
    EXPECT_EQ(record().phase, Phase::Idle);
    EXPECT_EQ(record().state, state::Connecting);
    EXPECT_FALSE(link.sends().contains("SD\r"));
    EXPECT_TRUE(session().updateDialogNeeded());
    EXPECT_TRUE(page->updateEnabled());
    EXPECT_EQ(session().identity().software[1], QByteArray("1.2.3.4"));
    EXPECT_EQ(page->hardwareRows().at(0).serial, QStringLiteral("654321"));
}

TEST_F(LineDetectTest, RelayServerPromptsWithItsOwnWordsAndKh72KeepsItsLine)
{
    connectUnit("KH-72 V2.0", "SPASSWORD\r");
    EXPECT_TRUE(record().viaRelay);
    EXPECT_FALSE(page->updateEnabled());
    EXPECT_EQ(session().identity().modelText, QByteArray("KH-72 V2.0"));
    EXPECT_EQ(page->hardwareRows(), (QList<HardwareRow>{{" HD System  ", "N/A", "N/A", "N/A"}}));

    page->closeLink();
    connectUnit("KH-72", "SVALID SUPERVISOR\r");
    EXPECT_TRUE(record().viaRelay);
    EXPECT_EQ(session().accessLevel(), 3);
}

TEST_F(LineDetectTest, LevelAnswersCountOnceTheirLineEnds)
{
    const struct {
        QByteArray answer;
        int level;
        bool readOnly;
    } cases[] = {{"OBSERVER", 1, true}, {"OPERATOR", 2, false}, {"SUPERVISOR", 3, false}};
    link.answer("SC\r", "PASSWORD\r");
    for (const auto &c : cases) {
        openToPrompt();
        link.queue(c.answer, 2);
        ticks(3);
        EXPECT_EQ(record().detectStep, 3) << "no CR yet";
        link.queue("\r", 0);
        ticks();
        EXPECT_EQ(record().detectStep, 4);
        EXPECT_EQ(page->interval(), 100);
        EXPECT_EQ(session().accessLevel(), c.level);
        EXPECT_EQ(session().readOnly(), c.readOnly);
    }
}

// Each failure comes after its exact number of ticks from "SC": its message
// once, state "Error", CR and "EC" to the unit.
TEST_F(LineDetectTest, FailuresEndTheUnitSessionWithTheirMessage)
{
    const struct {
        int hardwareType;
        QByteArray prompt, level, ident;
        int ticks;
        const char *askedAgain, *message;
    } cases[] = {
        {hardware::Hd, "PASSWORD\r", "INVAILD PASSWORD\r", "", 2, "", " HD INVAILD PASSWORD             "},
        // A relay server's refusal holds none of the tested words: it times out.
        {hardware::Hd, "SPASSWORD\r", "INVALID PASSWORD\r", "", 12, "", " HD password verification failed "},
        {hardware::Hd, "", "", "", 31, "\rSC\r", " HD Hardware not responding check settings "},
        {hardware::Hd, "VALID\r", "", "KX-99\r", 53, "\rUI\r", " HD hardware not responding"},
        // "VALID" alone does not accept a KF-71 session.
        {hardware::Kf71, "VALID\r", "", "", 31, "\rSC\r", " KF71 Hardware not responding check settings "},
        {hardware::Kf71, "PASSWORD\r", "INVAILD\r", "", 2, "", " KF71 INVAILD PASSWORD             "},
    };
    for (const auto &c : cases) {
        makePage(c.hardwareType);
        log.clear();
        link.clearRules();
        link.answer("SC\r", c.prompt);
        link.answer(c.prompt.startsWith('S') ? "SPSECRET\r" : "SECRET\r", c.level);
        link.answer("UI\r", c.ident);
        openToPrompt();
        ticks(c.ticks - 1);
        EXPECT_EQ(record().phase, Phase::Detect) << c.message;
        EXPECT_TRUE(link.sent().contains(c.askedAgain)) << c.message;
        link.takeSent();
        ticks();
        EXPECT_EQ(record().phase, Phase::Idle) << c.message;
        EXPECT_EQ(record().state, state::Error);
        EXPECT_EQ(link.takeSent(), QByteArray("\rEC\r"));
        EXPECT_EQ(count(QString::fromLatin1(c.message)), 1) << c.message;
    }
}

TEST_F(LineDetectTest, AnswerInTheTwentyFifthTickIsTakenWithoutAskingAgain)
{
    openToPrompt();
    link.queue("VALID\r", 25);
    ticks(25);
    EXPECT_EQ(record().detectStep, 4);
    EXPECT_TRUE(link.sent().isEmpty());
    EXPECT_EQ(page->interval(), 100);
}

TEST_F(LineDetectTest, Kf71IsIdentifiedWithItsOption)
{
    makePage(hardware::Kf71);
    connectUnit("KF-71 OPT(0) SW(02.10 03.20) SN(424242) LAN(6.6.0.1)", "VALID SUPERVISOR\r");
    EXPECT_EQ(count(QStringLiteral(" KF71 Succesful Connection"), LogLevel::Status), 1);
    EXPECT_EQ(page->hardwareThirdColumn(), QStringLiteral("Option"));
    EXPECT_EQ(page->hardwareRows(), (QList<HardwareRow>{{" KF-71 System ", "KF-71", "Basic", "424242"}}));
    EXPECT_EQ(session().identity().software[1] + '/' + session().identity().lanVersion, QByteArray("03.20/6.6.0.1"));

    const struct {
        QByteArray line;
        const char *option;
    } cases[] = {{"KF-71 OPT(1)", "Complete"}, {"KF-71", "Complete"},
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
