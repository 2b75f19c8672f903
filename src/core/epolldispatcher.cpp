#include "core/epolldispatcher.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimerEvent>
#include <QVarLengthArray>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <deque>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace {

using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

struct Timer {
    int id;
    qint64 interval; // as asked, in ms
    Qt::TimerType type;
    QObject *object;
    SteadyClock::duration step;
    SteadyClock::time_point timeout;
    bool inEvent = false;
};

SteadyClock::time_point wholeSecond(SteadyClock::time_point t)
{
    return SteadyClock::time_point(std::chrono::floor<seconds>(t.time_since_epoch()));
}

} // namespace

struct EpollDispatcher::Private {
    // The three QSocketNotifier types of one descriptor.
    struct Watch {
        QSocketNotifier *notifier[3] = {};
        quint32 events = 0; // what epoll watches now
        quint8 pending = 0; // one bit per type: ready and not yet delivered
        bool alwaysReady = false;
    };

    int epollFd = -1;
    int wakeFd = -1;
    std::atomic<bool> wakePending{false};
    std::atomic<bool> interrupted{false};
    std::vector<Watch> watches; // by descriptor
    std::deque<std::pair<int, int>> pending; // (descriptor, type) in the order found ready
    std::vector<int> alwaysReady;
    std::vector<Timer> timers; // by timeout; equal timeouts in the order they came

    void update(int fd)
    {
        Watch &w = watches[size_t(fd)];
        const quint32 want = (w.notifier[QSocketNotifier::Read] ? EPOLLIN : 0u)
                             | (w.notifier[QSocketNotifier::Write] ? EPOLLOUT : 0u)
                             | (w.notifier[QSocketNotifier::Exception] ? EPOLLPRI : 0u);
        if (w.alwaysReady) {
            w.events = want;
            if (!want) {
                w.alwaysReady = false;
                std::erase(alwaysReady, fd);
            }
            return;
        }
        if (want == w.events)
            return;
        epoll_event ev{};
        ev.events = want;
        ev.data.fd = fd;
        const int op = !w.events ? EPOLL_CTL_ADD : want ? EPOLL_CTL_MOD : EPOLL_CTL_DEL;
        int rc = ::epoll_ctl(epollFd, op, fd, &ev);
        // A descriptor closed under a notifier left epoll by itself; its number
        // may be in use again.
        if (rc != 0 && op == EPOLL_CTL_MOD && errno == ENOENT)
            rc = ::epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &ev);
        else if (rc != 0 && op == EPOLL_CTL_ADD && errno == EEXIST)
            rc = ::epoll_ctl(epollFd, EPOLL_CTL_MOD, fd, &ev);
        w.events = want;
        if (rc == 0 || op == EPOLL_CTL_DEL)
            return;
        if (errno == EPERM) {
            // A regular file: poll() calls it ready at every pass, and so do we.
            w.alwaysReady = true;
            alwaysReady.push_back(fd);
        } else {
            qErrnoWarning(errno, "EpollDispatcher: cannot watch descriptor %d", fd);
        }
    }

    void markReady(int fd, quint32 revents)
    {
        if (size_t(fd) >= watches.size() || !watches[size_t(fd)].events) {
            ::epoll_ctl(epollFd, EPOLL_CTL_DEL, fd, nullptr); // nothing watches it any more
            return;
        }
        Watch &w = watches[size_t(fd)];
        const quint32 when[3] = {EPOLLIN | EPOLLHUP | EPOLLERR, EPOLLOUT | EPOLLHUP | EPOLLERR, EPOLLPRI};
        for (int type = 0; type < 3; ++type) {
            const quint8 bit = quint8(1u << type);
            if (w.notifier[type] && (revents & when[type]) && !(w.pending & bit)) {
                w.pending |= bit;
                pending.emplace_back(fd, type);
            }
        }
    }

    // A notifier may disable or delete others from its slot, or run the loop
    // again: each delivery looks its notifier up afresh.
    int activateNotifiers()
    {
        int n = 0;
        while (!pending.empty()) {
            const auto [fd, type] = pending.front();
            pending.pop_front();
            Watch &w = watches[size_t(fd)];
            const quint8 bit = quint8(1u << type);
            if (!(w.pending & bit))
                continue;
            w.pending &= quint8(~bit);
            if (QSocketNotifier *notifier = w.notifier[type]) {
                QEvent event(QEvent::SockAct);
                QCoreApplication::sendEvent(notifier, &event);
                ++n;
            }
        }
        return n;
    }

    Timer *findTimer(int id)
    {
        auto it = std::find_if(timers.begin(), timers.end(), [id](const Timer &t) { return t.id == id; });
        return it == timers.end() ? nullptr : &*it;
    }

    void insertTimer(const Timer &t)
    {
        auto at = std::upper_bound(timers.begin(), timers.end(), t.timeout,
                                   [](SteadyClock::time_point v, const Timer &x) { return v < x.timeout; });
        timers.insert(at, t);
    }

    int waitMs() const
    {
        if (timers.empty())
            return -1;
        const auto left = timers.front().timeout - SteadyClock::now();
        return left <= SteadyClock::duration::zero() ? 0 : int(std::chrono::ceil<milliseconds>(left).count());
    }

    // Each timer due at the start of the pass fires once, in order of its
    // timeout; it is moved to its next timeout before its event, so that the
    // event may stop or restart it. A timer whose event runs the loop again
    // does not fire inside itself.
    int activateTimers()
    {
        const auto now = SteadyClock::now();
        QVarLengthArray<int, 32> due; // on the stack: this runs at every wake-up
        for (const Timer &t : timers) {
            if (t.timeout > now)
                break;
            due.append(t.id);
        }
        int n = 0;
        for (const int id : due) {
            const Timer *found = findTimer(id);
            if (!found || found->timeout > now)
                continue; // stopped or started again by an earlier event
            Timer t = *found;
            std::erase_if(timers, [id](const Timer &x) { return x.id == id; });
            t.timeout += t.step;
            if (t.timeout <= now)
                t.timeout = (t.type == Qt::VeryCoarseTimer ? wholeSecond(now) : now) + t.step;
            const bool send = !t.inEvent;
            t.inEvent = true;
            insertTimer(t);
            if (!send)
                continue;
            QTimerEvent event(id);
            QCoreApplication::sendEvent(t.object, &event);
            if (Timer *still = findTimer(id))
                still->inEvent = false;
            ++n;
        }
        return n;
    }

    void takeWakeUp()
    {
        wakePending.store(false);
        std::uint64_t count;
        [[maybe_unused]] const ssize_t r = ::read(wakeFd, &count, sizeof count);
    }
};

EpollDispatcher::EpollDispatcher(QObject *parent) : QAbstractEventDispatcher(parent), d(std::make_unique<Private>())
{
    d->epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    d->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (d->epollFd < 0 || d->wakeFd < 0)
        qFatal("EpollDispatcher: no epoll or eventfd descriptor");
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = d->wakeFd;
    ::epoll_ctl(d->epollFd, EPOLL_CTL_ADD, d->wakeFd, &ev);
}

EpollDispatcher::~EpollDispatcher()
{
    ::close(d->wakeFd);
    ::close(d->epollFd);
}

bool EpollDispatcher::processEvents(QEventLoop::ProcessEventsFlags flags)
{
    d->interrupted.store(false);
    emit awake();
    QCoreApplication::sendPostedEvents();

    const bool withTimers = !(flags & QEventLoop::X11ExcludeTimers);
    const bool withNotifiers = !(flags & QEventLoop::ExcludeSocketNotifiers);
    const bool canWait = (flags & QEventLoop::WaitForMoreEvents) && !d->interrupted.load();
    if (canWait)
        emit aboutToBlock();
    if (d->interrupted.load())
        return false;

    int timeout = 0;
    if (canWait && !(withNotifiers && !d->alwaysReady.empty()))
        timeout = withTimers ? d->waitMs() : -1;

    int n = 0;
    if (withNotifiers) {
        epoll_event ready[256];
        const int count = ::epoll_wait(d->epollFd, ready, 256, timeout);
        if (count < 0 && errno != EINTR)
            qErrnoWarning(errno, "EpollDispatcher: epoll_wait");
        for (int i = 0; i < count; ++i) {
            if (ready[i].data.fd == d->wakeFd) {
                d->takeWakeUp();
                ++n;
            } else {
                d->markReady(ready[i].data.fd, ready[i].events);
            }
        }
        for (int fd : d->alwaysReady)
            d->markReady(fd, EPOLLIN | EPOLLOUT);
        n += d->activateNotifiers();
    } else {
        pollfd wake{d->wakeFd, POLLIN, 0};
        if (::poll(&wake, 1, timeout) > 0) {
            d->takeWakeUp();
            ++n;
        }
    }
    if (withTimers)
        n += d->activateTimers();
    return n > 0;
}

void EpollDispatcher::registerSocketNotifier(QSocketNotifier *notifier)
{
    const int fd = int(notifier->socket());
    const int type = int(notifier->type());
    if (fd < 0 || type < 0 || type > 2)
        return;
    if (size_t(fd) >= d->watches.size())
        d->watches.resize(size_t(fd) + 1);
    d->watches[size_t(fd)].notifier[type] = notifier;
    d->update(fd);
}

void EpollDispatcher::unregisterSocketNotifier(QSocketNotifier *notifier)
{
    const int fd = int(notifier->socket());
    const int type = int(notifier->type());
    if (fd < 0 || size_t(fd) >= d->watches.size() || type < 0 || type > 2)
        return;
    Private::Watch &w = d->watches[size_t(fd)];
    if (w.notifier[type] != notifier)
        return;
    w.notifier[type] = nullptr;
    w.pending &= quint8(~(1u << type));
    d->update(fd);
}

void EpollDispatcher::registerTimer(int timerId, qint64 interval, Qt::TimerType timerType, QObject *object)
{
    Timer t{timerId, interval, timerType, object, milliseconds(interval), SteadyClock::now()};
    if (timerType == Qt::VeryCoarseTimer) {
        // Whole seconds, to the closest, as Qt's own dispatchers keep them.
        t.step = seconds((interval + 500) / 1000);
        t.timeout = wholeSecond(t.timeout);
    }
    t.timeout += t.step;
    d->insertTimer(t);
}

bool EpollDispatcher::unregisterTimer(int timerId)
{
    return std::erase_if(d->timers, [timerId](const Timer &t) { return t.id == timerId; }) > 0;
}

bool EpollDispatcher::unregisterTimers(QObject *object)
{
    return std::erase_if(d->timers, [object](const Timer &t) { return t.object == object; }) > 0;
}

QList<QAbstractEventDispatcher::TimerInfo> EpollDispatcher::registeredTimers(QObject *object) const
{
    QList<TimerInfo> out;
    for (const Timer &t : d->timers)
        if (t.object == object)
            out.append(TimerInfo(t.id, int(t.interval), t.type));
    return out;
}

int EpollDispatcher::remainingTime(int timerId)
{
    const Timer *t = d->findTimer(timerId);
    if (!t)
        return -1;
    const auto left = t->timeout - SteadyClock::now();
    return left <= SteadyClock::duration::zero() ? 0 : int(std::chrono::ceil<milliseconds>(left).count());
}

void EpollDispatcher::wakeUp()
{
    if (d->wakePending.exchange(true))
        return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t w = ::write(d->wakeFd, &one, sizeof one);
}

void EpollDispatcher::interrupt()
{
    d->interrupted.store(true);
    wakeUp();
}
