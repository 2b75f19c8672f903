#pragma once
// A repeating timer that shares its wake-ups with every other SharedTimer of
// the same interval: one QTimer per interval in use, firing all its members
// in turn. Eight pages polling at 50 ms then wake the program as often as
// one page does. A member that joins a running group gets its first tick at
// the group's next timeout (within one interval); after that, one tick per
// interval as with a timer of its own. GUI thread only.
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

    // QTimers running for all shared timers together (for tests and benchmarks).
    static int groupsRunning();

private:
    friend class SharedTimerGroups;
    std::function<void()> m_onTick;
    int m_interval = 0;
    bool m_active = false;
};
