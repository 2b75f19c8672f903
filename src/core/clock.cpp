#include "core/clock.h"

#include <limits>

SystemClock &SystemClock::instance()
{
    static SystemClock clock;
    return clock;
}

void SystemClock::readTimeZoneOnce()
{
    if (!qEnvironmentVariableIsSet("TZ"))
        qputenv("TZ", ":/etc/localtime");
}

namespace {
// Per thread: nothing shared to lock.
thread_local qint64 t_quarter = std::numeric_limits<qint64>::min();
thread_local qint64 t_offsetMs = 0;
} // namespace

int SystemClock::msecsSinceStartOfDay() const
{
    return timeOfDayMs(nowMs());
}

int SystemClock::timeOfDayMs(qint64 epochMs)
{
    constexpr qint64 kQuarterMs = 15 * 60 * 1000;
    constexpr qint64 kDayMs = 24 * 60 * 60 * 1000;
    const qint64 q = epochMs >= 0 ? epochMs / kQuarterMs : (epochMs - kQuarterMs + 1) / kQuarterMs;
    if (q != t_quarter) {
        t_quarter = q;
        t_offsetMs = qint64(QDateTime::fromMSecsSinceEpoch(q * kQuarterMs).offsetFromUtc()) * 1000;
    }
    const qint64 local = (epochMs + t_offsetMs) % kDayMs;
    return int(local < 0 ? local + kDayMs : local);
}

void SystemClock::zoneChangedForTests()
{
    t_quarter = std::numeric_limits<qint64>::min();
}
