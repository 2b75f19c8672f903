// Message assembly, the log-in check and the ARX translation tables.
#include "support/bytes.h"
#include "server/arxtranslation.h"
#include "server/messageassembly.h"
#include "server/useraccounts.h"

#include <gtest/gtest.h>

namespace {


TEST(MessageAssembly, KeepsSplitMessageUntilTerminatorArrives)
{
    MessageAssembler a('\r', false);
    EXPECT_TRUE(a.feed("SP bob:pa").isEmpty());
    EXPECT_EQ(a.pending(), QByteArray("SP bob:pa"));
    const QList<QByteArray> out = a.feed("ss\rSD\r");
    ASSERT_EQ(out.size(), 2);
    EXPECT_EQ(out[0], QByteArray("SP bob:pass\r"));
    EXPECT_EQ(out[1], QByteArray("SD\r"));
    EXPECT_TRUE(a.pending().isEmpty());
}

TEST(MessageAssembly, AtMostTenPerReadAndTailDropped)
{
    MessageAssembler a('\r', false);
    QByteArray in;
    for (int i = 0; i < 12; ++i)
        in += "S" + QByteArray::number(i % 10) + "\r";
    in += "UNTERMINATED";
    const QList<QByteArray> out = a.feed(in);
    ASSERT_EQ(out.size(), 10);
    EXPECT_EQ(out.first(), QByteArray("S0\r"));
    EXPECT_EQ(out.last(), QByteArray("S9\r"));
    EXPECT_TRUE(a.pending().isEmpty()); // the 11th, 12th and the tail are gone
    EXPECT_EQ(a.feed("X\r"), QList<QByteArray>{QByteArray("X\r")});
}

TEST(MessageAssembly, ArxDropsEverythingBufferedOnFF)
{
    MessageAssembler a(char(0xFE), true);
    EXPECT_TRUE(a.feed(bytes({0x00, 'u', ':'})).isEmpty());
    EXPECT_TRUE(a.feed(bytes({'p', 0xFF, 0x04, 0xFE})).isEmpty());
    EXPECT_TRUE(a.pending().isEmpty());
    EXPECT_EQ(a.feed(bytes({0x04, 0xFE})), QList<QByteArray>{bytes({0x04, 0xFE})});
    // 0xFF is harmless in the line dialects.
    MessageAssembler line('\r', false);
    EXPECT_EQ(line.feed(QByteArray("A\xFF\r")).size(), 1);
}

TEST(MessageAssembly, EndlessUnterminatedInputIsBounded)
{
    MessageAssembler a('\r', false);
    const QByteArray chunk(1000, 'x');
    for (int i = 0; i < 100; ++i)
        a.feed(chunk);
    EXPECT_LE(a.pending().size(), MessageAssembler::kMaxPending + chunk.size());
}

UserTable users()
{
    return {{"Bob", "Secret", "Operator"},
            {"obs", "o", "Observer"},
            {"root", "Root", "Supervisor"},
            {"nobody", "x", "<none>"},
            {"lower", "x", "operator"},
            {"bob", "other", "Supervisor"}};
}

TEST(CheckLogin, NamesAndPasswordsIgnoreCaseAuthorizationDoesNot)
{
    const UserTable u = users();
    LoginResult r = checkLogin(u, "BOB:secret");
    EXPECT_EQ(r.level, 2);
    EXPECT_EQ(r.reply, QByteArray("SVALID OPERATOR"));
    r = checkLogin(u, "obs:O");
    EXPECT_EQ(r.level, 1);
    EXPECT_EQ(r.reply, QByteArray("SVALID OBSERVER"));
    r = checkLogin(u, "Root:rOOT");
    EXPECT_EQ(r.level, 3);
    EXPECT_EQ(r.reply, QByteArray("SVALID SUPERVISOR"));
    // "operator" in lower case is not one of the three level names.
    r = checkLogin(u, "lower:x");
    EXPECT_EQ(r.level, 0);
    EXPECT_TRUE(r.reply.isEmpty());
}

TEST(CheckLogin, FailuresAndOddInput)
{
    const UserTable u = users();
    // First matching row decides, even when a later one would fit.
    EXPECT_EQ(checkLogin(u, "bob:other").reply, QByteArray("INVALID PASSWORD"));
    EXPECT_EQ(checkLogin(u, "nobody:x").level, 0);
    EXPECT_TRUE(checkLogin(u, "nobody:x").reply.isEmpty());
    EXPECT_EQ(checkLogin(u, "ghost:x").reply, QByteArray("INVALID PASSWORD"));
    EXPECT_EQ(checkLogin(u, "ghost:x").level, 0);
    // No colon: empty user name, whole text is the password.
    EXPECT_EQ(checkLogin(u, "Secret").reply, QByteArray("INVALID PASSWORD"));
    EXPECT_EQ(checkLogin({{"", "SECRET", "Observer"}}, "secret").level, 1);
    // Only the first colon splits.
    EXPECT_EQ(checkLogin({{"a", "b:c", "Operator"}}, "a:B:C").level, 2);
    EXPECT_EQ(checkLogin({}, "").reply, QByteArray("INVALID PASSWORD"));
}

using arxtranslation::translate;

TEST(ArxTranslation, FmGroupRows)
{
    // level 1 codes with one argument
    for (int c : {8, 20, 23, 24, 25, 26, 27, 33})
        EXPECT_EQ(translate(0, 1, bytes({c, 0x05, 0xFE})), bytes({c, 0x05, 0xFE})) << c;
    for (int c : {28, 29, 30})
        EXPECT_EQ(translate(0, 1, bytes({c, 0x07, 0xFE})), bytes({c, 0xFE})) << c;
    EXPECT_EQ(translate(0, 1, bytes({31, 1, 2, 0xFE})), bytes({31, 1, 2, 0xFE}));
    EXPECT_EQ(translate(0, 1, bytes({32, 1, 2, 3, 0xFE})), bytes({32, 1, 2, 0xFE}));
    // level 2 codes are refused to an Observer and passed for an Operator
    const QByteArray r = bytes({'R', 1, 2, 3, 4, 5, 6, 0xFE});
    EXPECT_TRUE(translate(0, 1, r).isEmpty());
    EXPECT_EQ(translate(0, 2, r), bytes({'R', 1, 2, 3, 4, 0xFE}));
    EXPECT_EQ(translate(0, 3, bytes({'B', 9, 0xFE})), bytes({'B', 0xFE}));
    EXPECT_EQ(translate(0, 2, bytes({'C', 9, 8, 0xFE})), bytes({'C', 9, 0xFE}));
    EXPECT_EQ(translate(0, 2, bytes({'L', 1, 2, 3, 4, 0xFE})), bytes({'L', 1, 2, 3, 0xFE}));
    EXPECT_EQ(translate(0, 2, bytes({'Q', 1, 2, 3, 0xFE})), bytes({'Q', 1, 2, 3, 0xFE}));
    EXPECT_EQ(translate(0, 2, bytes({'D', 1, 2, 3, 4, 5, 6, 0xFE})), bytes({'D', 1, 2, 3, 4, 5, 0xFE}));
    EXPECT_EQ(translate(0, 2, bytes({'P', 1, 2, 3, 4, 5, 0xFE})), bytes({'P', 1, 2, 3, 4, 5, 0xFE}));
    // unknown codes and level 0
    EXPECT_TRUE(translate(0, 3, bytes({9, 1, 0xFE})).isEmpty());
    EXPECT_TRUE(translate(0, 0, bytes({8, 1, 0xFE})).isEmpty());
}

TEST(ArxTranslation, TvGroupRowsAndLimits)
{
    EXPECT_EQ(translate(1, 1, bytes({20, 49, 0xFE})), bytes({0x14, 49, 0xFE}));
    EXPECT_TRUE(translate(1, 1, bytes({20, 50, 0xFE})).isEmpty());
    EXPECT_EQ(translate(1, 1, bytes({23, 0, 0xFE})), bytes({0x17, 0, 0xFE}));
    EXPECT_TRUE(translate(1, 1, bytes({23, 200, 0xFE})).isEmpty());
    EXPECT_EQ(translate(1, 1, bytes({26, 3, 0xFE})), bytes({0x1A, 3, 0xFE}));
    EXPECT_EQ(translate(1, 1, bytes({27, 3, 0xFE})), bytes({0x1A, 3, 0xFE}));
    EXPECT_EQ(translate(1, 1, bytes({29, 0xFE})), bytes({0x1D, 0xFE}));
    EXPECT_EQ(translate(1, 1, bytes({30, 0xFE})), bytes({0x1E, 0xFE}));
    EXPECT_TRUE(translate(1, 1, bytes({8, 1, 0xFE})).isEmpty()); // FM-only code
    // 'L' and 'Q': the hex pair is read leniently and written back upper-case
    EXPECT_EQ(translate(1, 2, QByteArray("L\x03" "a7\xFE")), QByteArray("L\x03" "07\xFE"));
    EXPECT_EQ(translate(1, 2, QByteArray("Q\x01" "3F\xFE")), QByteArray("Q\x01" "3F\xFE"));
    EXPECT_TRUE(translate(1, 1, QByteArray("L\x03" "12\xFE")).isEmpty());
}

TEST(ArxTranslation, KaModulesRowsAndLimits)
{
    EXPECT_EQ(translate(2, 1, bytes({24, 49, 0xFE})), bytes({0x18, 49, 0xFE}));
    EXPECT_TRUE(translate(2, 1, bytes({24, 50, 0xFE})).isEmpty());
    EXPECT_EQ(translate(3, 1, bytes({24, 52, 0xFE})), bytes({0x18, 52, 0xFE}));
    EXPECT_TRUE(translate(3, 1, bytes({24, 53, 0xFE})).isEmpty());
    for (int fam : {2, 3}) {
        EXPECT_EQ(translate(fam, 1, bytes({25, 200, 0xFE})), bytes({0x19, 200, 0xFE}));
        EXPECT_EQ(translate(fam, 1, bytes({28, 0xFE})), bytes({0x1C, 0xFE}));
        EXPECT_TRUE(translate(fam, 1, bytes({20, 1, 0xFE})).isEmpty());
    }
    EXPECT_EQ(translate(2, 2, QByteArray("P\x02" "1C\xFE")), QByteArray("P\x02" "1C\xFE"));
    EXPECT_EQ(translate(3, 2, QByteArray("P\x02" "1Cz9\xFE")), QByteArray("P\x02" "1C09\xFE"));
    // short message: missing hex characters count as '0'
    EXPECT_EQ(translate(3, 2, QByteArray("P\x02" "1\xFE")), QByteArray("P\x02" "1000\xFE"));
    EXPECT_TRUE(translate(3, 1, QByteArray("P\x02" "1C09\xFE")).isEmpty());
}

} // namespace
