#include "protocols/arx/arxcommands.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

TEST(ArxCommands, SessionCommandsAreTheirExactBytes)
{
    EXPECT_EQ(arx::cmdWake(), bytes({0x03, 0xFE}));
    EXPECT_EQ(arx::cmdStart(), bytes({0x04, 0xFE}));
    EXPECT_EQ(arx::cmdPasswordPrompt(), bytes({0x01, 0xFE}));
    EXPECT_EQ(arx::cmdLogOff(), bytes({0x02, 0xFE}));
    EXPECT_EQ(arx::cmdAbort(), bytes({0xFE}));
    EXPECT_EQ(arx::cmdIdentify(), bytes({0x07, 0xFE}));
    EXPECT_EQ(arx::cmdPasswordChange(), bytes({0x06, 0xFE}));
    EXPECT_EQ(arx::cmdPoll(), bytes({0xFF}));
}

TEST(ArxCommands, DownloadCheckCarriesFourUpperCaseHexDigits)
{
    EXPECT_EQ(arx::cmdDownloadCheck(0x1A2B), bytes({0x05, '1', 'A', '2', 'B', 0xFE}));
    EXPECT_EQ(arx::cmdDownloadCheck(0), bytes({0x05, '0', '0', '0', '0', 0xFE}));
    EXPECT_EQ(arx::cmdDownloadCheck(0xFFFF), bytes({0x05, 'F', 'F', 'F', 'F', 0xFE}));
}

TEST(ArxCommands, TextsTheSessionFramesItself)
{
    EXPECT_EQ(arx::passwordText("ABC"), bytes({'A', 'B', 'C', 0xFE}));
    EXPECT_EQ(arx::relayPasswordText("ABC"), bytes({0x00, 'A', 'B', 'C', 0xFE}));
    EXPECT_EQ(arx::downloadLineText("S1"), bytes({0x09, 'S', '1', 0xFE}));
    EXPECT_EQ(arx::downloadLineText(""), bytes({0x09, 0xFE}));
    EXPECT_EQ(arx::passwordLevelText(), bytes({'3', 0xFE}));
}

TEST(ArxCommands, TvFamily)
{
    EXPECT_EQ(arx::cmdTvSelect14(0), bytes({0x14, 0x00, 0xFE}));
    EXPECT_EQ(arx::cmdTvSelect14(49), bytes({0x14, 0x31, 0xFE}));
    EXPECT_EQ(arx::cmdTvSelect17(7), bytes({0x17, 0x07, 0xFE}));
    EXPECT_EQ(arx::cmdTvSet1A(0xFE), bytes({0x1A, 0xFE, 0xFE}));
    EXPECT_EQ(arx::cmdTv1D(), bytes({0x1D, 0xFE}));
    EXPECT_EQ(arx::cmdTv1E(), bytes({0x1E, 0xFE}));
    EXPECT_EQ(arx::cmdTvValueL(3, 0xAF), bytes({'L', 0x03, 'A', 'F', 0xFE}));
    EXPECT_EQ(arx::cmdTvValueQ(0x10, 0x0A), bytes({'Q', 0x10, '0', 'A', 0xFE}));
}

TEST(ArxCommands, AmFamilies)
{
    EXPECT_EQ(arx::cmdKa71Select(49), bytes({0x18, 0x31, 0xFE}));
    EXPECT_EQ(arx::cmdKa71Set(2), bytes({0x19, 0x02, 0xFE}));
    EXPECT_EQ(arx::cmdKa711C(), bytes({0x1C, 0xFE}));
    EXPECT_EQ(arx::cmdKa71Value(4, 0x5C), bytes({'P', 0x04, '5', 'C', 0xFE}));
    EXPECT_EQ(arx::cmdKa72Select(52), bytes({0x18, 0x34, 0xFE}));
    EXPECT_EQ(arx::cmdKa72Set(9), bytes({0x19, 0x09, 0xFE}));
    EXPECT_EQ(arx::cmdKa721C(), bytes({0x1C, 0xFE}));
    EXPECT_EQ(arx::cmdKa72Value(5, 0x01F4), bytes({'P', 0x05, '0', '1', 'F', '4', 0xFE}));
}

TEST(ArxCommands, SelectionsOutOfRangeGiveNothing)
{
    EXPECT_TRUE(arx::cmdTvSelect14(50).isEmpty());
    EXPECT_TRUE(arx::cmdTvSelect14(-1).isEmpty());
    EXPECT_TRUE(arx::cmdTvSelect17(50).isEmpty());
    EXPECT_TRUE(arx::cmdKa71Select(50).isEmpty());
    EXPECT_TRUE(arx::cmdKa71Select(52).isEmpty());
    EXPECT_TRUE(arx::cmdKa72Select(53).isEmpty());
    EXPECT_TRUE(arx::cmdKa72Select(-1).isEmpty());
}

} // namespace
