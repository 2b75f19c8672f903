// The per-client queue of control changes and the two code tables that size
// a change's value.
#include "support/bytes.h"
#include "server/changequeue.h"

#include <gtest/gtest.h>

namespace {


TEST(ChangeQueue, KeepsNewestTenWhenFull)
{
    ChangeQueue q;
    for (int i = 0; i < 10; ++i)
        q.push({i, QByteArray(5, char(i))});
    EXPECT_EQ(q.size(), 10); // ten unread changes stay readable
    EXPECT_EQ(q.front().key, 0);
    q.push({10, QByteArray(5, char(10))});
    q.push({11, QByteArray(5, char(11))});
    EXPECT_EQ(q.size(), 10);
    for (int want = 2; want <= 11; ++want) {
        ASSERT_FALSE(q.isEmpty());
        EXPECT_EQ(q.front().key, want);
        q.pop();
    }
    EXPECT_TRUE(q.isEmpty());
    q.pop(); // harmless on empty
    EXPECT_TRUE(q.isEmpty());
}

TEST(ChangeCodes, HdTable)
{
    for (int c : {15, 19, 24, 25, 26, 30, 34, 35, 41, 42, 43, 47, 55, 56, 63, 96, 97, 99, 100, 159, 160, 162})
        EXPECT_EQ(changecodes::valueWidth(2, c), 2) << c;
    for (int c : {16, 18, 20, 23, 27, 29, 31, 33, 36, 40, 44, 46, 48, 54, 57, 62, 64, 88, 98, 101, 158, 161, 163,
                  202, 205, 208})
        EXPECT_EQ(changecodes::valueWidth(2, c), 1) << c;
    for (int c : {0, 14, 89, 95, 164, 201, 203, 204, 209, 255})
        EXPECT_EQ(changecodes::valueWidth(2, c), 0) << c;
}

TEST(ChangeCodes, Kf71Table)
{
    for (int c : {15, 22, 32, 37, 39, 43, 52, 54, 58, 66, 67, 74, 112, 113, 115, 116, 151, 152})
        EXPECT_EQ(changecodes::valueWidth(3, c), 2) << c;
    for (int c : {0, 16, 19, 21, 33, 36, 40, 42, 44, 51, 55, 57, 59, 65, 68, 73, 75, 104, 114, 117, 150, 153})
        EXPECT_EQ(changecodes::valueWidth(3, c), 1) << c;
    for (int c : {1, 14, 20, 105, 111, 154, 255})
        EXPECT_EQ(changecodes::valueWidth(3, c), 0) << c;
}

TEST(ChangeCodes, OverlayFromLine)
{
    // HD code 0x0F (15) takes two bytes: hi 0x12, lo 0x34.
    EXPECT_EQ(changecodes::overlayFor(2, "CC0F1234AB\r"), bytes({0x0F, 0, 0, 0x12, 0x34}));
    // HD code 0x10 (16) takes one byte from characters 5-6.
    EXPECT_EQ(changecodes::overlayFor(2, "CC107FAB\r"), bytes({0x10, 0, 0, 0, 0x7F}));
    // HD code 0x59 (89) has no value.
    EXPECT_EQ(changecodes::overlayFor(2, "CC597FAB\r"), bytes({0x59, 0, 0, 0, 0}));
    // KF-71 code 0x16 (22) is two bytes there, but 0x14 (20) none; lower-case counts as 0.
    EXPECT_EQ(changecodes::overlayFor(3, "CC16ab01\r"), bytes({0x16, 0, 0, 0x00, 0x01}));
    EXPECT_EQ(changecodes::overlayFor(3, "CC1401\r"), bytes({0x14, 0, 0, 0, 0}));
    // A short line reads missing digits as 0.
    EXPECT_EQ(changecodes::overlayFor(2, "CC0F\r"), bytes({0x0F, 0, 0, 0x00, 0x00}));
}

} // namespace
