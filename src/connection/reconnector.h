#pragma once
// "Reconnect automatically": a page whose link fails, or whose session ends
// in "Error", opens its link again after 10 s, then 20, 40 ... at most 5 min
// between tries, until the unit answers or the operator disconnects. Runs on
// the page's own ticks and clock, so a fake clock drives it in tests.
#include <QDateTime>

class ConnectionPage;

class Reconnector {
public:
    static constexpr int kFirstWaitSeconds = 10;
    static constexpr int kLongestWaitSeconds = 300;

    explicit Reconnector(ConnectionPage &page) : m_page(page) {}

    // Seconds before try n+1 after n failed tries: 10, 20, 40 ... 300.
    static int waitSeconds(int failedTries);

    // The page's openLink(): the link is wanted. An open the page did not
    // get from here (Connect button, start-up) starts the count afresh.
    void linkOpening();
    // closeLink(), Disconnect, shut-down: no more tries.
    void stop();
    // The transport failed (open refused, socket error, device gone).
    void linkFailed();
    // After every page tick: notice a session that ended in "Error", a
    // unit that answers again, a serial device that came back, a try due.
    void check();

    bool waiting() const { return m_waiting; }
    QDateTime nextTry() const { return m_due; }
    int tries() const { return m_tries; }

private:
    bool active() const;
    void schedule();
    void tryNow();

    ConnectionPage &m_page;
    bool m_wanted = false;
    bool m_waiting = false;
    bool m_trying = false;       // inside our own openLink() call
    bool m_deviceMissing = false;
    int m_tries = 0;             // since the link last carried data
    int m_lastState = 0;
    QDateTime m_due;
};
