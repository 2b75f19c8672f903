#pragma once
// Many descriptors behind one: an epoll set that the event loop watches
// through a single socket notifier. Whatever dispatcher runs the loop (the
// window system's too) then scans one descriptor for all of them instead of
// each one on every pass, and changing what a descriptor waits for is one
// system call rather than a notifier registered anew.
#include <QObject>
#include <cstdint>
#include <vector>

class QSocketNotifier;

class FdPoller : public QObject {
public:
    // Told what epoll reported (EPOLLIN, EPOLLOUT, EPOLLERR, EPOLLHUP). It may
    // remove itself or any other watcher of this poller, even delete them.
    class Watcher {
    public:
        virtual void fdReady(std::uint32_t events) = 0;

    protected:
        ~Watcher() = default;
    };

    explicit FdPoller(QObject *parent = nullptr);
    ~FdPoller() override;

    bool isValid() const { return m_epoll >= 0; }

    // events: EPOLLIN and/or EPOLLOUT (errors and hang-ups always come).
    bool add(int fd, std::uint32_t events, Watcher *watcher);
    void modify(int fd, std::uint32_t events);
    // Before the descriptor is closed; an event already fetched for it is
    // then not delivered.
    void remove(int fd);

    // Delivers what is ready now (the notifier calls it; tests may too).
    void dispatch();

private:
    struct Entry {
        Watcher *watcher = nullptr;
        std::uint32_t generation = 0;
        std::uint32_t events = 0;
    };

    int m_epoll = -1;
    QSocketNotifier *m_notifier = nullptr;
    std::vector<Entry> m_entries; // by descriptor
    std::uint32_t m_nextGeneration = 1;
};
