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
};
