#pragma once
// The fleet as the broker shows it: every station's status, page state and
// relay servers from PREFIX/+/status, PREFIX/+/pages/+/state and
// PREFIX/+/servers/+. Feeds the console's Network screen and the
// --network-view window. Payloads come from anyone who may publish on the
// broker: bounded in size and count, checked field by field.
#include "network/mqttclient.h"
#include "network/networksettings.h"

#include <QDateTime>
#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QSet>

class MessageLog;
class QTimer;

class NetworkFleet : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxStations = 5000;
    static constexpr int kMaxPayload = 64 * 1024;
    static constexpr int kMaxPages = 8;
    static constexpr int kMaxServers = 8;
    // A page that filed nothing for this long is silent.
    static constexpr int kSilentSeconds = 60;

    NetworkFleet(MessageLog &log, const NetworkSettings &settings, QObject *parent = nullptr);

    void start();
    // Feeds one message as the broker would (the client calls this).
    void take(const QByteArray &topic, const QByteArray &payload);

    // {"broker": {...}, "stations": [...]}: stations needing attention first
    // (offline, then failed or silent pages), each with its pages in the
    // same order.
    QJsonObject json() const;
    QJsonObject stationJson(const QString &id) const;
    int stationCount() const { return int(m_stations.size()); }
    quint64 refused() const { return m_refused; }
    MqttClient &client() { return m_client; }
    const NetworkSettings &settings() const { return m_settings; }

    // "ok", "silent", "failed", "idle" for one page's state as published.
    static QString pageHealth(const QJsonObject &state, const QDateTime &now);

signals:
    // Coalesced: at most once a second, with the stations that changed.
    void changed(const QStringList &stations);

private:
    struct Entry {
        QJsonObject status;
        QMap<int, QJsonObject> pages, servers;
        QDateTime seen;
    };
    void note(const QString &id);

    MessageLog &m_log;
    NetworkSettings m_settings;
    MqttClient m_client;
    QMap<QString, Entry> m_stations;
    QSet<QString> m_changed;
    QTimer *m_notify;
    quint64 m_refused = 0;
};
