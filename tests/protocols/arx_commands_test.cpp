#include "support/bytes.h"
#include "protocols/arx/arxcommands.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace {


TEST(ArxCommands, BuildersGiveTheirExactBytes)
{
    const struct {
        QByteArray built, expected;
    } cases[] = {
        {arx::cmdWake(), bytes({0x03, 0xFE})},
        {arx::cmdStart(), bytes({0x04, 0xFE})},
        {arx::cmdPasswordPrompt(), bytes({0x01, 0xFE})},
        {arx::cmdLogOff(), bytes({0x02, 0xFE})},
        {arx::cmdAbort(), bytes({0xFE})},
        {arx::cmdIdentify(), bytes({0x07, 0xFE})},
        {arx::cmdPasswordChange(), bytes({0x06, 0xFE})},
        {arx::cmdPoll(), bytes({0xFF})},
        {arx::cmdDownloadCheck(0x1A2B), bytes({0x05, '1', 'A', '2', 'B', 0xFE})},
        {arx::cmdDownloadCheck(0x00FF), bytes({0x05, '0', '0', 'F', 'F', 0xFE})},
        {arx::relayPasswordText("AB"), bytes({0x00, 'A', 'B', 0xFE})},
        {arx::downloadLineText("S1"), bytes({0x09, 'S', '1', 0xFE})},
        {arx::passwordLevelText(), bytes({'3', 0xFE})},
        {arx::cmdTvSelect14(49), bytes({0x14, 0x31, 0xFE})},
        {arx::cmdTvSelect17(0), bytes({0x17, 0x00, 0xFE})},
        {arx::cmdTvSet1A(0xFE), bytes({0x1A, 0xFE, 0xFE})},
        {arx::cmdTv1D(), bytes({0x1D, 0xFE})},
        {arx::cmdTv1E(), bytes({0x1E, 0xFE})},
        {arx::cmdTvValueL(3, 0xAF), bytes({'L', 0x03, 'A', 'F', 0xFE})},
        {arx::cmdTvValueQ(0x10, 0x0A), bytes({'Q', 0x10, '0', 'A', 0xFE})},
        {arx::cmdKa71Select(49), bytes({0x18, 0x31, 0xFE})},
        {arx::cmdKa71Set(2), bytes({0x19, 0x02, 0xFE})},
        {arx::cmdKa711C(), bytes({0x1C, 0xFE})},
        {arx::cmdKa71Value(4, 0x5C), bytes({'P', 0x04, '5', 'C', 0xFE})},
        {arx::cmdKa72Select(52), bytes({0x18, 0x34, 0xFE})},
        {arx::cmdKa72Set(9), bytes({0x19, 0x09, 0xFE})},
        {arx::cmdKa721C(), bytes({0x1C, 0xFE})},
        {arx::cmdKa72Value(5, 0x01F4), bytes({'P', 0x05, '0', '1', 'F', '4', 0xFE})},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.built.toHex(' '), c.expected.toHex(' '));
}

TEST(ArxCommands, SelectionsOutOfRangeGiveNothing)
{
    for (const QByteArray &built : {arx::cmdTvSelect14(50), arx::cmdTvSelect14(-1), arx::cmdTvSelect17(50),
                                    arx::cmdKa71Select(52), arx::cmdKa72Select(53), arx::cmdKa72Select(-1)})
        EXPECT_TRUE(built.isEmpty()) << built.toHex(' ').constData();
}

} // namespace
