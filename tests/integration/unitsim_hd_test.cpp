// The simulated HD monitors and KF-71 on the wire: their line dialogue, the
// frames they stream, and the settings changed by checked commands.
#include "unitsim_support.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <cstring>
#include <functional>

using namespace unitsim;

namespace {

constexpr int kFrame = 1501;
const QByteArray kMarker("\xFF\xFE\xFD", 3);
const QByteArray kKh71Id("KH-71 SN(710123) SW(02.10,01.05) LCD(2) LAN(6.5.0.7)\r");

// "CC"/"PB" text + its check pair (sum of the characters, modulo 256).
QByteArray checked(const QByteArray &text)
{
    unsigned sum = 0;
    for (char c : text)
        sum += quint8(c);
    return text + QByteArray::number(sum & 0xFF, 16).toUpper().rightJustified(2, '0') + '\r';
}

int u16(const QByteArray &f, int i) { return (at(f, i) << 8) | at(f, i + 1); }

int sum16(const QByteArray &f, int from, int to)
{
    int s = 0;
    for (int i = from; i <= to; ++i)
        s += at(f, i);
    return s & 0xFFFF;
}

// Cuts a stream into records of `size` bytes that start with the marker;
// anything between records is counted as stray.
struct Stream {
    int size = kFrame;
    QByteArray pending;
    QList<QByteArray> records;
    int stray = 0;
    void add(const QByteArray &bytes)
    {
        pending += bytes;
        for (;;) {
            const qsizetype p = pending.indexOf(kMarker);
            if (p < 0 || pending.size() - p < size)
                return;
            stray += int(p);
            records << pending.mid(p, size);
            pending.remove(0, p + size);
        }
    }
    // The newest record whose byte at `at` is `value`, or empty.
    QByteArray last(int at, int value) const
    {
        for (qsizetype i = records.size() - 1; i >= 0; --i)
            if (quint8(records[i][at]) == value)
                return records[i];
        return QByteArray();
    }
};

template <typename Caller>
bool readRecords(Caller &c, Stream &s, const std::function<bool()> &done, int ms = 8000)
{
    qsizetype seen = 0;
    c.readUntil([&](const QByteArray &got) {
        s.add(got.mid(seen));
        seen = got.size();
        return done();
    }, ms);
    return done();
}

class UnitsimHd : public SimTest
{
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        trace = dir.filePath(QStringLiteral("unit.trace"));
    }
    QByteArray traceText()
    {
        QFile f(trace);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    bool traceHas(const QString &text) { return traceText().contains(text.toLatin1()); }
    bool waitTrace(const QString &text)
    {
        caller.readUntil([&](const QByteArray &) { return traceHas(text); }, 3000);
        return traceHas(text);
    }
    // Frames the unit says it sent when its data stopped; -1 until it says so.
    int framesAtStop()
    {
        const QByteArray t = traceText();
        const qsizetype p = t.indexOf("data stopped");
        if (p < 0)
            return -1;
        const qsizetype a = t.indexOf(" after ", p), b = t.indexOf(" frames", p);
        return t.mid(a + 7, b - a - 7).toInt();
    }
    QTemporaryDir dir;
    QString trace;
};

// A KH-71 on its pseudo-terminal, byte for byte: log-in, identification,
// every page, a changed setting echoed and kept, and the end of the session.
TEST_F(UnitsimHd, Kh71DialogueAndFramesOverPty)
{
    ASSERT_TRUE(startPty(sim, pty, {"--unit", "kh71", "--rate", "10", "--trace", trace})) << sim.line().toStdString();
    expectReplies(pty, {{"HD\rSC\r", "PASSWORD\r"}, {"KELPO4\r", "VALID SUPERVISOR\r"}, {"UI\r", kKh71Id}});

    pty.send("SD\r");
    Stream s;
    ASSERT_TRUE(readRecords(pty, s, [&] { return s.records.size() >= 12; }));
    QSet<int> pages;
    for (const QByteArray &f : s.records) {
        pages.insert(at(f, 1200));
        EXPECT_EQ(f.indexOf(kMarker, 1), -1) << "a marker inside a frame";
        EXPECT_EQ(u16(f, 1499), sum16(f, 0, 1498)) << "check value";
    }
    EXPECT_EQ(pages, (QSet<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 18}));
    EXPECT_EQ(at(s.records.first(), 1200), 0) << "the data starts with the settings page";
    EXPECT_EQ(s.stray, 0);
    EXPECT_EQ(at(s.last(1200, 0), 1207), 0);

    // Parameter 16 to 1 (check pair 48); a wrong check pair changes nothing.
    pty.send("CC100148\r");
    pty.send("CC10024A\r");
    const qsizetype before = s.records.size();
    ASSERT_TRUE(readRecords(pty, s, [&] {
        const QByteArray settings = s.last(1200, 0);
        return s.records.size() > before + 12 && at(settings, 1207) == 1;
    }));
    const QByteArray echo = s.last(4, 16);
    EXPECT_EQ(echo.mid(4, 5), QByteArray("\x10\x00\x00\x00\x01", 5));
    EXPECT_TRUE(traceHas(QStringLiteral("bad check pair (wants 49)")));
    for (const QByteArray &f : s.records)
        EXPECT_FALSE(at(f, 4) == 16 && at(f, 8) == 2) << "the refused value was echoed";

    // The data stops with the session; every frame sent before arrives whole.
    pty.send("EC\r");
    ASSERT_TRUE(readRecords(pty, s, [&] { return framesAtStop() >= 0 && s.records.size() == framesAtStop(); }));
    EXPECT_TRUE(pty.quiet(400).isEmpty()) << "bytes after the data stopped";
    pty.send("SD\r");
    EXPECT_TRUE(pty.quiet(400).isEmpty()) << "data without a session";
}

struct Dialogue {
    const char *name;
    QStringList args;
    QList<Step> exchanges; // line sent, answer expected
};

// The log-in forms and identification lines each model answers.
TEST_F(UnitsimHd, DialogueForms)
{
    const Dialogue cases[] = {
        {"KH-71 without LCD", {"--unit", "kh71", "--no-lcd", "--lcd-type", "7"},
         {{"UI\r", "KH-71 SN(710123) SW(2.10.05)\r"}}},
        {"KH-71 LCD type", {"--unit", "kh71", "--lcd-type", "c", "--serial", "123"},
         {{"UI\r", "KH-71 SN(123000) SW(02.10,01.05) LCD(C) LAN(6.5.0.7)\r"}}},
        {"KH-72", {"--unit", "kh72"}, {{"UI\r", "KH-72 SN(720456) SW(03.01,01.02) LAN(6.5.0.7)\r"}}},
        {"KF-71 Basic", {"--unit", "kf71", "--option", "basic"},
         {{"UI\r", "KF-71 SN(F71007) SW(01.20,01.03) OPT(0) LAN(6.5.0.7)\r"}}},
        {"own identification", {"--unit", "kh72", "--id", "KH-72 SPECIAL"}, {{"UI\r", "KH-72 SPECIAL\r"}}},
        {"S prompt", {"--unit", "kh71", "--login", "sprompt"},
         {{"SC\r", "SPASSWORD\r"}, {"SPKELPO4\r", "VALID SUPERVISOR\r"}}},
        {"open unit", {"--unit", "kf71", "--login", "open:observer"}, {{"SC\r", "VALID OBSERVER\r"}}},
        {"levels and refusal", {"--unit", "kh72", "--password", "LOOK:OBSERVER", "--password", "OPS:OPERATOR"},
         {{"SC\r", "PASSWORD\r"}, {"LOOK\r", "VALID OBSERVER\r"}, {"SC\r", "PASSWORD\r"},
          {"OPS\r", "VALID OPERATOR\r"}, {"SC\r", "PASSWORD\r"}, {"KELPO4\r", "INVAILD PASSWORD\r"}}},
        // A bare CR drops the prompt: the password that follows is no command.
        {"prompt dropped", {"--unit", "kh71"}, {{"SC\r", "PASSWORD\r"}, {"\rKELPO4\rUI\r", kKh71Id}}},
    };
    for (const Dialogue &d : cases) {
        SCOPED_TRACE(d.name);
        Sim one;
        TcpCaller c;
        ASSERT_TRUE(startTcp(one, c, d.args));
        expectReplies(c, d.exchanges);
    }
}

// A KF-71 over TCP: its pages, radiotext line breaks, a selected setting,
// a derived reading that follows its setting, buttons and the observer's
// refusal; time-stamped frames with stray bytes between them.
TEST_F(UnitsimHd, Kf71FramesAndSettingsOverTcp)
{
    ASSERT_TRUE(startTcp(sim, caller, {"--trace", trace, "--unit", "kf71", "--rate", "25", "--password", "LOOK:OBSERVER",
                                       "--password", "KELPO4", "--stamp", "--noise", "2"}));
    // No data before a session.
    expectReplies(caller, {{"SD\rSC\r", "PASSWORD\r"}, {"LOOK\r", "VALID OBSERVER\r"}});
    caller.send(checked("CC1705"));
    ASSERT_TRUE(waitTrace(QStringLiteral("refused: observer")));
    expectReplies(caller, {{"SC\r", "PASSWORD\r"}, {"KELPO4\r", "VALID SUPERVISOR\r"}});

    caller.send("SD\r");
    Stream s;
    s.size = kFrame + 8;
    ASSERT_TRUE(readRecords(caller, s, [&] { return s.records.size() >= 4; }));
    EXPECT_EQ(s.stray, 3 * (s.records.size() / 2)) << "three stray bytes before every second frame";
    double stamp = 0;
    std::memcpy(&stamp, s.records.last().constData() + kFrame, 8);
    const QDateTime now = QDateTime::currentDateTime();
    const double today = QDate(1899, 12, 30).daysTo(now.date()) + now.time().msecsSinceStartOfDay() / 86400000.0;
    EXPECT_NEAR(stamp, today, 1.0 / 24 / 60) << "local days since 1899-12-30";
    const QByteArray settings = s.last(1250, 0);

    // Parameter 23 set to 5 in its first slot (selector 1); parameter 38 to
    // 0x0200, which moves the reading derived from it.
    caller.send(checked("CC170501"));
    caller.send(checked("CC260200"));
    caller.send(checked("PB11"));
    const int otherSlot = at(settings, 1338);
    const qsizetype before = s.records.size();
    ASSERT_TRUE(readRecords(caller, s, [&] {
        return s.records.size() > before + 3 && at(s.last(1250, 0), 1339) == 5 && !s.last(4, 38).isEmpty();
    }));
    EXPECT_EQ(s.last(4, 23).mid(4, 5), QByteArray("\x17\x00\x00\x05\x01", 5));
    EXPECT_EQ(s.last(4, 38).mid(4, 5), QByteArray("\x26\x00\x00\x02\x00", 5));
    const QByteArray changed = s.last(1250, 0);
    EXPECT_EQ(at(changed, 1338), otherSlot);
    EXPECT_EQ(u16(changed, 1270), 0x0200);
    EXPECT_EQ(u16(changed, 1272 + 2), (98700 + 512 * 10) & 0xFFFF) << "derived reading";
    EXPECT_TRUE(traceHas(QStringLiteral("button 17 pressed")));
}

} // namespace
