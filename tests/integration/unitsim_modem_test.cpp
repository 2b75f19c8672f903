// The simulator on a pseudo-terminal, alone and behind its Hayes modem.
#include "unitsim_support.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSerialPort>
#include <QTemporaryDir>

using namespace unitsim;

namespace {

const QByteArray marker("\xF0\xF1", 2);

class UnitsimPty : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (simulatorPath().isEmpty())
            GTEST_SKIP() << "TOLVA_UNITSIM not set";
    }
    void startPty(const QStringList &extra)
    {
        ASSERT_TRUE(sim.start(QStringList{"--pty"} + extra)) << "simulator did not start";
        ASSERT_FALSE(sim.ptyPath().isEmpty()) << sim.line().toStdString();
        ASSERT_TRUE(line.open(sim.ptyPath())) << sim.ptyPath().toStdString();
    }
    Sim sim;
    PtyCaller line;
};

TEST_F(UnitsimPty, UnitAnswersOnThePtyAndItsLink)
{
    QTemporaryDir dir;
    const QString link = dir.filePath("com1");
    startPty({"--link", link});
    EXPECT_EQ(QFile::symLinkTarget(link), sim.ptyPath());
    EXPECT_EQ(line.exchange(QByteArray("\x03\xFE\x01\xFE", 4), marker), QByteArray("PASSWORD\xF0\xF1"));
    EXPECT_EQ(line.exchange("KELPO4\xFE", marker), QByteArray("VALID SUPERVISOR\xF0\xF1"));
    line.send(QByteArray("\x04\xFE\xFF", 3));
    const QByteArray f = line.readCount(100);
    ASSERT_EQ(f.size(), 100);
    EXPECT_TRUE(f.startsWith(QByteArray("\xFF\xFE\xFD\xFC", 4)));

    // Closing the port ends the caller's session: a new caller must log in.
    line.close();
    ::usleep(150 * 1000);
    ASSERT_TRUE(line.open(sim.ptyPath()));
    line.send(QByteArray("\xFF", 1));
    EXPECT_TRUE(line.quiet(300).isEmpty());
    EXPECT_EQ(line.exchange(QByteArray("\x01\xFE", 2), marker), QByteArray("PASSWORD\xF0\xF1"));

    sim.stop();
    EXPECT_FALSE(QFileInfo(link).isSymLink()) << "link removed on exit";
}

TEST_F(UnitsimPty, ModemEchoesAnswersAndConnects)
{
    startPty({"--modem", "--modem-connect-delay", "50"});
    // The log-off the dialler sends first is not a command: the modem echoes
    // it and stays quiet.
    EXPECT_EQ(line.exchange(QByteArray("\x02\xFE", 2), QByteArray("\x02\xFE", 2)), QByteArray("\x02\xFE", 2));
    EXPECT_EQ(line.exchange("ATZ\r", "OK\r\n"), QByteArray("ATZ\rOK\r\n"));
    EXPECT_EQ(line.exchange("ATs2=43\r", "OK\r\n"), QByteArray("ATs2=43\rOK\r\n"));
    EXPECT_EQ(line.exchange("AT&D3\r", "OK\r\n"), QByteArray("AT&D3\rOK\r\n"));
    // Echo off takes effect after the line that asks for it.
    EXPECT_EQ(line.exchange("ATE0\r", "OK\r\n"), QByteArray("ATE0\rOK\r\n"));
    EXPECT_EQ(line.exchange("ATM1\r", "OK\r\n"), QByteArray("OK\r\n"));
    EXPECT_EQ(line.exchange("ATE1\r", "OK\r\n"), QByteArray("OK\r\n"));
    EXPECT_EQ(line.exchange("AT#\r", "\r\n"), QByteArray("AT#\rERROR\r\n"));
    EXPECT_EQ(line.exchange("ATDT5551234\r", "CONNECT 2400\r\n"), QByteArray("ATDT5551234\rCONNECT 2400\r\n"));

    // Data mode: bytes go to the unit and its answers come back unchanged.
    EXPECT_EQ(line.exchange(QByteArray("\x03\xFE\x01\xFE", 4), marker), QByteArray("PASSWORD\xF0\xF1"));
    line.send("ATZ\r");
    EXPECT_TRUE(line.quiet(300).isEmpty()) << "no echo in data mode";

    // Hanging up (closing the port, as dropping DTR would) goes back to
    // command mode with echo on.
    line.close();
    ::usleep(150 * 1000);
    ASSERT_TRUE(line.open(sim.ptyPath()));
    EXPECT_EQ(line.exchange("AT\r", "OK\r\n"), QByteArray("AT\rOK\r\n"));
}

TEST_F(UnitsimPty, SilentEchoOnlyAndBusyModems)
{
    startPty({"--modem-silent"});
    line.send("ATZ\r");
    EXPECT_TRUE(line.quiet(300).isEmpty());
    line.close();
    sim.stop();

    Sim echo;
    PtyCaller echoLine;
    ASSERT_TRUE(echo.start({"--pty", "--modem-echo-only", "--modem-connect-delay", "50"}));
    ASSERT_TRUE(echoLine.open(echo.ptyPath()));
    echoLine.send("ATZ\r");
    EXPECT_EQ(echoLine.quiet(300), QByteArray("ATZ\r"));
    EXPECT_EQ(echoLine.exchange("ATDT\r", "CONNECT 2400\r\n"), QByteArray("ATDT\rCONNECT 2400\r\n"));

    Sim busy;
    PtyCaller busyLine;
    ASSERT_TRUE(busy.start({"--pty", "--modem-dial-result", "BUSY", "--modem-connect-delay", "50"}));
    ASSERT_TRUE(busyLine.open(busy.ptyPath()));
    EXPECT_EQ(busyLine.exchange("ATDT1\r", "BUSY\r\n"), QByteArray("ATDT1\rBUSY\r\n"));
    // Still in command mode after a failed call.
    EXPECT_EQ(busyLine.exchange("AT\r", "OK\r\n"), QByteArray("AT\rOK\r\n"));
}

TEST_F(UnitsimPty, EscapeToCommandModeAndBack)
{
    startPty({"--modem", "--modem-connect-delay", "0"});
    EXPECT_EQ(line.exchange("ATDT7\r", "CONNECT 2400\r\n"), QByteArray("ATDT7\rCONNECT 2400\r\n"));
    EXPECT_EQ(line.exchange(QByteArray("\x07\xFE", 2), marker), QByteArray("KM71\xF0\xF1"));
    // Guard time, "+++", guard time: the modem speaks again.
    ::usleep(1100 * 1000);
    line.send("+++");
    EXPECT_EQ(line.readEnding("OK\r\n", 2500), QByteArray("OK\r\n"));
    EXPECT_EQ(line.exchange("ATO\r", "CONNECT 2400\r\n"), QByteArray("ATO\rCONNECT 2400\r\n"));
    // The pluses reached the unit as well; an abort clears them.
    EXPECT_EQ(line.exchange(QByteArray("\xFE\x07\xFE", 3), marker), QByteArray("KM71\xF0\xF1"));
}

// The station opens COM ports through QSerialPort; the pty must behave for it,
// including the DTR and RTS calls a pty cannot honour.
TEST(UnitsimSerialPort, QSerialPortCallerDialsAndLogsIn)
{
    if (simulatorPath().isEmpty())
        GTEST_SKIP() << "TOLVA_UNITSIM not set";
    Sim sim;
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
    auto exchange = [&port](const QByteArray &cmd, const QByteArray &end) {
        port.write(cmd);
        port.waitForBytesWritten(500);
        QByteArray got;
        QElapsedTimer t;
        t.start();
        while (!got.endsWith(end) && t.elapsed() < 2000) {
            port.waitForReadyRead(20);
            got += port.readAll();
        }
        return got;
    };
    EXPECT_EQ(exchange("ATE1\r", "OK\r\n"), QByteArray("ATE1\rOK\r\n"));
    EXPECT_EQ(exchange("ATDT\r", "CONNECT 2400\r\n"), QByteArray("ATDT\rCONNECT 2400\r\n"));
    EXPECT_EQ(exchange(QByteArray("\x03\xFE\x01\xFE", 4), marker), QByteArray("PASSWORD\xF0\xF1"));
    EXPECT_EQ(exchange("KELPO4\xFE", marker), QByteArray("VALID SUPERVISOR\xF0\xF1"));
}

TEST(UnitsimModemTcp, ModemInFrontOfTheUnitOverTcp)
{
    if (simulatorPath().isEmpty())
        GTEST_SKIP() << "TOLVA_UNITSIM not set";
    Sim sim;
    TcpCaller caller;
    ASSERT_TRUE(sim.start({"--tcp", "0", "--modem", "--modem-connect-delay", "0", "--model", "KS71"}));
    ASSERT_TRUE(caller.connectTo(sim.tcpPort()));
    EXPECT_EQ(caller.exchange("ATDT42\r", "CONNECT 2400\r\n"), QByteArray("ATDT42\rCONNECT 2400\r\n"));
    EXPECT_EQ(caller.exchange(QByteArray("\x07\xFE", 2), marker), QByteArray("KS71\xF0\xF1"));
}

} // namespace
