// The log player: loading, stepping through a range with and without loop,
// the pickers' interpolation and snapping, the slider's playback flag, and
// the played records reaching a relay client through a server on source 9.
#include "core/datetime.h"
#include "core/messagelog.h"
#include "playback/logplayer.h"
#include "server/relayfixture.h"
#include "support/bytes.h"
#include "support/waitfor.h"

#include <QFile>
#include <QTimer>

namespace {

const QDateTime kStart(QDate(2026, 12, 6), QTime(10, 0, 0));

// A 109-byte record: length 108, a frame whose filler tells it apart, the stamp.
QByteArray logRecord(int index, const QDateTime &stamp)
{
    QByteArray frame = bytes({0xFF, 0xFE, 0xFD, 0xFC}) + QByteArray(96, char('a' + index % 26));
    return QByteArray(1, char(108)) + frame + datetime::stampOf(stamp);
}

class Player : public ::testing::Test {
protected:
    void SetUp() override { log.setEchoToStderr(false); player.setTimerRunning(false); }

    // n records, `stepSecs` apart; extra bytes appended after the last one.
    QString writeLog(int n, int stepSecs = 10, const QByteArray &tail = {})
    {
        const QString path = dir.filePath(QStringLiteral("Connect1-test.LW1"));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        records.clear();
        for (int i = 0; i < n; ++i) {
            records << logRecord(i, kStart.addSecs(qint64(i) * stepSecs));
            f.write(records.last());
        }
        f.write(tail);
        return path;
    }
    void load(int n, int stepSecs = 10)
    {
        QString error;
        ASSERT_TRUE(player.load(writeLog(n, stepSecs), &error)) << error.toStdString();
    }
    int indexOf(const QByteArray &text) const
    {
        for (int i = 0; i < records.size(); ++i)
            if (records[i].mid(1) == text)
                return i;
        return -1;
    }

    QTemporaryDir dir;
    FakeClock clock;
    MessageLog log{clock};
    LogPlayer player{&log};
    QList<QByteArray> records;
};

TEST_F(Player, PartialRecordIsIgnoredWithOneLineEmptyFileIsAnError)
{
    QString error;
    ASSERT_TRUE(player.load(writeLog(2, 10, QByteArray(57, 'x')), &error));
    EXPECT_EQ(player.recordCount(), 2);
    EXPECT_EQ(player.rangeEnd(), 1);
    EXPECT_EQ(player.stopPicker(), kStart.addSecs(10));
    ASSERT_EQ(log.count(), 1);
    EXPECT_TRUE(log.line(0).startsWith("STATUS(")) << log.line(0).toStdString();
    EXPECT_TRUE(log.line(0).contains("the last 57 bytes are not a whole record"));

    // Neither an empty file nor a missing one replaces what is loaded.
    EXPECT_FALSE(player.load(writeLog(0, 10, QByteArray(108, 'x')), &error));
    EXPECT_TRUE(error.endsWith(": Read beyond end of file")) << error.toStdString();
    EXPECT_FALSE(player.load(dir.filePath("absent.LW1"), &error));
    EXPECT_TRUE(player.isLoaded());
    EXPECT_EQ(player.recordCount(), 2);
}

// The stepping cases: the range of records 1..3 in a file of five, reached by
// the pickers, played from its start.
struct StepCase {
    const char *name;
    LogPlayer::Mode mode;
    bool loop;
    int from;                  // position when the mode starts
    QList<int> emitted;        // records relayed in order
    int gap;                   // ticks between two records
    int endPosition;
};

class PlayerSteps : public Player, public ::testing::WithParamInterface<StepCase> {};

TEST_P(PlayerSteps, RangeIsPlayedAsItShould)
{
    const StepCase &c = GetParam();
    load(5);
    player.setStartTime(kStart.addSecs(10));
    player.setStopTime(kStart.addSecs(30));
    ASSERT_EQ(player.rangeStart(), 1);
    ASSERT_EQ(player.rangeEnd(), 3);
    player.sliderChanged(c.from == 1 ? 0 : 100); // the operator puts the position at an end
    ASSERT_EQ(player.position(), c.from);
    player.setLoop(c.loop);
    c.mode == LogPlayer::Mode::Playing       ? player.play()
        : c.mode == LogPlayer::Mode::Rewinding ? player.rewind()
                                               : player.fastForward();
    QList<int> emitted, ticks;
    for (int t = 1; t <= 100 && player.mode() != LogPlayer::Mode::Paused && emitted.size() < c.emitted.size(); ++t) {
        const quint64 before = player.relayStore().sequence();
        player.tick();
        if (player.relayStore().sequence() != before) {
            emitted << indexOf(player.relayStore().current(RecordKind::Arx));
            ticks << t;
        }
    }
    player.tick(); // one more: a range without loop has ended by now
    EXPECT_EQ(emitted, c.emitted);
    for (int i = 1; i < ticks.size(); ++i)
        EXPECT_EQ(ticks[i] - ticks[i - 1], c.gap);
    EXPECT_EQ(player.mode() == LogPlayer::Mode::Paused, !c.loop);
    if (!c.loop) {
        EXPECT_EQ(player.position(), c.endPosition);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlayerSteps,
    ::testing::Values(StepCase{"PlayOnce", LogPlayer::Mode::Playing, false, 1, {1, 2, 3}, 5, 3},
                      StepCase{"PlayLoop", LogPlayer::Mode::Playing, true, 1, {1, 2, 3, 1, 2}, 5, 0},
                      StepCase{"FastForward", LogPlayer::Mode::FastForward, false, 1, {1, 2, 3}, 1, 3},
                      StepCase{"RewindFromStart", LogPlayer::Mode::Rewinding, false, 1, {1}, 1, 1},
                      StepCase{"RewindFromEnd", LogPlayer::Mode::Rewinding, false, 3, {3, 2, 1}, 1, 1},
                      StepCase{"RewindLoop", LogPlayer::Mode::Rewinding, true, 1, {1, 3, 2, 1}, 1, 0}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Player, SingleRecordFilePlaysOnceWithTheSliderAtZero)
{
    load(1);
    EXPECT_EQ(player.rangeEnd(), 0);
    player.play();
    for (int i = 0; i < 20; ++i)
        player.tick();
    EXPECT_EQ(player.relayStore().sequence(), 1u);
    EXPECT_EQ(player.slider(), 0);
    EXPECT_EQ(player.mode(), LogPlayer::Mode::Paused);
}

TEST_F(Player, PickersSnapAndInterpolate)
{
    load(11); // 0..100 s, one record each 10 s
    EXPECT_EQ(player.setStartTime(kStart.addSecs(-60)), kStart);
    EXPECT_EQ(player.rangeStart(), 0);
    EXPECT_EQ(player.setStartTime(kStart.addSecs(44)), kStart.addSecs(44));
    EXPECT_EQ(player.rangeStart(), 4); // 4.4 rounds down
    EXPECT_EQ(player.setStopTime(kStart.addSecs(500)), kStart.addSecs(100));
    EXPECT_EQ(player.rangeEnd(), 10);
    EXPECT_EQ(player.setStopTime(kStart.addSecs(20)), kStart.addSecs(44)); // not before the start picker
    EXPECT_EQ(player.rangeEnd(), 4);
    EXPECT_EQ(player.setStopTime(kStart.addSecs(66)), kStart.addSecs(66));
    EXPECT_EQ(player.rangeEnd(), 7); // 6.6 rounds up
    EXPECT_EQ(player.setStartTime(kStart.addSecs(90)), kStart.addSecs(66)); // not after the stop picker
    EXPECT_EQ(player.position(), 0); // a picker never moves the position

    player.toStart();
    player.toEnd();
    EXPECT_EQ(std::make_tuple(player.rangeStart(), player.position(), player.rangeEnd(), player.slider()),
              std::make_tuple(0, 10, 10, 100));
    EXPECT_EQ(player.startPicker(), kStart);
}

TEST_F(Player, EqualFirstAndLastStampsLeaveTheRangeAlone)
{
    load(4, 0);
    player.setStartTime(kStart.addSecs(5));
    player.setStopTime(kStart.addSecs(-5));
    EXPECT_EQ(std::make_pair(player.rangeStart(), player.rangeEnd()), std::make_pair(0, 3));
}

TEST_F(Player, FirstSliderChangeAfterARecordOnlyClearsTheFlag)
{
    load(5);
    player.fastForward();
    player.tick(); // record 0 relayed, position 1
    player.pause();
    EXPECT_TRUE(player.sliderByPlayback());
    player.sliderChanged(75);
    EXPECT_FALSE(player.sliderByPlayback());
    EXPECT_EQ(player.position(), 1);
    EXPECT_EQ(player.shownTime(), kStart.addSecs(10));
    player.sliderChanged(75);
    EXPECT_EQ(player.position(), 3);
    EXPECT_EQ(player.shownTime(), kStart.addSecs(30));
    EXPECT_EQ(player.relayStore().sequence(), 1u); // moving the slider relays nothing
}

// Integration: a viewer on a relay server whose source is the Log page gets
// the played records as they are played, and again when the range loops.
class LogFileRelay : public RelayFixture {};

TEST_F(LogFileRelay, ViewerReceivesThePlayedRecords)
{
    LogPlayer logPlayer(&log);
    logPlayer.setTimerRunning(false);
    resolver = [&](int n) -> RelaySource * { return n == 9 ? &logPlayer : nullptr; };
    QList<QByteArray> texts;
    const QString path = dir.filePath("played.LW2");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        for (int i = 0; i < 3; ++i) {
            const QByteArray r = logRecord(i, kStart.addSecs(i));
            texts << r.mid(1);
            f.write(r);
        }
    }
    QString error;
    ASSERT_TRUE(logPlayer.load(path, &error)) << error.toStdString();
    auto server = makeServer(9);
    EXPECT_EQ(server->sourceType(), 0);
    auto viewer = connectClient(*server);
    viewer->send(bytes({0x04, 0xFE})); // start data
    settle();

    logPlayer.setLoop(true);
    logPlayer.fastForward();
    QByteArray expected;
    for (int i = 0; i < 4; ++i) { // the fourth record is the first again
        logPlayer.tick();
        server->relayTick();
        expected += texts[i % 3];
        ASSERT_TRUE(viewer->waitFor(expected.size()));
    }
    EXPECT_EQ(viewer->take(), expected);
    EXPECT_TRUE(QFileInfo(path).size() == 3 * LogPlayer::kRecordSize); // read, never written
}

// An idle player stops its timer; playing starts it again.
TEST_F(Player, TimerRunsOnlyWhileThereIsSomethingToPlay)
{
    auto *timer = player.findChild<QTimer *>(QStringLiteral("Timer1"));
    ASSERT_NE(timer, nullptr);
    player.setTimerRunning(true);
    ASSERT_TRUE(waitFor([&] { return !timer->isActive(); }));
    load(3);
    player.fastForward();
    EXPECT_TRUE(timer->isActive());
    ASSERT_TRUE(waitFor([&] { return player.mode() == LogPlayer::Mode::Paused; }));
    EXPECT_TRUE(waitFor([&] { return !timer->isActive(); }));
}

} // namespace
