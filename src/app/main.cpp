// The station server: one window, everything on the event loop.
#include "core/clock.h"
#include "core/version.h"
#include "station/station.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

static int signalPipe[2] = {-1, -1};

static void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

int main(int argc, char **argv)
{
    SystemClock::readTimeZoneOnce();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Server"));
    QApplication::setApplicationVersion(QLatin1String(kProgramVersion));

    Station station(QDir::currentPath(), SystemClock::instance());
    MainWindow window(station);

    // SIGTERM and SIGINT close the window as "Exit" does; the handler only
    // wakes the event loop.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGTERM, &action, nullptr);
        ::sigaction(SIGINT, &action, nullptr);
        auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
            char byte;
            [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &byte, 1);
            window.close();
        });
    }

    window.show();
    return app.exec();
}
