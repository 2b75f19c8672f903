// The simulated Arxon unit's command dialogue, byte for byte, over TCP.
#include "unitsim_support.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>

using namespace unitsim;

namespace {

const QByteArray kBad("BAD CHECKSUM\xF0\xF1"), kGood("GOOD CHECKSUM\xF0\xF1");
const QByteArray kRefused("INVAILD PASSWORD\xF0\xF1");

class UnitsimSession : public SimTest
{
protected:
    void start(const QStringList &extra = {}) { ASSERT_TRUE(startTcp(sim, caller, extra)) << sim.line().toStdString(); }
};

TEST_F(UnitsimSession, LogInIdentifyAndLogOff)
{
    start();
    caller.send(kWake);
    expectReplies(caller, {{kHello, kPassword}, {"KELPO4\xFE", kSupervisor}, {kIdentify, "KM71\xF0\xF1"}});
    // A wrong password after a log-off is refused with the unit's spelling;
    // a relay's log-in form (zero byte first) is accepted too.
    caller.send(kLogOff);
    expectReplies(caller, {{kHello, kPassword}, {"KELPO5\xFE", kRefused},
                           {kHello, kPassword}, {QByteArray("\x00KELPO4\xFE", 8), kSupervisor}});
}

TEST_F(UnitsimSession, LevelModelAndPollEndTerminatorAreSettable)
{
    start({"--model", "KA72", "--password", "LOOK:OBSERVER", "--password", "OPS", "--level", "OPERATOR",
           "--reply-end", "ff"});
    // The default password is not accepted once passwords are given.
    expectReplies(caller, {{kHello, kPassword}, {"LOOK\xFE", "VALID OBSERVER\xFF"},
                           {kHello, kPassword}, {"OPS\xFE", "VALID OPERATOR\xFF"}, {kIdentify, "KA72\xFF"},
                           {kHello, kPassword}, {"KELPO4\xFE", "INVAILD PASSWORD\xFF"}});
}

TEST_F(UnitsimSession, DownloadHandshakeWithBadChecksums)
{
    start({"--bad-checksums", "2"});
    const QByteArray check("\x05" "1A2B\xFE"), line1("\tS00600004844521B\xFE"), line2("\tS9030000FC\xFE");
    // The program stays loaded for the next caller, for that checksum only.
    expectReplies(caller, {{check, kBad}, {line1, kBad}, {"\xFE" + line1, kBad}, {line1, kGood},
                           {line2, kBad}, {line2, kBad}, {line2, kGood}, {check, kGood}, {check, kGood},
                           {"\x05" "1A2C\xFE", kBad}});
}

TEST_F(UnitsimSession, DownloadChecksWhenLoadedOrNeverConfirmed)
{
    start({"--loaded"});
    expectReplies(caller, {{"\x05" "0000\xFE", kGood}});
    Sim other;
    TcpCaller second;
    ASSERT_TRUE(startTcp(other, second, {"--final-check-bad"}));
    expectReplies(second, {{"\x05" "00FF\xFE", kBad}, {"\tS9030000FC\xFE", kGood}, {"\x05" "00FF\xFE", kBad}});
}

TEST_F(UnitsimSession, PasswordChangeDialogue)
{
    start({"--password", "BOSS", "--password", "DESK:OPERATOR"});
    // Below supervisor the unit refuses.
    expectReplies(caller, {{kHello, kPassword}, {"DESK\xFE", "VALID OPERATOR\xF0\xF1"},
                           {kWake + "\x06\xFE", "MUST BE A VALID SUPERVISOR\r\n"},
                           {kHello, kPassword}, {"BOSS\xFE", kSupervisor},
                           {kWake + "\x06\xFE", "PASSWORD LEVEL\r\n"}, {"3\xFE", "NEW\r\n"},
                           // A repeat after an abort, as the server does when an answer is late.
                           {"\xFE" "LPQ7\xFE", "VERIFY\r\n"}, {"LPQ7\xFE", "CHANGED\r\n"}});
    caller.send(kStart + kLogOff);
    expectReplies(caller, {{kHello, kPassword}, {"BOSS\xFE", kRefused}, {kHello, kPassword}, {"LPQ7\xFE", kSupervisor}});
}

TEST_F(UnitsimSession, SilentUnitAnswersNothing)
{
    start({"--silent"});
    caller.send(kWake + kHello);
    EXPECT_TRUE(caller.quiet(300).isEmpty());
}

TEST_F(UnitsimSession, GarbageNeverKillsTheUnit)
{
    start();
    QRandomGenerator rng(20261207);
    QByteArray noise;
    for (int i = 0; i < 20000; ++i)
        noise.append(char(rng.bounded(256)));
    caller.send(noise);
    caller.send(QByteArray(70000, 'A')); // a "command" far beyond any buffer
    // Enough terminators to end any half-read command, then a log-off.
    caller.send(QByteArray(8, '\xFE') + kLogOff);
    caller.quiet(300);
    ASSERT_TRUE(sim.running());
    expectReplies(caller, {{kHello, kPassword}});
}

TEST_F(UnitsimSession, OneCallerAtATime)
{
    start();
    // A second caller waits while the first is served...
    TcpCaller second;
    ASSERT_TRUE(second.connectTo(sim.tcpPort()));
    second.send(kHello);
    EXPECT_TRUE(second.quiet(200).isEmpty());
    expectReplies(caller, {{kHello, kPassword}, {"KELPO4\xFE", kSupervisor}});
    caller.send(kStart);

    // ...and is served from scratch once the first hangs up.
    caller.socket().disconnectFromHost();
    EXPECT_EQ(second.readEnding(kEnd), kPassword);
    second.send(kPoll);
    EXPECT_TRUE(second.quiet(200).isEmpty()) << "not logged in: no frames";
}

TEST(UnitsimCommandLine, HelpExplainsEveryOptionAndBadOptionsFail)
{
    if (simulatorPath().isEmpty())
        GTEST_SKIP() << "TOLVA_UNITSIM not set";
    QProcess help;
    help.start(simulatorPath(), {"--help"});
    ASSERT_TRUE(help.waitForFinished(5000));
    EXPECT_EQ(help.exitCode(), 0);
    const QString text = QString::fromLocal8Bit(help.readAllStandardOutput());
    for (const char *option :
         {"--pty", "--link", "--tcp", "--bind", "--model", "--id", "--modules", "--password",
          "--level", "--reply-end", "--loaded", "--bad-checksums", "--final-check-bad",
          "--interleave", "--history-every", "--reply-delay", "--silent", "--modem",
          "--modem-silent", "--modem-echo-only", "--modem-dial-result", "--modem-connect-delay",
          "--trace", "SerialPorts.CFG"})
        EXPECT_TRUE(text.contains(QLatin1String(option))) << option;

    for (const QStringList &bad : {QStringList{"--tcp", "0", "--model", "KX99"}, QStringList{"--tcp", "x"},
                                   QStringList{"--frobnicate"}, QStringList{}}) {
        QProcess p;
        p.start(simulatorPath(), bad);
        ASSERT_TRUE(p.waitForFinished(5000));
        EXPECT_EQ(p.exitCode(), 2) << bad.join(' ').toStdString();
    }
}

} // namespace
