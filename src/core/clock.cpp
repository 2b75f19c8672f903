#include "core/clock.h"

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
