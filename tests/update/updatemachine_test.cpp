// The update machines step by step, on a scripted loader and a fake clock.
#include "updatetestpage.h"

#include "connection/connectionsettings.h"
#include "core/messagelog.h"

namespace {

using Kind = UpdateMachine::Kind;

const QList<QByteArray> kLines{"S1130000AA", "S1130010BB", "S9030000FC"};

// Replies of the unit's work after "EF\r", each `ticks` after it.
void scriptWork(ScriptedLink &link, const QList<std::pair<int, const char *>> &replies)
{
    for (const auto &[ticks, text] : replies)
        link.answer("EF\r", text, ticks);
}

const QList<std::pair<int, const char *>> kKh71Work{
    {2, "ERASE\r"},  {4, "PASS\r"},  {7, "FLASH\r"}, {9, "PASS\r"},  {12, "VERIFY\r"},
    {14, "PASS\r"},  {17, "MICRO\r"}, {19, "PASS\r"}, {22, "MICRO\r"}, {24, "PASS\r"}, {28, "SUCCESS\r"}};

class UpdateMachineTest : public UpdatePageTest {};

TEST_F(UpdateMachineTest, Kh71RunsEveryStepAndReconnects)
{
    link.answerInTurn("PG0003\r", {"REA"}, 1);
    link.answer("PG0003\r", "DY\r", 3); // READY in two pieces
    acceptLines(kLines);
    scriptWork(link, kKh71Work);
    start(Kind::Kh71, kLines);
    tick();
    EXPECT_EQ(record().state, state::Updating);
    EXPECT_EQ(page->interval(), 125);
    run();

    EXPECT_EQ(steps, (QList<int>{1, 2, 3, 4, 5, 4, 5, 4, 5, 4, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}));
    EXPECT_EQ(link.sends().mid(0, 6), (QList<QByteArray>{"HD\r", "PG0003\r", "S1130000AA\r", "S1130010BB\r",
                                                           "S9030000FC\r", "EF\r"}));
    EXPECT_EQ(statuses, (QStringList{"Downloading Program ", "Erasing EEPROM     ", "Flashing EEPROM     ",
                                     "Verifying EEPROM    ", "Updating Micro#1   ", "Updating Micro#2   ",
                                     "Resetting Unit   "}));
    EXPECT_EQ(results, QList<bool>{true});
    EXPECT_EQ(machine().progress(), 100);
    EXPECT_TRUE(logged(QStringLiteral(" EEPROM Update Succesful ")));
    EXPECT_NE(record().phase, UpdateMachine::kEepromPhase); // the page reconnects
}

TEST_F(UpdateMachineTest, Kf71HasOneMicroAndKeepsItsTimerUntilTheDownload)
{
    page->setInterval(50);
    link.answer("PG0003\r", "READY\r");
    acceptLines(kLines);
    scriptWork(link, {{2, "ERASE\r"}, {4, "PASS\r"}, {7, "FLASH\r"}, {9, "PASS\r"}, {12, "VERIFY\r"},
                      {14, "PASS\r"}, {17, "MICRO\r"}, {19, "PASS\r"}, {23, "SUCCESS\r"}});
    start(Kind::Kf71, kLines);
    tick();
    EXPECT_EQ(page->interval(), 50);
    run();
    EXPECT_EQ(steps.mid(steps.indexOf(12)), (QList<int>{12, 13, 14, 15, 16}));
    EXPECT_TRUE(statuses.contains(QStringLiteral("Updating Micro   ")));
    EXPECT_EQ(results, QList<bool>{true});
}

TEST_F(UpdateMachineTest, HdSendsTheSerialRecordFlashesBySectorAndSavesTheFastRate)
{
    ConnectionSettings s = page->settings();
    s.connectionType = connection::Network; // no port to switch, the rate is kept all the same
    page->setSettings(s);
    link.answer("PG\r", "READY\r");
    const QByteArray serial = "S20800200900040506BF\r";
    acceptLines(kLines);
    link.answer(serial, "GC\r");
    QList<std::pair<int, const char *>> flash;
    static const char *sectors[] = {"FLASH0\r", "FLASH1\r", "FLASH2\r", "FLASH3\r",
                                    "FLASH4\r", "FLASH5\r", "FLASH6\r", "FLASH7\r"};
    for (int i = 0; i < 8; ++i)
        flash.append({2 + i, sectors[i]});
    scriptWork(link, flash);
    QList<int> progress;
    QObject::connect(&machine(), &UpdateMachine::feedbackChanged, [&] { progress << machine().progress(); });
    start(Kind::Hd, kLines, -1, {4, 5, 6});
    while (machine().step() != 9 && machine().running())
        tick();
    EXPECT_EQ(link.sends().mid(1), (QList<QByteArray>{"PG\r", "S1130000AA\r", "S1130010BB\r", "S9030000FC\r",
                                                        serial, "EF\r"}));
    EXPECT_TRUE(machine().badChecksumText().isEmpty());
    EXPECT_EQ(statuses.last(), QStringLiteral("Flashing EEPROM     "));
    ticks(9);
    EXPECT_EQ(progress.last(), 100); // sector 7
    link.queue("DONE\r");
    tick();
    EXPECT_EQ(machine().step(), 16);
    EXPECT_EQ(page->settings().baudIndex, 1);
    ConnectionSettings saved;
    ASSERT_TRUE(connectionsettings::load(base.path(), 1, saved, nullptr));
    EXPECT_EQ(saved.baudIndex, 1);

    tick(); // step 16
    EXPECT_EQ(statuses.last(), QStringLiteral("Resetting and Configuring Unit   "));
    EXPECT_EQ(page->interval(), 100);
    ticks(3001);
    EXPECT_EQ(machine().step(), 18);
    tick();
    EXPECT_EQ(results, QList<bool>{true});
    EXPECT_TRUE(logged(QStringLiteral(" EEPROM Update Succesful ")));
}

// The line hand-shake: repeats, the bad-checksum abort, silence.
TEST_F(UpdateMachineTest, BadChecksumsRepeatTheLineAndTheFourthAborts)
{
    const struct {
        Kind kind;
        int badAnswers;
        bool aborts;
        bool sendsDe;
        const char *failLine;
    } cases[] = {
        {Kind::Kh71, 3, false, false, nullptr},
        {Kind::Kh71, 4, true, true, " Please Close Arxview, and Re-open, and Re-Connect"},
        {Kind::Kf71, 4, true, true, " EEPROM Update Failed "},
        {Kind::Hd, 4, true, false, " EEPROM Update Failed "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(int(c.kind));
        link.clearRules();
        link.takeSent();
        results.clear();
        log.clear();
        page->reconnect();
        link.answer(c.kind == Kind::Hd ? "PG\r" : "PG0001\r", "READY\r");
        QList<QByteArray> answers;
        for (int i = 0; i < c.badAnswers; ++i)
            answers << "BC\r";
        answers << "GC\r";
        link.answerInTurn("S1130000AA\r", answers);
        start(c.kind, {"S1130000AA"});
        while (machine().running() && machine().step() < 6)
            tick();
        EXPECT_EQ(count("S1130000AA\r"), c.aborts ? 4 : 4);
        EXPECT_EQ(link.sends().contains("DE\r"), c.sendsDe);
        if (!c.aborts) {
            EXPECT_EQ(machine().step(), 6);
            // A good answer clears the count but leaves the text as it was.
            EXPECT_EQ(machine().badChecksumText(), QStringLiteral("Bad Checksums:     3"));
            continue;
        }
        EXPECT_EQ(results, QList<bool>{false});
        EXPECT_EQ(errorBox, QStringLiteral("Bad Checksums, File Maybe Corrupt:  /st/DLD/T.DLD"));
        tick(); // the failure step
        EXPECT_FALSE(machine().running());
        EXPECT_EQ(results, QList<bool>{false}); // the dialog is closed once
        EXPECT_EQ(record().state, state::Error);
        EXPECT_EQ(record().phase, 0);
        EXPECT_EQ(page->interval(), 125);
        EXPECT_TRUE(logged(QString::fromLatin1(c.failLine)));
    }
}

TEST_F(UpdateMachineTest, SilentLoaderGetsTheLineAgainThenTimesOut)
{
    link.answer("PG0001\r", "READY\r");
    start(Kind::Kh71, {"S1130000AA"});
    while (machine().step() != 5)
        tick();
    ticks(1499);
    EXPECT_EQ(count("S1130000AA\r"), 1);
    ticks(2); // tick 1500 sends CR, the step after the line again
    EXPECT_EQ(link.sends().mid(link.sends().size() - 2), (QList<QByteArray>{"\r", "S1130000AA\r"}));
    ticks(1501);
    EXPECT_EQ(count("S1130000AA\r"), 3);
    run();
    EXPECT_TRUE(logged(QStringLiteral(" Data Download Timeout ")));
    EXPECT_EQ(machine().tickCount(), 6001);
}

TEST_F(UpdateMachineTest, UnansweredAnnouncementIsRepeatedThenGivenUp)
{
    start(Kind::Kf71, {"S1130000AA"});
    ticks(2 + 119);
    EXPECT_EQ(count("PG0001\r"), 1);
    tick();
    EXPECT_EQ(link.sends().mid(link.sends().size() - 2), (QList<QByteArray>{"\r", "PG0001\r"}));
    run();
    EXPECT_EQ(machine().tickCount(), 241);
    EXPECT_TRUE(logged(QStringLiteral(" Hardware Not Responding")));
    EXPECT_EQ(link.sends().mid(link.sends().size() - 2), (QList<QByteArray>{"\r", "EC\r"}));
}

TEST_F(UpdateMachineTest, FailInAnyReplyIsAFailureAndWaitsTimeOut)
{
    const struct {
        const char *reply;
        const char *message;
    } cases[] = {
        {"ERASE PASS FAIL\r", " Erase EEPROM Failed "},
        {"PASSFAIL\r", " Erase EEPROM Failed "},
        {"ERASE\r", " Erase EEPROM Timeout "},
    };
    for (const auto &c : cases) {
        link.clearRules();
        log.clear();
        page->reconnect();
        link.answer("PG0001\r", "READY\r");
        acceptLines({"S1130000AA"});
        link.answer("EF\r", c.reply, 2);
        start(Kind::Kh71, {"S1130000AA"});
        run();
        EXPECT_TRUE(logged(QString::fromLatin1(c.message))) << c.reply;
        EXPECT_EQ(record().state, state::Error);
    }
    EXPECT_EQ(machine().tickCount(), 481);
}

// A file that ends before the records its first line promised, or whose read
// fails, ends in the failure step: never a flashed half program.
TEST_F(UpdateMachineTest, ShortOrUnreadableFileFails)
{
    link.answer("PG0005\r", "READY\r");
    acceptLines(kLines);
    start(Kind::Kh71, kLines, 5);
    run();
    EXPECT_TRUE(logged(QStringLiteral(" Download File Ends Early: /st/DLD/T.DLD")));
    EXPECT_FALSE(link.sends().contains("EF\r"));
    EXPECT_EQ(results, QList<bool>{false});

    link.clearRules();
    page->reconnect();
    link.answer("PG0003\r", "READY\r");
    acceptLines(kLines);
    machine().start(Kind::Kh71, downloadfile::File(), 3);
    run();
    EXPECT_TRUE(logged(QStringLiteral(" Download File Read Error: ")));
}

TEST_F(UpdateMachineTest, ProgressTexts)
{
    EXPECT_EQ(UpdateMachine::field(0, 6), QStringLiteral("     0"));
    EXPECT_EQ(UpdateMachine::field(123456, 6), QStringLiteral("123456"));
    EXPECT_EQ(UpdateMachine::field(1234567, 6), QStringLiteral("******"));
    EXPECT_EQ(UpdateMachine::field(100000, 5), QStringLiteral("*****"));
    link.answer("PG0002\r", "READY\r");
    start(Kind::Kh71, {"S1", "S2"});
    ticks(5);
    EXPECT_EQ(machine().countText(), QStringLiteral("     1 of      2"));
    EXPECT_EQ(machine().progress(), 50);
    EXPECT_EQ(page->interval(), 10);
}

TEST_F(UpdateMachineTest, AbortRunsTheFailureStepOfTheMachine)
{
    record().phase = 4;
    machine().abort(Kind::Hd);
    EXPECT_EQ(record().phase, UpdateMachine::kEepromPhase);
    tick();
    EXPECT_EQ(link.sends(), (QList<QByteArray>{"\r", "EC\r"}));
    EXPECT_EQ(record().state, state::Error);
    EXPECT_EQ(results, QList<bool>{false});
    EXPECT_FALSE(page->updateEnabled());
}

} // namespace

namespace {

// The HD session runs the machine in its update phases and reconnects after it.
TEST_F(UpdatePageTest, TheLineSessionRunsTheMachines)
{
    link.answer("PG0001\r", "READY\r");
    link.answer("S1\r", "GC\r");
    start(UpdateMachine::Kind::Network, {"S1"});
    for (int i = 0; i < 10 && machine().step() != 7; ++i) {
        link.advance();
        page->tick();
    }
    EXPECT_EQ(link.sends(), (QList<QByteArray>{"PG0001\r", "S1\r", "UL\r"}));
    machine().abort(UpdateMachine::Kind::Kh71);
    page->tick();
    EXPECT_EQ(record().state, state::Error);

    page->openLink();
    link.answer("PG0001\r", "READY\r");
    link.answer("EF\r", "PASS\r", 1);
    link.answer("EF\r", "PASS\r", 3);
    link.answer("EF\r", "PASS\r", 6);
    link.answer("EF\r", "PASS\r", 8);
    link.answer("EF\r", "PASS\r", 11);
    link.answer("EF\r", "PASS\r", 13);
    link.answer("EF\r", "SUCCESS\r", 17);
    start(UpdateMachine::Kind::Kh71, {"S1"});
    for (int i = 0; i < 60 && record().phase == UpdateMachine::kEepromPhase; ++i) {
        link.advance();
        page->tick();
    }
    EXPECT_TRUE(logged(QStringLiteral(" EEPROM Update Succesful ")));
    EXPECT_EQ(record().phase, 6); // the HD connect machine
}

} // namespace
