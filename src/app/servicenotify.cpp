#include "app/servicenotify.h"

#include <QTimer>

#include <systemd/sd-daemon.h>

namespace servicenotify {

void ready(QObject *context)
{
    sd_notify(0, "READY=1");
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) <= 0 || usec == 0)
        return;
    // Twice per watchdog period, as systemd advises.
    auto *timer = new QTimer(context);
    timer->setInterval(int(qMax<uint64_t>(usec / 2000, 100)));
    QObject::connect(timer, &QTimer::timeout, [] { sd_notify(0, "WATCHDOG=1"); });
    timer->start();
}

void stopping()
{
    sd_notify(0, "STOPPING=1");
}

} // namespace servicenotify
