#pragma once
// Tells systemd (Type=notify) that the program is ready, and pings its
// watchdog from the event loop: a loop that stops turning stops the pings,
// and systemd restarts the service. Without systemd it does nothing.
class QObject;

namespace servicenotify {
void ready(QObject *context);
void stopping();
}
