// The simulator on a pseudo-terminal, alone and behind its Hayes modem.
#include "unitsim_support.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSerialPort>
#include <QTemporaryDir>

using namespace unitsim;

namespace {

const QByteArray kConnect("CONNECT 2400\r\n");

class UnitsimPty : public SimTest
{
protected:
    void start(const QStringList &extra)
    {
        ASSERT_TRUE(startPty(sim, pty, extra)) << sim.line().toStdString();
    }
    // Closing the port hangs up, as dropping DTR would; then a new caller.
    void reopen()
    {
        pty.close();
        ::usleep(150 * 1000);
        ASSERT_TRUE(pty.open(sim.ptyPath()));
    }
};
using UnitsimSerialPort = SimTest;
using UnitsimModemTcp = SimTest;

TEST_F(UnitsimPty, UnitAnswersOnThePtyAndItsLink)
{
    QTemporaryDir dir;
    const QString link = dir.filePath("com1");
    start({"--link", link});
    EXPECT_EQ(QFile::symLinkTarget(link), sim.ptyPath());
    expectReplies(pty, {{kWake + kHello, kPassword}, {"KELPO4\xFE", kSupervisor}});
    pty.send(kStart + kPoll);
    const QByteArray f = pty.readCount(100);
    ASSERT_EQ(f.size(), 100);
    EXPECT_TRUE(f.startsWith(QByteArray("\xFF\xFE\xFD\xFC", 4)));

    // Closing the port ends the caller's session: a new caller must log in.
    reopen();
    pty.send(kPoll);
    EXPECT_TRUE(pty.quiet(300).isEmpty());
    expectReplies(pty, {{kHello, kPassword}});

    sim.stop();
    EXPECT_FALSE(QFileInfo(link).isSymLink()) << "link removed on exit";
}

TEST_F(UnitsimPty, ModemEchoesAnswersAndConnects)
{
    start({"--modem", "--modem-connect-delay", "50"});
    // The log-off the dialler sends first is not a command: the modem echoes
    // it and stays quiet. Echo off takes effect after the line that asks for it.
    expectReplies(pty, {{kLogOff, kLogOff}, {"ATZ\r", "ATZ\rOK\r\n"}, {"ATs2=43\r", "ATs2=43\rOK\r\n"},
                        {"AT&D3\r", "AT&D3\rOK\r\n"}, {"ATE0\r", "ATE0\rOK\r\n"}, {"ATM1\r", "OK\r\n"},
                        {"ATE1\r", "OK\r\n"}, {"AT#\r", "AT#\rERROR\r\n"}, {"ATDT5551234\r", "ATDT5551234\r" + kConnect},
                        // Data mode: bytes go to the unit and its answers come back unchanged.
                        {kWake + kHello, kPassword}});
    pty.send("ATZ\r");
    EXPECT_TRUE(pty.quiet(300).isEmpty()) << "no echo in data mode";

    // Hanging up goes back to command mode with echo on.
    reopen();
    expectReplies(pty, {{"AT\r", "AT\rOK\r\n"}});
}

TEST_F(UnitsimPty, SilentEchoOnlyAndBusyModems)
{
    start({"--modem-silent"});
    pty.send("ATZ\r");
    EXPECT_TRUE(pty.quiet(300).isEmpty());
    pty.close();
    sim.stop();

    Sim echo;
    PtyCaller echoLine;
    ASSERT_TRUE(startPty(echo, echoLine, {"--modem-echo-only", "--modem-connect-delay", "50"}));
    echoLine.send("ATZ\r");
    EXPECT_EQ(echoLine.quiet(300), QByteArray("ATZ\r"));
    expectReplies(echoLine, {{"ATDT\r", "ATDT\r" + kConnect}});

    // Still in command mode after a failed call.
    Sim busy;
    PtyCaller busyLine;
    ASSERT_TRUE(startPty(busy, busyLine, {"--modem-dial-result", "BUSY", "--modem-connect-delay", "50"}));
    expectReplies(busyLine, {{"ATDT1\r", "ATDT1\rBUSY\r\n"}, {"AT\r", "AT\rOK\r\n"}});
}

TEST_F(UnitsimPty, EscapeToCommandModeAndBack)
{
    start({"--modem", "--modem-connect-delay", "0"});
    expectReplies(pty, {{"ATDT7\r", "ATDT7\r" + kConnect}, {kIdentify, "KM71\xF0\xF1"}});
    // Guard time, "+++", guard time: the modem speaks again.
    ::usleep(1100 * 1000);
    pty.send("+++");
    EXPECT_EQ(pty.readEnding("OK\r\n", 2500), QByteArray("OK\r\n"));
    // The pluses reached the unit as well; an abort clears them.
    expectReplies(pty, {{"ATO\r", "ATO\r" + kConnect}, {"\xFE" + kIdentify, "KM71\xF0\xF1"}});
}

// The station opens COM ports through QSerialPort; the pty must behave for it,
// including the DTR and RTS calls a pty cannot honour.
TEST_F(UnitsimSerialPort, QSerialPortCallerDialsAndLogsIn)
{
    ASSERT_TRUE(sim.start({"--pty", "--modem", "--modem-connect-delay", "0"}));
    QSerialPort port(sim.ptyPath());
    ASSERT_TRUE(port.open(QIODevice::ReadWrite)) << port.errorString().toStdString();
    port.setBaudRate(2400);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    port.setDataTerminalReady(true);
    port.setRequestToSend(true);
    const Step steps[] = {{"ATE1\r", "ATE1\rOK\r\n"}, {"ATDT\r", "ATDT\r" + kConnect},
                          {kWake + kHello, kPassword}, {"KELPO4\xFE", kSupervisor}};
    for (const Step &s : steps) {
        port.write(s.send);
        port.waitForBytesWritten(500);
        QByteArray got;
        QElapsedTimer t;
        t.start();
        while (!got.endsWith(s.reply) && t.elapsed() < 2000) {
            port.waitForReadyRead(20);
            got += port.readAll();
        }
        EXPECT_EQ(got, s.reply);
    }
}

TEST_F(UnitsimModemTcp, ModemInFrontOfTheUnitOverTcp)
{
    ASSERT_TRUE(startTcp(sim, caller, {"--modem", "--modem-connect-delay", "0", "--model", "KS71"}));
    expectReplies(caller, {{"ATDT42\r", "ATDT42\r" + kConnect}, {kIdentify, "KS71\xF0\xF1"}});
}

} // namespace
