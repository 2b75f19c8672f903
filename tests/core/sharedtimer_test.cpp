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
