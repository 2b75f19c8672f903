// Timers of one interval share one wake-up; members may leave, join and
// change interval from inside a tick.
#include "core/sharedtimer.h"

#include <QTest>
#include <gtest/gtest.h>
#include <memory>

TEST(SharedTimer, OneWakeUpPerIntervalWhateverTheMembers)
{
    const int before = SharedTimer::groupsRunning();
    int a = 0, b = 0, c = 0;
    SharedTimer ta([&] { ++a; }), tb([&] { ++b; }), tc([&] { ++c; });
    ta.setInterval(5);
    tb.setInterval(5);
    tc.setInterval(7);
    ta.start();
    tb.start();
    EXPECT_EQ(SharedTimer::groupsRunning(), before + 1);
    tc.start();
    EXPECT_EQ(SharedTimer::groupsRunning(), before + 2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return a >= 3 && b >= 3 && c >= 3; }, 5000));

    tc.setInterval(5); // joins the running group
    EXPECT_EQ(SharedTimer::groupsRunning(), before + 1);
    const int cNow = c;
    ASSERT_TRUE(QTest::qWaitFor([&] { return c >= cNow + 3; }, 5000));

    ta.stop();
    tb.stop();
    tc.stop();
    EXPECT_EQ(SharedTimer::groupsRunning(), before);
    const int aNow = a;
    QTest::qWait(30);
    EXPECT_EQ(a, aNow);
}

TEST(SharedTimer, MembersChangedFromInsideATick)
{
    int b = 0, moved = 0;
    std::unique_ptr<SharedTimer> tb;
    std::unique_ptr<SharedTimer> tc;
    SharedTimer ta([&] {
        tb.reset(); // a member destroyed by another member's tick
        if (tc && tc->interval() == 5) {
            tc->setInterval(6); // and one moved to another group
            ++moved;
        }
    });
    tb = std::make_unique<SharedTimer>([&] { ++b; });
    int c = 0;
    tc = std::make_unique<SharedTimer>([&] { ++c; });
    for (SharedTimer *t : {&ta, tb.get(), tc.get()}) {
        t->setInterval(5);
        t->start();
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return c >= 3; }, 5000));
    EXPECT_EQ(moved, 1);
    EXPECT_EQ(tc->interval(), 6);
    EXPECT_TRUE(tc->isActive());
    EXPECT_LE(b, 1); // at most the round that was running
    ta.stop();
    tc->stop();
}

// A member that skips rounds keeps the group's grid; when every member
// skips, the group's timer sleeps until the first is due, and a member that
// ends its skip is woken for the next grid point.
TEST(SharedTimer, SkippedRoundsAndASleepingGroup)
{
    const int ms = 40;
    int a = 0, b = 0, skipRounds = 4;
    SharedTimer *self = nullptr;
    SharedTimer ta([&] { ++a; self->skip(skipRounds); }), tb([&] { ++b; });
    self = &ta;
    ta.setInterval(ms);
    tb.setInterval(ms);
    ta.start();
    tb.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return b >= 11; }, 10000));
    EXPECT_EQ(a, (b - 1) / 5 + 1); // rounds 1, 6, 11 ...
    EXPECT_EQ(SharedTimer::groupArmedMs(ms), ms);

    tb.stop(); // a alone: the timer sleeps through its skipped rounds
    skipRounds = 1000;
    const int aNow = a;
    ASSERT_TRUE(QTest::qWaitFor([&] { return a > aNow; }, 10000));
    EXPECT_EQ(SharedTimer::groupArmedMs(ms), 1001 * ms);

    ta.endSkip();
    EXPECT_LE(SharedTimer::groupArmedMs(ms), ms);
    skipRounds = 0;
    const int aWoken = a;
    ASSERT_TRUE(QTest::qWaitFor([&] { return a >= aWoken + 2; }, 10000));
    EXPECT_EQ(SharedTimer::groupArmedMs(ms), ms);
    ta.stop();
    EXPECT_EQ(SharedTimer::groupArmedMs(ms), 0);
}
