#include "core/sharedtimer.h"

#include <QTimer>
#include <algorithm>
#include <chrono>
#include <limits>
#include <map>
#include <memory>
#include <vector>

class SharedTimerGroups {
public:
    static SharedTimerGroups &instance()
    {
        // Never destroyed: its timers must not outlive the application object
        // in a static destructor.
        static SharedTimerGroups *groups = new SharedTimerGroups;
        return *groups;
    }

    void join(SharedTimer *t)
    {
        Group &g = m_groups[t->m_interval];
        if (!g.timer) {
            g.timer = std::make_unique<QTimer>();
            const int ms = t->m_interval;
            QObject::connect(g.timer.get(), &QTimer::timeout, [this, ms] { fire(ms); });
        }
        g.members.push_back(t);
        t->m_due = 0;
        if (!g.timer->isActive()) {
            g.armed = 1;
            g.timer->setTimerType(Qt::CoarseTimer);
            g.timer->start(t->m_interval);
            g.lastFire = Clock::now();
        } else {
            soon(g, t->m_interval);
        }
    }

    void skip(SharedTimer *t, int rounds)
    {
        auto it = m_groups.find(t->m_interval);
        if (it != m_groups.end() && rounds > 0)
            t->m_due = it->second.round + rounds + 1;
    }

    void endSkip(SharedTimer *t)
    {
        auto it = m_groups.find(t->m_interval);
        if (it == m_groups.end() || t->m_due <= it->second.round + 1)
            return;
        t->m_due = 0;
        soon(it->second, t->m_interval);
    }

    int armedMs(int ms) const
    {
        auto it = m_groups.find(ms);
        if (it == m_groups.end() || !it->second.timer || !it->second.timer->isActive())
            return 0;
        return it->second.timer->interval();
    }

    void leave(SharedTimer *t)
    {
        auto it = m_groups.find(t->m_interval);
        if (it == m_groups.end())
            return;
        Group &g = it->second;
        for (auto &m : g.members)
            if (m == t)
                m = nullptr; // compacted after the round that may be running
        if (!g.firing)
            compact(g);
    }

    int running() const
    {
        int n = 0;
        for (const auto &[ms, g] : m_groups)
            n += g.timer && g.timer->isActive();
        return n;
    }

private:
    using Clock = std::chrono::steady_clock;

    struct Group {
        std::unique_ptr<QTimer> timer;
        std::vector<SharedTimer *> members;
        bool firing = false;
        long long round = 0;     // rounds since the group started, counted per timeout
        long long armed = 1;     // rounds the timer is armed for from `round`
        Clock::time_point lastFire;
    };

    void fire(int ms)
    {
        Group &g = m_groups[ms];
        g.round += g.armed;
        g.lastFire = Clock::now();
        g.firing = true;
        // Members that join during the round wait for the next one.
        const size_t count = g.members.size();
        for (size_t i = 0; i < count; ++i)
            if (SharedTimer *t = g.members[i]; t && t->m_due <= g.round)
                t->m_onTick();
        g.firing = false;
        compact(g);
        rearm(g, ms);
    }

    // After a round: the timer sleeps until the first member is due.
    static void rearm(Group &g, int ms)
    {
        if (!g.timer->isActive())
            return;
        long long next = std::numeric_limits<long long>::max();
        for (const SharedTimer *t : g.members)
            next = std::min(next, std::max(t->m_due, g.round + 1));
        const long long rounds = next - g.round;
        const int interval = int(std::min<long long>(rounds * ms, std::numeric_limits<int>::max()));
        // Unchanged whole rounds keep running; a timer woken early for part
        // of a round (soon()) has a shorter interval and is set again.
        if (rounds == g.armed && g.timer->interval() == interval)
            return;
        g.armed = rounds;
        // A long sleep ends on time, so that the member finds what it slept for.
        g.timer->setTimerType(rounds > 1 ? Qt::PreciseTimer : Qt::CoarseTimer);
        g.timer->start(interval);
    }

    // A member wants the next grid point: a sleeping timer is woken for it.
    static void soon(Group &g, int ms)
    {
        if (g.firing || g.armed <= 1)
            return; // the round running or the next timeout comes in time
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - g.lastFire).count();
        const long long rounds = elapsed / ms + 1;
        if (rounds >= g.armed)
            return;
        g.armed = rounds;
        g.timer->start(int(rounds * ms - elapsed));
    }

    static void compact(Group &g)
    {
        std::erase(g.members, nullptr);
        if (g.members.empty() && g.timer)
            g.timer->stop();
    }

    std::map<int, Group> m_groups;
};

SharedTimer::SharedTimer(std::function<void()> onTick) : m_onTick(std::move(onTick)) {}

SharedTimer::~SharedTimer() { stop(); }

void SharedTimer::setInterval(int ms)
{
    if (ms == m_interval)
        return;
    const bool active = m_active;
    stop();
    m_interval = ms;
    if (active)
        start();
}

void SharedTimer::start()
{
    if (m_active)
        return;
    m_active = true;
    SharedTimerGroups::instance().join(this);
}

void SharedTimer::skip(int rounds)
{
    if (m_active)
        SharedTimerGroups::instance().skip(this, rounds);
}

void SharedTimer::endSkip()
{
    if (m_active)
        SharedTimerGroups::instance().endSkip(this);
}

void SharedTimer::stop()
{
    if (!m_active)
        return;
    m_active = false;
    SharedTimerGroups::instance().leave(this);
}

int SharedTimer::groupsRunning() { return SharedTimerGroups::instance().running(); }

int SharedTimer::groupArmedMs(int interval) { return SharedTimerGroups::instance().armedMs(interval); }
