#include "core/sharedtimer.h"

#include <QTimer>
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
            g.timer->setInterval(t->m_interval);
            const int ms = t->m_interval;
            QObject::connect(g.timer.get(), &QTimer::timeout, [this, ms] { fire(ms); });
        }
        g.members.push_back(t);
        if (!g.timer->isActive())
            g.timer->start();
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
    struct Group {
        std::unique_ptr<QTimer> timer;
        std::vector<SharedTimer *> members;
        bool firing = false;
    };

    void fire(int ms)
    {
        Group &g = m_groups[ms];
        g.firing = true;
        // Members that join during the round wait for the next one.
        const size_t count = g.members.size();
        for (size_t i = 0; i < count; ++i)
            if (SharedTimer *t = g.members[i])
                t->m_onTick();
        g.firing = false;
        compact(g);
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

void SharedTimer::stop()
{
    if (!m_active)
        return;
    m_active = false;
    SharedTimerGroups::instance().leave(this);
}

int SharedTimer::groupsRunning() { return SharedTimerGroups::instance().running(); }
