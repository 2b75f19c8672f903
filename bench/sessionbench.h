// What the session benches share: CPU time, a fake clock, and page 1 on the
// bench's own byte link in a temporary folder.
#pragma once

#include "connection/connectionpage.h"
#include "core/clock.h"
#include "core/messagelog.h"
#include "link/bytelink.h"
#include "protocols/sessionfactory.h"

#include <QTemporaryDir>
#include <climits>
#include <cstdio>
#include <ctime>

namespace sessionbench {

inline double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

class StepClock : public Clock {
public:
    QDateTime now() const override { return t; }
    QDateTime t{QDate(2026, 12, 7), QTime(12, 0, 0)};
};

// The unit's side: what send() answers waits here until the session reads
// it, at most `maxRead` bytes a read.
class QueuedLink : public ByteLink {
public:
    explicit QueuedLink(int maxRead = INT_MAX) : m_maxRead(maxRead) {}
    QByteArray waiting;
    QByteArray readSome(int max) override
    {
        const QByteArray out = waiting.left(qMin(max, m_maxRead));
        waiting.remove(0, out.size());
        return out;
    }
    int bytesWaiting() const override { return int(waiting.size()); }
    void clearReceive() override {}

private:
    int m_maxRead;
};

class Harness {
public:
    explicit Harness(ByteLink &link) : log(clock), page(1, ConnectionPage::Environment{dir.path(), &log, &clock, nullptr, createSession})
    {
        log.setEchoToStderr(false);
        page.setTestLink(&link);
    }

    ConnectionSettings defaults() const { return ConnectionSettings::defaults(1, dir.path()); }

    // Opens the page with `s` (and its log, when it keeps one) and ticks at
    // the page's own interval until `phase`, `limit` ticks at most.
    bool reach(const ConnectionSettings &s, int phase, int limit)
    {
        page.setSettings(s);
        if (s.logEnabled)
            page.openLog();
        page.openLink();
        for (int i = 0; i < limit && page.record().phase != phase; ++i) {
            page.tick();
            clock.t = clock.t.addMSecs(page.interval());
        }
        return page.record().phase == phase;
    }

    // One tick of a unit sending 8 frames a second.
    void tick()
    {
        page.tick();
        clock.t = clock.t.addMSecs(125);
    }

    static void report(const char *what, quint64 frames, double used)
    {
        printf("%s: %llu\n", what, static_cast<unsigned long long>(frames));
        printf("CPU per frame: %.2f us (%.4f %% of one core at 8 frames/s)\n", used / double(frames) * 1e6,
               used / double(frames) * 8 * 100);
    }

    QTemporaryDir dir;
    StepClock clock;
    MessageLog log;
    ConnectionPage page;
};

} // namespace sessionbench
