#pragma once
// A repeating timer that shares its wake-ups with every other SharedTimer of
// the same interval: one QTimer per interval in use, firing all its members
// in turn. Eight pages polling at 50 ms then wake the program as often as
// one page does. A member that joins a running group gets its first tick at
// the group's next timeout (within one interval); after that, one tick per
// interval as with a timer of its own. A member may skip rounds it has no
// use for; when every member of a group skips, the group's timer sleeps
// until the first one is due, on the same grid of intervals. GUI thread only.
#include <functional>

class SharedTimer {
public:
    explicit SharedTimer(std::function<void()> onTick);
    ~SharedTimer();
    SharedTimer(const SharedTimer &) = delete;
    SharedTimer &operator=(const SharedTimer &) = delete;

    // Takes effect at once; an active timer moves to the new interval's group.
    void setInterval(int ms);
    int interval() const { return m_interval; }
    void start();
    void stop();
    bool isActive() const { return m_active; }
    // The next `rounds` timeouts of the group pass this member by. Meant to
    // be called from the member's own tick; start() and endSkip() end it.
    void skip(int rounds);
    // Ends a skip: the member ticks at the group's next grid point.
    void endSkip();

    // QTimers running for all shared timers together (for tests and benchmarks).
    static int groupsRunning();
    // What the group of this interval is armed for just now, in ms (0: not
    // running); more than the interval while all its members skip.
    static int groupArmedMs(int interval);

private:
    friend class SharedTimerGroups;
    std::function<void()> m_onTick;
    int m_interval = 0;
    bool m_active = false;
    long long m_due = 0; // the group round this member next ticks in
};
