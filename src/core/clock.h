#pragma once
// Every part of the engine reads the time through a Clock so that tests can
// drive time-outs and day boundaries with a fake one.
#include <QDateTime>

class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    // now() as milliseconds since the epoch. For time spans and receive
    // times, which need no local date: a local date-time costs a time-zone
    // conversion, and some steps run hundreds of times a second.
    virtual qint64 nowMs() const { return now().toMSecsSinceEpoch(); }
    // now().time().msecsSinceStartOfDay(): the local time of day.
    virtual int msecsSinceStartOfDay() const { return now().time().msecsSinceStartOfDay(); }
};

class SystemClock : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
    qint64 nowMs() const override { return QDateTime::currentMSecsSinceEpoch(); }
    // From the epoch time and the zone's offset, which is looked up once a
    // quarter of an hour (zones change their offset only on such a boundary).
    int msecsSinceStartOfDay() const override;
    static int timeOfDayMs(qint64 epochMs);
    static void zoneChangedForTests(); // TZ changed: look the offset up again
    static SystemClock &instance();
    // Without TZ set, the C library looks at /etc/localtime again for every
    // local time it gives (hundreds a second with eight pages polling). Call
    // once at start, before anything reads the time: the zone file is then
    // read once. A change of the system's time zone needs a restart.
    static void readTimeZoneOnce();
};
