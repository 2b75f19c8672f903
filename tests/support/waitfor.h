#pragma once
#include <QByteArray>
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

// Gathers what `read` hands out until n bytes have come or the time is up.
template <typename R> QByteArray gather(R read, qsizetype n, int ms = 5000)
{
    QByteArray got;
    waitFor([&] {
        got += read();
        return got.size() >= n;
    }, ms);
    return got;
}
