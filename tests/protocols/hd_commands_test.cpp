#include "protocols/hd/hdcommands.h"

#include <gtest/gtest.h>

namespace {

TEST(HdCommands, BuildersGiveTheirExactText)
{
    const struct {
        QByteArray built, expected;
    } cases[] = {
        {hd::cmdCr(), "\r"},
        {hd::cmdHd(), "HD\r"},
        {hd::cmdSc(), "SC\r"},
        {hd::cmdUi(), "UI\r"},
        {hd::cmdSd(), "SD\r"},
        {hd::cmdEc(), "EC\r"},
        {hd::cmdEf(), "EF\r"},
        {hd::cmdPg(), "PG\r"},
        {hd::cmdUl(), "UL\r"},
        {hd::cmdDe(), "DE\r"},
        {hd::pageCommand(0x01A5), "PG01A5\r"},
        {hd::pageCommand(0), "PG0000\r"},
        {hd::relayPasswordText("ABC"), "SPABC\r"},
        {hd::passwordText("ABC"), "ABC\r"},
        // 'C'+'C'+'1'+'0'+'0'+'1' = 0x148: the pair keeps the low byte.
        {hd::parameterCommand(16, QByteArray("01")), "CC100148\r"},
        // 16-bit value, high byte first; the sum 0x214 overflows a byte.
        {hd::parameterCommand(15, QByteArray("FFFF")), "CC0FFFFF14\r"},
        // Indexed: value pair then slot pair.
        {hd::parameterCommand(162, QByteArray("0708")), "CCA20708C8\r"},
        // Outside the table: no value.
        {hd::parameterCommand(40, std::nullopt), "CC28F0\r"},
        {hd::buttonCommand(205, 0xFF, true), "PBCDFFA5\r"},
        {hd::buttonCommand(209, 0x01, true), "PBD107\r"},
        {hd::buttonCommand(205, 0xFF, false), "PBCD19\r"},
        {hd::buttonCommand(3, 0x01, true), "PB03F5\r"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.built, c.expected);
}

TEST(HdCommands, NumbersBeyondOneByteGiveNothing)
{
    EXPECT_TRUE(hd::parameterCommand(256, QByteArray("01")).isEmpty());
    EXPECT_TRUE(hd::parameterCommand(-1, std::nullopt).isEmpty());
    EXPECT_TRUE(hd::buttonCommand(300, 0, true).isEmpty());
}

} // namespace
