#pragma once
// The station network as the program runs it: Network.CFG read once at
// start, the publisher (a station) and the fleet view (started by the first
// look at the console's Network screen, or at once in --network-view), and
// what the console's /api/network answers.
#include "network/networksettings.h"

#include <QJsonObject>
#include <QObject>
#include <functional>
#include <memory>

class MessageLog;
class NetworkFleet;
class NetworkPublisher;
namespace report {
class StationReport;
}

class StationNetwork : public QObject {
    Q_OBJECT
public:
    explicit StationNetwork(MessageLog &log, QObject *parent = nullptr);
    ~StationNetwork() override;

    // Reads the file; off when it is missing or names no broker; a file that
    // cannot be used is one ERROR line and the network stays off. With a
    // report the station publishes; without one (--network-view) it only
    // shows the fleet.
    void start(const QString &configDirectory, report::StationReport *report, const QString &consoleUrl);
    void stop(int limitMs, std::function<void()> done);

    bool enabled() const { return m_settings.enabled(); }
    const NetworkSettings &settings() const { return m_settings; }
    NetworkPublisher *publisher() const { return m_publisher.get(); }
    NetworkFleet *fleet() const { return m_fleet.get(); }
    // Subscribes to the fleet's topics now (the Network screen was opened).
    void startFleet();

    // GET /api/network.
    QJsonObject json();

signals:
    // A "network" live event: the stations that changed, and the broker.
    void event(const QJsonObject &event);

private:
    MessageLog &m_log;
    NetworkSettings m_settings;
    std::unique_ptr<NetworkPublisher> m_publisher;
    std::unique_ptr<NetworkFleet> m_fleet;
};
