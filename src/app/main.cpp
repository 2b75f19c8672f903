// The station server: one window, or none with --headless; everything on the
// event loop.
#include "app/commandline.h"
#include "app/servicenotify.h"
#include "alarms/alarmmonitor.h"
#include "connection/connectionpage.h"
#include "console/consoleaccounts.h"
#include "console/consoleserver.h"
#include "report/stationreport.h"
#include "core/clock.h"
#include "core/descriptors.h"
#include "core/epolldispatcher.h"
#include "core/messagelog.h"
#include "core/version.h"
#include "network/stationnetwork.h"
#include "station/station.h"
#include "station/stationlock.h"
#include "ui/fleetwindow.h"
#include "ui/alarmsdialog.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHostInfo>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>
#include <iostream>
#include <string>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

// HD pages log off before the program ends; a unit that does not answer
// must not hold a service stop past its time-out.
constexpr int kShutdownLimitMs = 4000;

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT only wake the event loop, which then calls stop();
// a second signal while stopping ends the program at once.
void handleStopSignals(QObject *context, const std::function<void()> &stop)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    // A closed terminal or session ends the program as a stop does.
    ::sigaction(SIGHUP, &action, nullptr);
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [stop, received = 0]() mutable {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &byte, 1);
        if (++received > 1)
            ::_exit(1);
        stop();
    });
}

int usageError(const QString &text)
{
    std::fprintf(stderr, "tolva-server: %s\nTry 'tolva-server --help' for more information.\n",
                 text.toLocal8Bit().constData());
    return 2;
}

QStringList argumentList(int argc, char **argv)
{
    QStringList out;
    for (int i = 0; i < argc; ++i)
        out << QString::fromLocal8Bit(argv[i]);
    return out;
}

// The console beside the station: its read model and HTTP server. A console
// that cannot start says why in one ERROR line; the station runs on.
struct Console {
    std::unique_ptr<report::StationReport> report;
    std::unique_ptr<ConsoleServer> server;
    std::unique_ptr<StationNetwork> network;
    std::unique_ptr<alarms::AlarmMonitor> alarms;
};

// The console's address as another computer reaches it: a wildcard bind
// means this host's name.
QString consoleAddress(const ConsoleServer &server)
{
    if (!server.isListening())
        return {};
    QString url = server.url();
    for (const char *any : {"//0.0.0.0:", "//[::]:"})
        url.replace(QLatin1String(any), QStringLiteral("//%1:").arg(QHostInfo::localHostName()));
    return url;
}

// With Network.CFG naming a broker, the station publishes (or, with
// publish false, only shows the fleet) and the console answers /api/network.
void startConsole(Station &station, Console &console, bool publish = true)
{
    console.report = std::make_unique<report::StationReport>(station);
    console.alarms = std::make_unique<alarms::AlarmMonitor>(*console.report, SystemClock::instance());
    console.alarms->loadSettings();
    console.alarms->start();
    console.server = std::make_unique<ConsoleServer>(station, *console.report);
    QString error;
    if (!console.server->start(&error))
        station.messageLog().log(QStringLiteral("Console"), QStringLiteral("Console not started: ") + error,
                                 LogLevel::Error);
    console.network = std::make_unique<StationNetwork>(station.messageLog());
    StationNetwork *network = console.network.get();
    console.server->setNetworkView([network] { return network->json(); });
    QObject::connect(network, &StationNetwork::event, console.server.get(),
                     [server = console.server.get()](const QJsonObject &e) { server->sendNetworkEvent(e); });
    network->start(station.configDirectory(), publish ? console.report.get() : nullptr, consoleAddress(*console.server));
}

// The station's status goes offline on the broker before the program ends.
void stopNetwork(Console &console, std::function<void()> done)
{
    if (console.network)
        console.network->stop(2000, std::move(done));
    else
        done();
}

// One line from the terminal without echo, or from standard input.
std::string readPassword(const char *prompt, bool terminal)
{
    termios saved{};
    if (terminal) {
        std::fputs(prompt, stderr);
        std::fflush(stderr);
        ::tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    std::getline(std::cin, line);
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputs("\n", stderr);
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

int consoleUser(const CommandLine &command)
{
    const QString path = consoleaccounts::path(QDir::currentPath() + QStringLiteral("/CONFIG"));
    if (!QFileInfo(QFileInfo(path).path()).isDir())
        return usageError(QStringLiteral("no CONFIG directory in %1").arg(QDir::currentPath()));
    QString error;
    if (command.consoleDelete) {
        if (!consoleaccounts::deleteAccount(path, command.consoleUser, &error))
            return usageError(error);
        std::fprintf(stderr, "Console account \"%s\" removed.\n", command.consoleUser.toLocal8Bit().constData());
        return 0;
    }
    const int level = consoleaccounts::levelOf(command.consoleLevel);
    if (level == 0)
        return usageError(QStringLiteral("the level is Observer, Operator or Supervisor"));
    if (!consoleaccounts::validName(command.consoleUser))
        return usageError(QStringLiteral("a console user name is letters, digits, '.', '_' or '-', at most %1")
                              .arg(consoleaccounts::kMaxNameLength));
    const bool terminal = ::isatty(STDIN_FILENO);
    const std::string password = readPassword("Password: ", terminal);
    if (terminal && readPassword("Again: ", true) != password)
        return usageError(QStringLiteral("the two passwords differ"));
    if (!consoleaccounts::setAccount(path, command.consoleUser, level, QByteArray::fromStdString(password), &error))
        return usageError(error);
    std::fprintf(stderr, "Console account \"%s\" (%s) saved in %s.\n", command.consoleUser.toLocal8Bit().constData(),
                 consoleaccounts::levelName(level).toLocal8Bit().constData(), path.toLocal8Bit().constData());
    return 0;
}

int runHeadless(int argc, char **argv)
{
    // With no window to serve, the loop can wait on epoll: a pass then costs
    // what is ready, not every viewer's socket.
    QCoreApplication::setEventDispatcher(new EpollDispatcher);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Server"));
    QCoreApplication::setApplicationVersion(QLatin1String(kProgramVersion));

    Station station(QDir::currentPath(), SystemClock::instance());
    station.messageLog().log(QStringLiteral("Station"),
                             QStringLiteral("tolva-server %1 running without a window in %2")
                                 .arg(QLatin1String(kProgramVersion), station.baseDirectory()),
                             LogLevel::Status);
    // A service without its CONFIG directory would run with nothing to do:
    // say so and stop, so that the service manager shows the failure.
    if (!QFileInfo(station.configDirectory()).isDir()) {
        station.start(); // reports it as a message line
        return 1;
    }
    StationLock lock;
    QString lockError;
    if (!lock.acquire(station.baseDirectory(), &lockError)) {
        station.messageLog().log(QStringLiteral("Station"), lockError, LogLevel::Error);
        return 1;
    }
    Console console;
    QTimer::singleShot(0, &station, [&station, &console, &app] {
        station.start();
        startConsole(station, console);
        servicenotify::ready(&app);
    });
    // The window refreshes the pages' state texts; without one, this does,
    // while any page's timer runs: a resting page's state stays as last
    // shown until it is given work, which wakes this too.
    QTimer stateTimer;
    QObject::connect(&stateTimer, &QTimer::timeout, &station, [&station, &stateTimer] {
        bool busy = false;
        for (int n = 1; n <= Station::kPages; ++n) {
            ConnectionPage *page = station.page(n);
            page->showState();
            busy = busy || (page->timerActive() && !page->timerResting());
        }
        if (!busy)
            stateTimer.stop();
    });
    for (int n = 1; n <= Station::kPages; ++n)
        QObject::connect(station.page(n), &ConnectionPage::timerWoke, &stateTimer, [&stateTimer] {
            if (!stateTimer.isActive())
                stateTimer.start();
        });
    stateTimer.start(625);
    handleStopSignals(&app, [&station, &console] {
        servicenotify::stopping();
        station.finishShutdown(kShutdownLimitMs, [&station, &console] {
            station.messageLog().log(QStringLiteral("Station"), QStringLiteral("tolva-server stopped"), LogLevel::Status);
            stopNetwork(console, [] { QCoreApplication::quit(); });
        });
    });
    return app.exec();
}

// The window's close (Exit, the title bar, a signal) ends the program once
// the station has shut down.
class CloseWatcher : public QObject {
public:
    CloseWatcher(Station &station, Console &console) : m_station(station), m_console(console) {}
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Close)
            QTimer::singleShot(0, &m_station, [this] {
                m_station.finishShutdown(kShutdownLimitMs,
                                         [this] { stopNetwork(m_console, [] { QCoreApplication::quit(); }); });
            });
        return false;
    }

private:
    Station &m_station;
    Console &m_console;
};

int runWindow(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Server"));
    QApplication::setApplicationVersion(QLatin1String(kProgramVersion));
    // The window closing starts the shut-down; the program ends when it is done.
    QApplication::setQuitOnLastWindowClosed(false);

    StationLock lock;
    QString lockError;
    if (!lock.acquire(QDir::currentPath(), &lockError)) {
        QMessageBox::critical(nullptr, QStringLiteral("Server"), lockError);
        return 1;
    }
    Station station(QDir::currentPath(), SystemClock::instance());
    MainWindow window(station);
    Console console;
    QTimer::singleShot(0, &station, [&station, &console, &window] {
        startConsole(station, console);
        addAlarmsMenu(window, *console.report, *console.alarms);
    });
    CloseWatcher watcher(station, console);
    window.installEventFilter(&watcher);
    // SIGTERM, SIGINT and SIGHUP close the window as "Exit" does.
    handleStopSignals(&app, [&window] { window.close(); });

    window.show();
    return app.exec();
}

// A control room's copy: no units, no relay servers, only the fleet as the
// broker shows it, in a window (unless headless) and in the console.
int runNetworkView(int argc, char **argv, bool headless)
{
    std::unique_ptr<QCoreApplication> app;
    if (headless) {
        QCoreApplication::setEventDispatcher(new EpollDispatcher);
        app = std::make_unique<QCoreApplication>(argc, argv);
    } else {
        app = std::make_unique<QApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("Server"));
    QCoreApplication::setApplicationVersion(QLatin1String(kProgramVersion));
    Station station(QDir::currentPath(), SystemClock::instance());
    Console console;
    startConsole(station, console, false);
    if (!console.network->enabled())
        station.messageLog().log(QStringLiteral("Network"),
                                 QStringLiteral("The network view needs a broker: set broker_host in %1")
                                     .arg(NetworkSettings::path(station.configDirectory())),
                                 LogLevel::Error);
    std::unique_ptr<FleetWindow> window;
    if (!headless) {
        QApplication::setQuitOnLastWindowClosed(true);
        window = std::make_unique<FleetWindow>(console.network->fleet(), station.messageLog());
        window->show();
    }
    handleStopSignals(app.get(), [&console] { stopNetwork(console, [] { QCoreApplication::quit(); }); });
    servicenotify::ready(app.get());
    return app->exec();
}

} // namespace

int main(int argc, char **argv)
{
    // Many viewers and ports at once: take every descriptor the system allows.
    descriptors::raiseLimit();
    const CommandLine command = CommandLine::parse(argumentList(argc, argv));
    switch (command.action) {
    case CommandLine::Help:
        std::fputs(CommandLine::helpText().toLocal8Bit().constData(), stdout);
        return 0;
    case CommandLine::Version:
        std::fputs(CommandLine::versionText().toLocal8Bit().constData(), stdout);
        return 0;
    case CommandLine::Error:
        return usageError(command.error);
    case CommandLine::Run:
    case CommandLine::ConsoleUser:
        break;
    }
    // The station directory becomes the current one, as if started there:
    // relative device paths in SerialPorts.CFG keep meaning what they meant.
    if (!command.baseDirectory.isEmpty() && !QDir::setCurrent(command.baseDirectory))
        return usageError(QStringLiteral("base directory '%1' not found").arg(command.baseDirectory));

    if (command.action == CommandLine::ConsoleUser)
        return consoleUser(command);
    SystemClock::readTimeZoneOnce();
    if (command.networkView)
        return runNetworkView(argc, argv, command.headless);
    return command.headless ? runHeadless(argc, argv) : runWindow(argc, argv);
}
