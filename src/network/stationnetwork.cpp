#include "network/stationnetwork.h"

#include "core/messagelog.h"
#include "network/networkfleet.h"
#include "network/networkpublisher.h"

#include <QJsonArray>

StationNetwork::StationNetwork(MessageLog &log, QObject *parent) : QObject(parent), m_log(log) {}

StationNetwork::~StationNetwork() = default;

void StationNetwork::start(const QString &configDirectory, report::StationReport *report, const QString &consoleUrl)
{
    QString error;
    if (!NetworkSettings::load(configDirectory, m_settings, &error)) {
        m_settings = NetworkSettings{};
        m_log.log(QStringLiteral("Network"), QStringLiteral("Station network off: ") + error, LogLevel::Error);
        return;
    }
    if (!m_settings.enabled())
        return;
    m_fleet = std::make_unique<NetworkFleet>(m_log, m_settings);
    connect(m_fleet.get(), &NetworkFleet::changed, this, [this](const QStringList &ids) {
        QJsonArray stations;
        for (const QString &id : ids)
            if (!id.isEmpty())
                stations.append(m_fleet->stationJson(id));
        QJsonObject broker = m_fleet->json().value(QStringLiteral("broker")).toObject();
        emit event(QJsonObject{{QStringLiteral("type"), QStringLiteral("network")},
                               {QStringLiteral("broker"), broker},
                               {QStringLiteral("stations"), stations}});
    });
    if (!report) {
        startFleet();
        return;
    }
    m_publisher = std::make_unique<NetworkPublisher>(*report, m_settings);
    m_publisher->start(consoleUrl);
}

void StationNetwork::startFleet()
{
    if (m_fleet && m_fleet->client().state() == MqttClient::State::Off)
        m_fleet->start();
}

void StationNetwork::stop(int limitMs, std::function<void()> done)
{
    m_fleet.reset();
    if (!m_publisher) {
        done();
        return;
    }
    m_publisher->stop(limitMs, std::move(done));
}

QJsonObject StationNetwork::json()
{
    if (!m_settings.enabled())
        return QJsonObject{{QStringLiteral("configured"), false}};
    startFleet();
    QJsonObject o = m_fleet ? m_fleet->json() : QJsonObject{};
    o.insert(QStringLiteral("configured"), true);
    if (m_publisher) {
        MqttClient &c = m_publisher->client();
        o.insert(QStringLiteral("publisher"),
                 QJsonObject{{QStringLiteral("station"), m_settings.stationId()},
                             {QStringLiteral("topic"), m_publisher->topic(QString())},
                             {QStringLiteral("state"), c.stateName()},
                             {QStringLiteral("since"), c.since().isValid() ? c.since().toString(Qt::ISODateWithMs) : QString()},
                             {QStringLiteral("queued"), c.queued()},
                             {QStringLiteral("published"), double(c.published())},
                             {QStringLiteral("dropped"), double(c.dropped())}});
    } else {
        o.insert(QStringLiteral("publisher"), QJsonValue());
    }
    return o;
}
