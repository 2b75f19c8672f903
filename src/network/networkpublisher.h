#pragma once
// The station on the station network: what the read model (report::
// StationReport) says, published as the console's API gives it, under
// PREFIX/STATION/... Retained state (status, page state, servers) is sent
// again whenever the broker connection comes back; events (message lines)
// wait in the client's queue.
//
// A new kind of record is one call: publishEvent("alarms", json) or
// publishState("pages/3/alarms", json) from a slot on its change signal.
#include "network/mqttclient.h"
#include "network/networksettings.h"

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <array>
#include <functional>

class MessageLog;
class QTimer;
class RelayStore;
namespace report {
class StationReport;
struct MessageRecord;
}

class NetworkPublisher : public QObject {
    Q_OBJECT
public:
    static constexpr int kThrottleMs = 1000;
    // Counters in the retained page state are refreshed this often while
    // frames arrive (a state change goes out at once).
    static constexpr int kCounterRefreshMs = 10000;

    NetworkPublisher(report::StationReport &report, const NetworkSettings &settings, QObject *parent = nullptr);
    ~NetworkPublisher() override;

    // Connects to the broker; the console's address, when known, goes in
    // the status so that the fleet view can open it.
    void start(const QString &consoleUrl = {});
    // Publishes the status offline and closes the connection.
    void stop(int limitMs, std::function<void()> done);

    QString topic(const QString &suffix) const;
    void publishState(const QString &suffix, const QJsonObject &payload);  // retained, QoS 1
    void publishEvent(const QString &suffix, const QJsonObject &payload);  // QoS 1, queued while away

    MqttClient &client() { return m_client; }
    const NetworkSettings &settings() const { return m_settings; }
    QJsonObject statusJson(bool online) const;

private:
    class RecordTap;
    void publishAll();
    void publishActiveAlarms();
    void flush();
    void publishPage(int page);
    void publishValues(int page);
    void publishServer(int server);
    void onMessage(const report::MessageRecord &m);

    report::StationReport &m_report;
    NetworkSettings m_settings;
    QString m_station;
    QString m_consoleUrl;
    MqttClient m_client;
    QTimer *m_flush;
    QSet<int> m_pagesDue, m_valuesDue, m_serversDue;
    std::array<qint64, 8> m_pageSent{};
    std::array<qint64, 8> m_valuesSent{};
    std::vector<std::unique_ptr<RecordTap>> m_taps;
};
