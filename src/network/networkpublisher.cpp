#include "network/networkpublisher.h"

#include "connection/connectionpage.h"
#include "core/messagelog.h"
#include "core/version.h"
#include "report/stationreport.h"
#include "server/relayservers.h"
#include "station/station.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

namespace {

QByteArray compact(const QJsonObject &o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

// Every filed record of a page, as the relay servers get it (QoS 0: a
// record stream is only worth having live).
class NetworkPublisher::RecordTap : public RelayStoreObserver {
public:
    RecordTap(NetworkPublisher &owner, const RelayStore &store, int page) : m_owner(owner), m_store(&store)
    {
        m_topic = owner.topic(QStringLiteral("pages/%1/records").arg(page)).toUtf8();
        store.addObserver(this);
    }
    ~RecordTap()
    {
        if (m_store)
            m_store->removeObserver(this);
    }
    void recordFiled(RecordKind, const QByteArray &record) override { m_owner.m_client.publish(m_topic, record, 0, false); }
    void storeGone(const RelayStore &) override { m_store = nullptr; }

private:
    NetworkPublisher &m_owner;
    const RelayStore *m_store;
    QByteArray m_topic;
};

NetworkPublisher::NetworkPublisher(report::StationReport &report, const NetworkSettings &settings, QObject *parent)
    : QObject(parent), m_report(report), m_settings(settings), m_station(settings.stationId()),
      m_client(report.station().messageLog()), m_flush(new QTimer(this))
{
    m_flush->setInterval(250);
    connect(m_flush, &QTimer::timeout, this, &NetworkPublisher::flush);
}

NetworkPublisher::~NetworkPublisher() = default;

QString NetworkPublisher::topic(const QString &suffix) const
{
    return m_settings.prefix + QLatin1Char('/') + m_station + QLatin1Char('/') + suffix;
}

QJsonObject NetworkPublisher::statusJson(bool online) const
{
    QJsonObject o{{QStringLiteral("online"), online},
                  {QStringLiteral("station"), m_station},
                  {QStringLiteral("at"), report::isoTime(QDateTime::currentDateTimeUtc())}};
    if (!online)
        return o;
    o.insert(QStringLiteral("version"), QLatin1String(kProgramVersion));
    o.insert(QStringLiteral("startedAt"), report::isoTime(m_report.startedAt()));
    o.insert(QStringLiteral("utcOffset"), report::utcOffset(m_report.now()));
    o.insert(QStringLiteral("pages"), Station::kPages);
    o.insert(QStringLiteral("consoleUrl"), m_consoleUrl.isEmpty() ? QJsonValue() : QJsonValue(m_consoleUrl));
    return o;
}

void NetworkPublisher::start(const QString &consoleUrl)
{
    m_consoleUrl = consoleUrl;
    MqttClient::Options o = MqttClient::brokerOptions(m_settings);
    o.clientId = m_settings.prefix + QLatin1Char('-') + m_station;
    o.willTopic = topic(QStringLiteral("status")).toUtf8();
    // The broker says this when the station vanishes without a word.
    o.willPayload = compact(QJsonObject{{QStringLiteral("online"), false}, {QStringLiteral("station"), m_station},
                                        {QStringLiteral("reason"), QStringLiteral("connection lost")}});
    connect(&m_client, &MqttClient::connected, this, &NetworkPublisher::publishAll);
    connect(&m_report, &report::StationReport::pageChanged, this, [this](int n) { m_pagesDue.insert(n); });
    connect(&m_report, &report::StationReport::hardwareRowsChanged, this, [this](int n) { m_pagesDue.insert(n); });
    connect(&m_report, &report::StationReport::serverChanged, this, [this](int n) { m_serversDue.insert(n); });
    connect(&m_report, &report::StationReport::valuesChanged, this, [this](int n) {
        m_valuesDue.insert(n);
        if (nowMs() - m_pageSent[size_t(n - 1)] >= kCounterRefreshMs)
            m_pagesDue.insert(n);
    });
    connect(&m_report, &report::StationReport::messageAdded, this, &NetworkPublisher::onMessage);
    // Each raise and clear as an event, and the active ones as retained state.
    connect(&m_report, &report::StationReport::alarmChanged, this, [this](const report::AlarmRecord &a) {
        publishEvent(QStringLiteral("alarms"), report::StationReport::alarmJson(a));
        publishActiveAlarms();
    });
    if (m_settings.publishRecords)
        for (int n = 1; n <= Station::kPages; ++n)
            m_taps.push_back(std::make_unique<RecordTap>(*this, m_report.station().page(n)->relayStore(), n));
    m_flush->start();
    m_client.start(o);
}

void NetworkPublisher::stop(int limitMs, std::function<void()> done)
{
    m_flush->stop();
    m_taps.clear();
    m_client.stop(topic(QStringLiteral("status")).toUtf8(), compact(statusJson(false)), limitMs, std::move(done));
}

void NetworkPublisher::publishState(const QString &suffix, const QJsonObject &payload)
{
    m_client.publish(topic(suffix).toUtf8(), compact(payload), 1, true);
}

void NetworkPublisher::publishEvent(const QString &suffix, const QJsonObject &payload)
{
    m_client.publish(topic(suffix).toUtf8(), compact(payload), 1, false);
}

void NetworkPublisher::publishActiveAlarms()
{
    QJsonArray active;
    for (const report::AlarmRecord &a : m_report.alarms(true))
        active.append(report::StationReport::alarmJson(a));
    publishState(QStringLiteral("alarms/active"), QJsonObject{{QStringLiteral("alarms"), active}});
}

void NetworkPublisher::publishAll()
{
    publishState(QStringLiteral("status"), statusJson(true));
    for (int n = 1; n <= Station::kPages; ++n)
        publishPage(n);
    for (int n = 1; n <= RelayServers::kCount; ++n)
        publishServer(n);
    publishActiveAlarms();
    m_pagesDue.clear();
    m_serversDue.clear();
}

void NetworkPublisher::flush()
{
    if (m_client.state() != MqttClient::State::Connected)
        return; // publishAll() sends the state when the broker is back
    const qint64 now = nowMs();
    for (auto it = m_pagesDue.begin(); it != m_pagesDue.end();) {
        if (now - m_pageSent[size_t(*it - 1)] >= kThrottleMs) {
            publishPage(*it);
            it = m_pagesDue.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = m_valuesDue.begin(); it != m_valuesDue.end();) {
        if (now - m_valuesSent[size_t(*it - 1)] >= kThrottleMs) {
            publishValues(*it);
            it = m_valuesDue.erase(it);
        } else {
            ++it;
        }
    }
    for (int n : std::as_const(m_serversDue))
        publishServer(n);
    m_serversDue.clear();
}

void NetworkPublisher::publishPage(int page)
{
    m_pageSent[size_t(page - 1)] = nowMs();
    QJsonObject o = m_report.pageJson(m_report.page(page), false);
    o.insert(QStringLiteral("identity"), m_report.identity(page));
    // Whether the page should be connected: the fleet view tells a failed
    // link from an unused or deliberately closed page by it.
    o.insert(QStringLiteral("autoConnect"), m_report.station().page(page)->settings().autoConnect);
    o.insert(QStringLiteral("at"), report::isoTime(QDateTime::currentDateTimeUtc()));
    publishState(QStringLiteral("pages/%1/state").arg(page), o);
}

void NetworkPublisher::publishValues(int page)
{
    m_valuesSent[size_t(page - 1)] = nowMs();
    if (!m_settings.publishValues)
        return;
    // Not retained: a value is news only when it is new.
    m_client.publish(topic(QStringLiteral("pages/%1/values").arg(page)).toUtf8(),
                     compact(QJsonObject{{QStringLiteral("page"), page},
                                         {QStringLiteral("at"), report::isoTime(QDateTime::currentDateTimeUtc())},
                                         {QStringLiteral("values"), m_report.values(page)}}),
                     0, false);
}

void NetworkPublisher::publishServer(int server)
{
    publishState(QStringLiteral("servers/%1").arg(server), m_report.serverJson(m_report.server(server), false));
}

void NetworkPublisher::onMessage(const report::MessageRecord &m)
{
    publishEvent(QStringLiteral("messages"), report::StationReport::messageJson(m));
}
