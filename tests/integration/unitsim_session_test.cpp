// The simulated Arxon unit's command dialogue, byte for byte, over TCP.
#include "unitsim_support.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>

using namespace unitsim;

namespace {

const QByteArray marker("\xF0\xF1", 2);
const QByteArray fe("\xFE", 1);

class UnitsimSession : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (simulatorPath().isEmpty())
            GTEST_SKIP() << "TOLVA_UNITSIM not set";
    }
    void startTcp(QStringList extra = {})
    {
        ASSERT_TRUE(sim.start(QStringList{"--tcp", "0"} + extra)) << "simulator did not start";
        ASSERT_NE(sim.tcpPort(), 0) << sim.line().toStdString();
        ASSERT_TRUE(caller.connectTo(sim.tcpPort()));
    }
    Sim sim;
    TcpCaller caller;
};

TEST_F(UnitsimSession, LogInIdentifyAndLogOff)
{
    startTcp();
    caller.send(QByteArray("\x03\xFE", 2));
    EXPECT_EQ(caller.exchange(QByteArray("\x01\xFE", 2), marker), QByteArray("PASSWORD\xF0\xF1"));
    EXPECT_EQ(caller.exchange("KELPO4\xFE", marker), QByteArray("VALID SUPERVISOR\xF0\xF1"));
    EXPECT_EQ(caller.exchange(QByteArray("\x07\xFE", 2), marker), QByteArray("KM71\xF0\xF1"));

    // A wrong password after a log-off is refused with the unit's spelling.
    caller.send(QByteArray("\x02\xFE", 2));
    EXPECT_EQ(caller.exchange(QByteArray("\x01\xFE", 2), marker), QByteArray("PASSWORD\xF0\xF1"));
    EXPECT_EQ(caller.exchange("KELPO5\xFE", marker), QByteArray("INVAILD PASSWORD\xF0\xF1"));

    // A relay's log-in form (zero byte first) is accepted too.
    EXPECT_EQ(caller.exchange(QByteArray("\x01\xFE", 2), marker), QByteArray("PASSWORD\xF0\xF1"));
    EXPECT_EQ(caller.exchange(QByteArray("\x00KELPO4\xFE", 8), marker), QByteArray("VALID SUPERVISOR\xF0\xF1"));
}

TEST_F(UnitsimSession, LevelModelAndPollEndTerminatorAreSettable)
{
    startTcp({"--model", "KA72", "--password", "LOOK:OBSERVER", "--password", "OPS", "--level",
              "OPERATOR", "--reply-end", "ff"});
    const QByteArray ff("\xFF", 1);
    EXPECT_EQ(caller.exchange(QByteArray("\x01\xFE", 2), marker), QByteArray("PASSWORD\xF0\xF1"));
    EXPECT_EQ(caller.exchange("LOOK\xFE", ff), QByteArray("VALID OBSERVER\xFF"));
    EXPECT_EQ(caller.exchange(QByteArray("\x01\xFE", 2), marker), QByteArray("PASSWORD\xF0\xF1"));
    EXPECT_EQ(caller.exchange("OPS\xFE", ff), QByteArray("VALID OPERATOR\xFF"));
    EXPECT_EQ(caller.exchange(QByteArray("\x07\xFE", 2), ff), QByteArray("KA72\xFF"));
    // The default password is not accepted once passwords are given.
    EXPECT_EQ(caller.exchange(QByteArray("\x01\xFE", 2), marker), QByteArray("PASSWORD\xF0\xF1"));
    EXPECT_EQ(caller.exchange("KELPO4\xFE", ff), QByteArray("INVAILD PASSWORD\xFF"));
}

TEST_F(UnitsimSession, DownloadHandshakeWithBadChecksums)
{
    startTcp({"--bad-checksums", "2"});
    const QByteArray check("\x05" "1A2B\xFE");
    EXPECT_EQ(caller.exchange(check, marker), QByteArray("BAD CHECKSUM\xF0\xF1"));
    const QByteArray line1("\tS00600004844521B\xFE");
    const QByteArray line2("\tS9030000FC\xFE");
    EXPECT_EQ(caller.exchange(line1, marker), QByteArray("BAD CHECKSUM\xF0\xF1"));
    EXPECT_EQ(caller.exchange(QByteArray("\xFE", 1) + line1, marker), QByteArray("BAD CHECKSUM\xF0\xF1"));
    EXPECT_EQ(caller.exchange(line1, marker), QByteArray("GOOD CHECKSUM\xF0\xF1"));
    EXPECT_EQ(caller.exchange(line2, marker), QByteArray("BAD CHECKSUM\xF0\xF1"));
    EXPECT_EQ(caller.exchange(line2, marker), QByteArray("BAD CHECKSUM\xF0\xF1"));
    EXPECT_EQ(caller.exchange(line2, marker), QByteArray("GOOD CHECKSUM\xF0\xF1"));
    EXPECT_EQ(caller.exchange(check, marker), QByteArray("GOOD CHECKSUM\xF0\xF1"));
    // The program stays loaded for the next caller, for that checksum only.
    EXPECT_EQ(caller.exchange(check, marker), QByteArray("GOOD CHECKSUM\xF0\xF1"));
    EXPECT_EQ(caller.exchange("\x05" "1A2C\xFE", marker), QByteArray("BAD CHECKSUM\xF0\xF1"));
}

TEST_F(UnitsimSession, DownloadChecksWhenLoadedOrNeverConfirmed)
{
    {
        startTcp({"--loaded"});
        EXPECT_EQ(caller.exchange("\x05" "0000\xFE", marker), QByteArray("GOOD CHECKSUM\xF0\xF1"));
    }
    Sim other;
    TcpCaller second;
    ASSERT_TRUE(other.start({"--tcp", "0", "--final-check-bad"}));
    ASSERT_TRUE(second.connectTo(other.tcpPort()));
    EXPECT_EQ(second.exchange("\x05" "00FF\xFE", marker), QByteArray("BAD CHECKSUM\xF0\xF1"));
    EXPECT_EQ(second.exchange("\tS9030000FC\xFE", marker), QByteArray("GOOD CHECKSUM\xF0\xF1"));
    EXPECT_EQ(second.exchange("\x05" "00FF\xFE", marker), QByteArray("BAD CHECKSUM\xF0\xF1"));
}

TEST_F(UnitsimSession, PasswordChangeDialogue)
{
    startTcp({"--password", "BOSS", "--password", "DESK:OPERATOR"});
    const QByteArray crlf("\r\n");
    // Below supervisor the unit refuses.
    EXPECT_EQ(caller.exchange(QByteArray("\x01\xFE", 2), marker), QByteArray("PASSWORD\xF0\xF1"));
    EXPECT_EQ(caller.exchange("DESK\xFE", marker), QByteArray("VALID OPERATOR\xF0\xF1"));
    caller.send(QByteArray("\x03\xFE", 2));
    EXPECT_EQ(caller.exchange(QByteArray("\x06\xFE", 2), crlf), QByteArray("MUST BE A VALID SUPERVISOR\r\n"));

    EXPECT_EQ(caller.exchange(QByteArray("\x01\xFE", 2), marker), QByteArray("PASSWORD\xF0\xF1"));
    EXPECT_EQ(caller.exchange("BOSS\xFE", marker), QByteArray("VALID SUPERVISOR\xF0\xF1"));
    caller.send(QByteArray("\x03\xFE", 2));
    EXPECT_EQ(caller.exchange(QByteArray("\x06\xFE", 2), crlf), QByteArray("PASSWORD LEVEL\r\n"));
    EXPECT_EQ(caller.exchange("3\xFE", crlf), QByteArray("NEW\r\n"));
    // A repeat after an abort, as the server does when an answer is late.
    caller.send(fe);
    EXPECT_EQ(caller.exchange("LPQ7\xFE", crlf), QByteArray("VERIFY\r\n"));
    EXPECT_EQ(caller.exchange("LPQ7\xFE", crlf), QByteArray("CHANGED\r\n"));
    caller.send(QByteArray("\x04\xFE\x02\xFE", 4));

    EXPECT_EQ(caller.exchange(QByteArray("\x01\xFE", 2), marker), QByteArray("PASSWORD\xF0\xF1"));
    EXPECT_EQ(caller.exchange("BOSS\xFE", marker), QByteArray("INVAILD PASSWORD\xF0\xF1"));
    EXPECT_EQ(caller.exchange(QByteArray("\x01\xFE", 2), marker), QByteArray("PASSWORD\xF0\xF1"));
    EXPECT_EQ(caller.exchange("LPQ7\xFE", marker), QByteArray("VALID SUPERVISOR\xF0\xF1"));
}

TEST_F(UnitsimSession, SilentUnitAnswersNothing)
{
    startTcp({"--silent"});
    caller.send(QByteArray("\x03\xFE\x01\xFE", 4));
    EXPECT_TRUE(caller.quiet(300).isEmpty());
}

TEST_F(UnitsimSession, GarbageNeverKillsTheUnit)
{
    startTcp();
    QRandomGenerator rng(20261207);
    QByteArray noise;
    for (int i = 0; i < 20000; ++i)
        noise.append(char(rng.bounded(256)));
    caller.send(noise);
    caller.send(QByteArray(70000, 'A')); // a "command" far beyond any buffer
    // Enough terminators to end any half-read command, then a log-off.
    caller.send(QByteArray(8, '\xFE') + QByteArray("\x02\xFE", 2));
    caller.quiet(300);
    ASSERT_TRUE(sim.running());
    EXPECT_EQ(caller.exchange(QByteArray("\x01\xFE", 2), marker), QByteArray("PASSWORD\xF0\xF1"));
}

TEST_F(UnitsimSession, OneCallerAtATime)
{
    startTcp();
    // A second caller waits while the first is served...
    TcpCaller second;
    ASSERT_TRUE(second.connectTo(sim.tcpPort()));
    second.send(QByteArray("\x01\xFE", 2));
    EXPECT_TRUE(second.quiet(200).isEmpty());
    EXPECT_EQ(caller.exchange(QByteArray("\x01\xFE", 2), marker), QByteArray("PASSWORD\xF0\xF1"));
    EXPECT_EQ(caller.exchange("KELPO4\xFE", marker), QByteArray("VALID SUPERVISOR\xF0\xF1"));
    caller.send(QByteArray("\x04\xFE", 2));

    // ...and is served from scratch once the first hangs up.
    caller.socket().disconnectFromHost();
    EXPECT_EQ(second.readEnding(marker), QByteArray("PASSWORD\xF0\xF1"));
    second.send(QByteArray("\xFF", 1));
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
