#include "protocols/arx/arxcommands.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace {

QByteArray b(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

TEST(ArxCommands, BuildersGiveTheirExactBytes)
{
    const struct {
        QByteArray built, expected;
    } cases[] = {
        {arx::cmdWake(), b({0x03, 0xFE})},
        {arx::cmdStart(), b({0x04, 0xFE})},
        {arx::cmdPasswordPrompt(), b({0x01, 0xFE})},
        {arx::cmdLogOff(), b({0x02, 0xFE})},
        {arx::cmdAbort(), b({0xFE})},
        {arx::cmdIdentify(), b({0x07, 0xFE})},
        {arx::cmdPasswordChange(), b({0x06, 0xFE})},
        {arx::cmdPoll(), b({0xFF})},
        {arx::cmdDownloadCheck(0x1A2B), b({0x05, '1', 'A', '2', 'B', 0xFE})},
        {arx::cmdDownloadCheck(0x00FF), b({0x05, '0', '0', 'F', 'F', 0xFE})},
        {arx::relayPasswordText("AB"), b({0x00, 'A', 'B', 0xFE})},
        {arx::downloadLineText("S1"), b({0x09, 'S', '1', 0xFE})},
        {arx::passwordLevelText(), b({'3', 0xFE})},
        {arx::cmdTvSelect14(49), b({0x14, 0x31, 0xFE})},
        {arx::cmdTvSelect17(0), b({0x17, 0x00, 0xFE})},
        {arx::cmdTvSet1A(0xFE), b({0x1A, 0xFE, 0xFE})},
        {arx::cmdTv1D(), b({0x1D, 0xFE})},
        {arx::cmdTv1E(), b({0x1E, 0xFE})},
        {arx::cmdTvValueL(3, 0xAF), b({'L', 0x03, 'A', 'F', 0xFE})},
        {arx::cmdTvValueQ(0x10, 0x0A), b({'Q', 0x10, '0', 'A', 0xFE})},
        {arx::cmdKa71Select(49), b({0x18, 0x31, 0xFE})},
        {arx::cmdKa71Set(2), b({0x19, 0x02, 0xFE})},
        {arx::cmdKa711C(), b({0x1C, 0xFE})},
        {arx::cmdKa71Value(4, 0x5C), b({'P', 0x04, '5', 'C', 0xFE})},
        {arx::cmdKa72Select(52), b({0x18, 0x34, 0xFE})},
        {arx::cmdKa72Set(9), b({0x19, 0x09, 0xFE})},
        {arx::cmdKa721C(), b({0x1C, 0xFE})},
        {arx::cmdKa72Value(5, 0x01F4), b({'P', 0x05, '0', '1', 'F', '4', 0xFE})},
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
