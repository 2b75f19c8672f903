#pragma once
#include <QCoreApplication>
#include <QDeadlineTimer>

// Runs the event loop until the condition holds or the time is up; the time
// is generous because only a failing test ever waits it out.
template <typename F> bool waitFor(F done, int ms = 5000)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}
