// The simulated unit's data frames: layouts, block and message checksums,
// setting echoes, interleaving, and the trace of what was sent.
#include "unitsim_support.h"

#include <gtest/gtest.h>

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <array>

using namespace unitsim;

namespace {

struct MessageRule {
    quint8 descriptor;
    int from, to, checksumAt;
    bool byte2Zero;
};

// Information messages as the server checks them, per layout.
const MessageRule fmRules[] = {
    {0x00, 2, 19, 1, false}, {0x01, 2, 18, 1, true},  {0x10, 1, 13, 14, false},
    {0x11, 1, 22, 23, false}, {0x12, 2, 13, 14, false}, {0x20, 2, 18, 1, true},
    {0x30, 2, 18, 1, true},  {0x40, 2, 16, 1, false}, {0x41, 2, 16, 1, true},
    {0x50, 2, 16, 1, false}, {0x51, 2, 16, 1, true},
};
template <typename Rules>
void expectValidMessage(const QByteArray &frame, int infoAt, const Rules &rules, QSet<int> *seen)
{
    const QByteArray m = frame.mid(infoAt);
    for (const MessageRule &r : rules) {
        if (at(m, 0) != r.descriptor)
            continue;
        seen->insert(r.descriptor);
        EXPECT_EQ(sum(m, r.from, r.to), at(m, r.checksumAt)) << "message " << int(r.descriptor);
        if (r.byte2Zero) {
            EXPECT_EQ(at(m, 2), 0) << "message " << int(r.descriptor);
        }
        return;
    }
    ADD_FAILURE() << "unexpected message descriptor " << int(at(m, 0));
}

class UnitsimFrames : public SimTest
{
protected:
    void startLoggedIn(const QStringList &extra, const QByteArray &password = "KELPO4\xFE")
    {
        ASSERT_TRUE(startTcp(sim, caller, extra));
        caller.send(kWake);
        expectReplies(caller, {{kHello, kPassword}});
        expectReplies(caller, {{password, kSupervisor}});
        caller.send(kStart);
    }
    QByteArray poll()
    {
        caller.send(kPoll);
        return caller.readCount(100);
    }
};

TEST_F(UnitsimFrames, NoFramesBeforeStart)
{
    ASSERT_TRUE(startTcp(sim, caller));
    caller.send(kPoll + kPoll);
    EXPECT_TRUE(caller.quiet(300).isEmpty());
    // Start without a log-in does not start the data either.
    caller.send(kStart + kPoll);
    EXPECT_TRUE(caller.quiet(300).isEmpty());
}

TEST_F(UnitsimFrames, FmFramesCarryValidBlocksAndEveryModuleMessage)
{
    startLoggedIn({"--modules", "ks71,kr71,kc71,option", "--history-every", "4"});
    QSet<int> seen;
    int history = 0;
    QSet<QByteArray> blockA;
    QSet<char> channels;
    for (int n = 0; n < 24; ++n) {
        const QByteArray f = poll();
        ASSERT_EQ(f.size(), 100) << "poll " << n;
        EXPECT_TRUE(f.startsWith(QByteArray("\xFF\xFE\xFD\xFC", 4)));
        EXPECT_EQ(sum(f, 4, 24), at(f, 25)) << "block A, poll " << n;
        EXPECT_EQ(sum(f, 29, 49), at(f, 50)) << "block B";
        EXPECT_EQ(sum(f, 53, 59), at(f, 60)) << "block C";
        EXPECT_EQ(sum(f, 63, 69), at(f, 70)) << "block D";
        EXPECT_TRUE(at(f, 69) & 0x80) << "KC-71 block asks to be checked";
        channels.insert(f[63]);
        expectValidMessage(f, 75, fmRules, &seen);
        history += at(f, 24) & 0x01;
        blockA.insert(f.mid(4, 20));
    }
    EXPECT_EQ(seen.size(), 11) << "every identity and configuration message appears";
    EXPECT_EQ(history, 6) << "history bit in every 4th frame";
    EXPECT_GT(blockA.size(), 20) << "measurements change from frame to frame";
    EXPECT_EQ(channels, (QSet<char>{'0', '1'}));
}

TEST_F(UnitsimFrames, RelaySettingIsEchoedInTheNextFrame)
{
    startLoggedIn({});
    // FM value command: code, then raw bytes (FE among them must not end it).
    caller.send(QByteArray("L\x07\xFE\x01\xFE", 5));
    EXPECT_EQ(poll().mid(26, 3), QByteArray("\x07\xFE\x01"));
    // A switch command without a value echoes its code with "no value".
    caller.send(QByteArray("\x1E\xFE", 2)); // FM code 30, no argument
    EXPECT_EQ(poll().mid(26, 3), QByteArray("\x1E\xFF\xFF"));
}

// The TV and AM layouts: blocks that check, the setting's echo in the first
// frame, and every message of the model.
TEST_F(UnitsimFrames, TvAndAmLayouts)
{
    const struct {
        QStringList args;
        const char *password;
        int type;                          // high half of byte 3
        QByteArray setting;                // sent before the first poll
        QList<std::array<int, 3>> blocks;  // first, last, checksum slot
        int echoAt;
        QByteArray echo;
        int infoAt;
        QList<MessageRule> rules;
        int polls;
    } layouts[] = {
        {{"--model", "KV75", "--modules", "kv73"}, "KELPO4\xFE", 0xE, "L\x03" "AF\xFE", {{4, 30, 31}, {34, 40, 41}}, 42, "\x03\xAF", 76,
         {{0x20, 2, 15, 1, false}, {0x30, 2, 15, 1, false}, {0x21, 2, 13, 1, true}, {0x31, 2, 12, 1, true}}, 6},
        {{"--model", "KA72"}, "KELPO4\xFE", 0xC, "P\x05" "01F4\xFE", {{4, 27, 28}}, 29, "\x05\xF4\x01", 70,
         {{0x00, 2, 19, 1, false}, {0x01, 2, 26, 1, true}}, 4},
        {{"--model", "KA71", "--password", "X"}, "X\xFE", 0xC, {}, {{4, 23, 24}}, 0, {}, 28,
         {{0x00, 2, 19, 1, false}, {0x01, 2, 21, 1, true}}, 2},
    };
    for (const auto &l : layouts) {
        SCOPED_TRACE(l.args.join(' ').toStdString());
        sim.stop();
        caller.socket().abort();
        startLoggedIn(l.args, l.password);
        caller.send(l.setting);
        QSet<int> seen;
        for (int n = 0; n < l.polls; ++n) {
            const QByteArray f = poll();
            ASSERT_EQ(f.size(), 100);
            EXPECT_EQ(at(f, 3) >> 4, l.type);
            for (const auto &[first, last, check] : l.blocks)
                EXPECT_EQ(sum(f, first, last), at(f, check)) << "block ending at " << last;
            if (n == 0) {
                EXPECT_EQ(f.mid(l.echoAt, l.echo.size()), l.echo);
            }
            expectValidMessage(f, l.infoAt, l.rules, &seen);
        }
        EXPECT_EQ(seen.size(), l.rules.size());
    }
}

TEST_F(UnitsimFrames, InterleavedFramesAlternateSubTypes)
{
    startLoggedIn({"--interleave"});
    const QByteArray first = poll(), second = poll(), third = poll();
    ASSERT_EQ(first.size(), 100);
    ASSERT_EQ(second.size(), 100);
    EXPECT_EQ(at(first, 3), 0xFB);
    EXPECT_EQ(at(second, 3), 0xFA);
    EXPECT_EQ(at(third, 3), 0xFB);
    // Rebuild the record from the even bytes of both halves: its block A
    // (record slots 4-25) must check.
    QByteArray record(100, '\0');
    for (int k = 0; k < 48; ++k) {
        record[4 + k] = first[4 + 2 * k];
        record[52 + k] = second[4 + 2 * k];
    }
    EXPECT_EQ(sum(record, 4, 24), at(record, 25));
    EXPECT_EQ(sum(record, 29, 49), at(record, 50));
}

TEST_F(UnitsimFrames, TraceRecordsCommandsAndFramesAsSent)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("sim.trace");
    startLoggedIn({"--trace", path});
    const QByteArray f = poll();
    ASSERT_EQ(f.size(), 100);
    const QDateTime now = QDateTime::currentDateTime();
    const double days = double(QDate(1899, 12, 30).daysTo(now.date()))
                        + now.time().msecsSinceStartOfDay() / 86400000.0;
    caller.quiet(100);

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    bool sawWake = false, sawPassword = false, sawFrame = false;
    for (const QByteArray &line : lines) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() < 3)
            continue;
        if (line.contains(" RX 03 FE wake"))
            sawWake = true;
        if (line.contains(" RX 4B 45 4C 50 4F 34 FE password"))
            sawPassword = true;
        if (parts[1] == "FRAME") {
            sawFrame = true;
            EXPECT_EQ(QByteArray::fromHex(parts[3]), f);
            EXPECT_NEAR(parts[2].toDouble(), days, 5.0 / 86400.0);
            EXPECT_GE(parts[2].size(), 16) << "full precision";
        }
    }
    EXPECT_TRUE(sawWake);
    EXPECT_TRUE(sawPassword);
    EXPECT_TRUE(sawFrame);
}

} // namespace
