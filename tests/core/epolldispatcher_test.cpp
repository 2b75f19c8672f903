// The loop's dispatcher in the engine's tests (installed by the test main):
// timers in order of their timeouts, socket notifiers, wake-ups from
// another thread.
#include "core/epolldispatcher.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

TEST(EpollDispatcher, IsTheLoopsDispatcher)
{
    EXPECT_NE(dynamic_cast<EpollDispatcher *>(QAbstractEventDispatcher::instance()), nullptr);
}

TEST(EpollDispatcher, TimersFireInOrderOfTheirTimeouts)
{
    std::vector<int> order;
    QTimer::singleShot(30, Qt::PreciseTimer, [&] { order.push_back(30); });
    QTimer::singleShot(20, Qt::CoarseTimer, [&] { order.push_back(20); });
    QTimer::singleShot(0, [&] { order.push_back(0); });
    QTimer::singleShot(10, Qt::PreciseTimer, [&] { order.push_back(10); });
    QTimer repeating;
    int fired = 0;
    QObject::connect(&repeating, &QTimer::timeout, [&] {
        if (++fired == 3)
            repeating.stop(); // stopped from its own event
    });
    repeating.start(1);
    EXPECT_GE(repeating.remainingTime(), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return order.size() == 4 && !repeating.isActive(); }, 5000));
    EXPECT_EQ(order, (std::vector<int>{0, 10, 20, 30}));
    EXPECT_EQ(fired, 3);
    EXPECT_EQ(repeating.remainingTime(), -1);
}

// Two descriptors ready in one pass: the first notifier deletes the second,
// which must then not be delivered.
TEST(EpollDispatcher, SocketNotifiersFireAndMayDeleteEachOther)
{
    int a[2], b[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, a), 0);
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, b), 0);
    auto na = std::make_unique<QSocketNotifier>(a[0], QSocketNotifier::Read);
    auto nb = std::make_unique<QSocketNotifier>(b[0], QSocketNotifier::Read);
    int fired = 0;
    auto fire = [&](int fd, std::unique_ptr<QSocketNotifier> &other) {
        char c;
        EXPECT_EQ(::read(fd, &c, 1), 1);
        ++fired;
        other.reset();
    };
    QObject::connect(na.get(), &QSocketNotifier::activated, [&] { fire(a[0], nb); });
    QObject::connect(nb.get(), &QSocketNotifier::activated, [&] { fire(b[0], na); });
    ASSERT_EQ(::write(a[1], "x", 1), 1);
    ASSERT_EQ(::write(b[1], "y", 1), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fired > 0; }, 5000));
    QCoreApplication::processEvents();
    EXPECT_EQ(fired, 1);
    for (int fd : {a[0], a[1], b[0], b[1]})
        ::close(fd);
}

TEST(EpollDispatcher, AnotherThreadWakesTheWaitingLoop)
{
    QEventLoop loop;
    std::atomic<bool> blocking = false;
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &loop,
                     [&] { blocking = true; });
    bool woken = false;
    std::thread poster([&] {
        while (!blocking)
            std::this_thread::yield();
        QMetaObject::invokeMethod(&loop, [&] { woken = true; loop.quit(); }, Qt::QueuedConnection);
    });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit); // only if the wake-up is lost
    loop.exec();
    poster.join();
    EXPECT_TRUE(woken);
}
