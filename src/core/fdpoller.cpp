#include "core/fdpoller.h"

#include <QPointer>
#include <QSocketNotifier>

#include <sys/epoll.h>
#include <unistd.h>

namespace {

// The generation tells a descriptor number reused within one batch (closed
// and accepted again by an earlier watcher) from the one the event was for.
std::uint64_t key(int fd, std::uint32_t generation)
{
    return (std::uint64_t(generation) << 32) | std::uint32_t(fd);
}

} // namespace

FdPoller::FdPoller(QObject *parent) : QObject(parent), m_epoll(::epoll_create1(EPOLL_CLOEXEC))
{
    if (m_epoll < 0)
        return;
    m_notifier = new QSocketNotifier(m_epoll, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &FdPoller::dispatch);
}

FdPoller::~FdPoller()
{
    delete m_notifier;
    if (m_epoll >= 0)
        ::close(m_epoll);
}

bool FdPoller::add(int fd, std::uint32_t events, Watcher *watcher)
{
    if (m_epoll < 0 || fd < 0 || !watcher)
        return false;
    if (size_t(fd) >= m_entries.size())
        m_entries.resize(size_t(fd) + 1);
    Entry &e = m_entries[size_t(fd)];
    e = {watcher, m_nextGeneration++, events};
    if (m_nextGeneration == 0)
        m_nextGeneration = 1;
    epoll_event ev {};
    ev.events = events;
    ev.data.u64 = key(fd, e.generation);
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev) == 0)
        return true;
    e = {};
    return false;
}

void FdPoller::modify(int fd, std::uint32_t events)
{
    if (fd < 0 || size_t(fd) >= m_entries.size() || !m_entries[size_t(fd)].watcher)
        return;
    Entry &e = m_entries[size_t(fd)];
    if (e.events == events)
        return;
    e.events = events;
    epoll_event ev {};
    ev.events = events;
    ev.data.u64 = key(fd, e.generation);
    ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &ev);
}

void FdPoller::remove(int fd)
{
    if (fd < 0 || size_t(fd) >= m_entries.size() || !m_entries[size_t(fd)].watcher)
        return;
    m_entries[size_t(fd)] = {};
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
}

void FdPoller::dispatch()
{
    if (m_epoll < 0)
        return;
    // Level-triggered: what is not taken now is reported on the next pass,
    // so one busy batch does not hold up the rest of the loop.
    epoll_event events[64];
    const int n = ::epoll_wait(m_epoll, events, 64, 0);
    const QPointer<FdPoller> alive(this);
    for (int i = 0; i < n && alive; ++i) {
        const int fd = int(std::uint32_t(events[i].data.u64));
        const auto generation = std::uint32_t(events[i].data.u64 >> 32);
        if (size_t(fd) >= m_entries.size())
            continue;
        const Entry &e = m_entries[size_t(fd)];
        if (e.watcher && e.generation == generation)
            e.watcher->fdReady(events[i].events);
    }
}
