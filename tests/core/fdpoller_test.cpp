// The poller behind the relay servers' client sockets: an event fetched for a
// descriptor that an earlier watcher of the same batch removed, closed and
// whose number it reused must reach nobody.
#include "core/fdpoller.h"

#include <gtest/gtest.h>

#include <functional>
#include <sys/epoll.h>
#include <unistd.h>

namespace {

struct Pipe {
    int read = -1, write = -1;
    Pipe() { EXPECT_EQ(::pipe(&read), 0); }
    void close()
    {
        ::close(read);
        ::close(write);
        read = write = -1;
    }
    ~Pipe() { close(); }
};

struct CountingWatcher : FdPoller::Watcher {
    int calls = 0;
    std::function<void()> then;
    void fdReady(std::uint32_t) override
    {
        ++calls;
        if (then)
            then();
    }
};

} // namespace

TEST(FdPoller, EventOfARemovedAndReusedDescriptorReachesNobody)
{
    FdPoller poller;
    ASSERT_TRUE(poller.isValid());
    Pipe a, b, reused;
    CountingWatcher wa, wb, wReused;
    ASSERT_TRUE(poller.add(a.read, EPOLLIN, &wa));
    ASSERT_TRUE(poller.add(b.read, EPOLLIN, &wb));
    ASSERT_EQ(::write(a.write, "x", 1), 1);
    ASSERT_EQ(::write(b.write, "x", 1), 1);
    // Whichever comes first in the batch takes the other's descriptor
    // number for a new pipe that is itself readable.
    auto takeOver = [&](Pipe &victim) {
        const int number = victim.read;
        poller.remove(victim.read);
        victim.close();
        reused.close();
        ASSERT_EQ(::pipe(&reused.read), 0);
        ASSERT_EQ(reused.read, number); // lowest free number
        ASSERT_EQ(::write(reused.write, "x", 1), 1);
        ASSERT_TRUE(poller.add(reused.read, EPOLLIN, &wReused));
    };
    wa.then = [&] { takeOver(b); };
    wb.then = [&] { takeOver(a); };
    poller.dispatch();
    EXPECT_EQ(wa.calls + wb.calls, 1);
    EXPECT_EQ(wReused.calls, 0);
    // The new descriptor is reported from the next batch on.
    wa.then = wb.then = nullptr;
    poller.dispatch();
    EXPECT_EQ(wReused.calls, 1);
}
