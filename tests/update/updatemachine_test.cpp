// The update machines step by step, on a scripted loader and a fake clock.
#include "updatetestpage.h"

#include "connection/connectionsettings.h"
#include "core/messagelog.h"

namespace {

using Kind = UpdateMachine::Kind;

const QList<QByteArray> kLines{"S1130000AA", "S1130010BB", "S9030000FC"};

class UpdateMachineTest : public UpdatePageTest {};

// KH-71: erase, flash, verify, two micros, its own 125 ms timer; KF-71: one
// micro, the page's timer left as it was until the download.
TEST_F(UpdateMachineTest, Kh71AndKf71RunEveryStepAndReconnect)
{
    const struct {
        Kind kind;
        int interval;
        QList<std::pair<int, const char *>> work;
        QList<int> steps;
        QStringList statuses;
    } cases[] = {
        {Kind::Kh71, 125,
         {{2, "ERASE\r"}, {4, "PASS\r"}, {7, "FLASH\r"}, {9, "PASS\r"}, {12, "VERIFY\r"}, {14, "PASS\r"},
          {17, "MICRO\r"}, {19, "PASS\r"}, {22, "MICRO\r"}, {24, "PASS\r"}, {28, "SUCCESS\r"}},
         {1, 2, 3, 4, 5, 4, 5, 4, 5, 4, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18},
         {"Downloading Program ", "Erasing EEPROM     ", "Flashing EEPROM     ", "Verifying EEPROM    ",
          "Updating Micro#1   ", "Updating Micro#2   ", "Resetting Unit   "}},
        {Kind::Kf71, 50,
         {{2, "ERASE\r"}, {4, "PASS\r"}, {7, "FLASH\r"}, {9, "PASS\r"}, {12, "VERIFY\r"}, {14, "PASS\r"},
          {17, "MICRO\r"}, {19, "PASS\r"}, {23, "SUCCESS\r"}},
         {1, 2, 3, 4, 5, 4, 5, 4, 5, 4, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
         {"Downloading Program ", "Erasing EEPROM     ", "Flashing EEPROM     ", "Verifying EEPROM    ",
          "Updating Micro   ", "Resetting Unit   "}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(int(c.kind));
        page->reconnect();
        link.clearRules();
        link.takeSent();
        steps.clear();
        statuses.clear();
        results.clear();
        page->setInterval(50);
        link.answerInTurn("PG0003\r", {"REA"}, 1);
        link.answer("PG0003\r", "DY\r", 3); // READY in two pieces
        acceptLines(kLines);
        for (const auto &[ticks, text] : c.work)
            link.answer("EF\r", text, ticks);
        start(c.kind, kLines);
        tick();
        EXPECT_EQ(record().state, state::Updating);
        EXPECT_EQ(page->interval(), c.interval);
        run();

        EXPECT_EQ(steps, c.steps);
        EXPECT_EQ(link.sends().mid(0, 6), (QList<QByteArray>{"HD\r", "PG0003\r", "S1130000AA\r", "S1130010BB\r",
                                                               "S9030000FC\r", "EF\r"}));
        EXPECT_EQ(statuses.mid(statuses.indexOf(c.statuses[0])), c.statuses);
        EXPECT_EQ(results, QList<bool>{true});
        EXPECT_EQ(machine().progress(), 100);
        EXPECT_TRUE(logged(QStringLiteral(" EEPROM Update Succesful "), LogLevel::Status));
        EXPECT_EQ(record().phase, 6); // the session's connect machine
    }
}

TEST_F(UpdateMachineTest, HdSendsTheSerialRecordFlashesBySectorAndSavesTheFastRate)
{
    ConnectionSettings s = page->settings();
    s.connectionType = connection::Network; // no port to switch, the rate is kept all the same
    s.portNumber = 10001;                   // a network page the saved file can start again
    page->setSettings(s);
    link.answer("PG\r", "READY\r");
    const QByteArray serial = "S20800200900040506BF\r";
    acceptLines(kLines);
    link.answer(serial, "GC\r");
    for (int i = 0; i < 8; ++i)
        link.answer("EF\r", "FLASH" + QByteArray::number(i) + "\r", 2 + i);
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
    EXPECT_TRUE(logged(QStringLiteral(" EEPROM Update Succesful "), LogLevel::Status));
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
