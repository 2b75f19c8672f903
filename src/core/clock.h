#pragma once
// Every part of the engine reads the time through a Clock so that tests can
// drive time-outs and day boundaries with a fake one.
#include <QDateTime>

class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

class SystemClock : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
    static SystemClock &instance();
    // Without TZ set, the C library looks at /etc/localtime again for every
    // local time it gives (hundreds a second with eight pages polling). Call
    // once at start, before anything reads the time: the zone file is then
    // read once. A change of the system's time zone needs a restart.
    static void readTimeZoneOnce();
};
