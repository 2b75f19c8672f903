#pragma once
// Everything the program runs, without windows: the message log, the serial
// library with its COM-port map, the eight connection pages and the eight
// relay servers. The main window owns one; tests and a second copy in the
// chained integration test run it under a QCoreApplication.
#include <QObject>
#include <QStringList>
#include <array>
#include <functional>
#include <memory>

class Clock;
class ComPortMap;
class ConnectionPage;
class LogPlayer;
class MessageLog;
class RelayServers;
class RelaySource;
class SerialLibrary;

class Station : public QObject {
    Q_OBJECT
public:
    static constexpr int kPages = 8;

    Station(const QString &baseDirectory, const Clock &clock, QObject *parent = nullptr);
    ~Station() override;

    QString baseDirectory() const { return m_baseDirectory; }
    QString configDirectory() const;
    MessageLog &messageLog() const { return *m_log; }
    SerialLibrary &serialLibrary() const { return *m_serial; }
    ComPortMap &comPorts() const { return *m_comPorts; }
    RelayServers &servers() const { return *m_servers; }
    // 1..8; nullptr for any other number (the Log tab is 9).
    ConnectionPage *page(int number) const;
    // The relay servers' view of source n: pages 1..8; 9 the log player.
    RelaySource *source(int number) const;
    // The servers serving source 9 follow the new player at once.
    void setLogPlayerSource(RelaySource *source);
    // The Log page's player, source 9 unless replaced above.
    LogPlayer &logPlayer() const { return *m_player; }

    // Start-up: COM-port map, the eight pages' settings (links and logs
    // marked for start-up are opened), then the relay servers. A page whose
    // settings cannot be read or created is not started; the others are.
    // Each failure is logged once as an ERROR line and returned.
    QStringList start();
    bool isStarted() const { return m_started; }

    // The main window is closing: every page's shutdown request, then all
    // servers disabled.
    void shutdown();
    bool isShuttingDown() const { return m_shuttingDown; }
    // The end of the program (window closed, SIGTERM): shutdown() unless it
    // ran already, then the event loop keeps turning until every page has
    // finished its exit sequence (an HD unit is logged off) or limitMs have
    // passed; then the measurement logs are closed and done() is called.
    void finishShutdown(int limitMs, std::function<void()> done);

private:
    QString m_baseDirectory;
    const Clock &m_clock;
    std::unique_ptr<MessageLog> m_log;
    std::unique_ptr<ComPortMap> m_comPorts;
    SerialLibrary *m_serial;
    std::array<ConnectionPage *, kPages> m_pages{};
    RelayServers *m_servers;
    LogPlayer *m_player;
    RelaySource *m_logPlayer = nullptr;
    bool m_started = false;
    bool m_shuttingDown = false;
    bool m_finishing = false;
};
