#include "network/networkfleet.h"

#include "core/messagelog.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>
#include <algorithm>

namespace {

QString iso(const QDateTime &t)
{
    return t.isValid() ? t.toUTC().toString(Qt::ISODateWithMs) : QString();
}

int rank(const QString &health)
{
    if (health == QLatin1String("failed"))
        return 0;
    if (health == QLatin1String("silent"))
        return 1;
    if (health == QLatin1String("ok"))
        return 2;
    return 3;
}

} // namespace

NetworkFleet::NetworkFleet(MessageLog &log, const NetworkSettings &settings, QObject *parent)
    : QObject(parent), m_log(log), m_settings(settings), m_client(log), m_notify(new QTimer(this))
{
    m_notify->setInterval(1000);
    connect(m_notify, &QTimer::timeout, this, [this] {
        if (m_changed.isEmpty())
            return;
        QStringList ids(m_changed.begin(), m_changed.end());
        ids.sort();
        m_changed.clear();
        emit changed(ids);
    });
    connect(&m_client, &MqttClient::messageReceived, this, &NetworkFleet::take);
    connect(&m_client, &MqttClient::stateChanged, this, [this] { m_changed.insert(QString()); });
}

void NetworkFleet::start()
{
    MqttClient::Options o = MqttClient::brokerOptions(m_settings);
    // Its own client id: the station's publisher may share the broker login.
    o.label = QStringLiteral("Fleet view");
    o.clientId = m_settings.prefix + QStringLiteral("-view-") + m_settings.stationId() + QLatin1Char('-')
        + QString::number(QCoreApplication::applicationPid());
    const QByteArray p = m_settings.prefix.toUtf8();
    m_client.subscribe(p + "/+/status");
    m_client.subscribe(p + "/+/pages/+/state");
    m_client.subscribe(p + "/+/servers/+");
    m_notify->start();
    m_client.start(o);
}

void NetworkFleet::take(const QByteArray &topic, const QByteArray &payload)
{
    const QList<QByteArray> parts = topic.split('/');
    const QString id = QString::fromUtf8(parts.value(1));
    auto refuse = [this] { ++m_refused; };
    if (parts.size() < 3 || parts[0] != m_settings.prefix.toUtf8() || !NetworkSettings::validId(id)) {
        refuse();
        return;
    }
    // A retained topic cleared (empty payload) forgets what it held.
    const bool cleared = payload.isEmpty();
    QJsonObject o;
    if (!cleared) {
        if (payload.size() > kMaxPayload) {
            refuse();
            return;
        }
        QJsonParseError e{};
        const QJsonDocument d = QJsonDocument::fromJson(payload, &e);
        if (e.error != QJsonParseError::NoError || !d.isObject()) {
            refuse();
            return;
        }
        o = d.object();
    }
    // What the topic names: the status, or page or server n.
    enum { Status, Page, Server } kind = Status;
    int n = 0;
    bool ok = false;
    if (parts.size() == 3 && parts[2] == "status") {
        kind = Status;
        ok = true;
    } else if (parts.size() == 5 && parts[2] == "pages" && parts[4] == "state") {
        kind = Page;
        n = parts[3].toInt(&ok);
        ok = ok && n >= 1 && n <= kMaxPages;
    } else if (parts.size() == 4 && parts[2] == "servers") {
        kind = Server;
        n = parts[3].toInt(&ok);
        ok = ok && n >= 1 && n <= kMaxServers;
    }
    if (!ok || (!m_stations.contains(id) && !cleared && m_stations.size() >= kMaxStations)) {
        refuse();
        return;
    }
    if (!m_stations.contains(id) && cleared)
        return;
    Entry &e = m_stations[id];
    if (kind == Status)
        e.status = o;
    else if (cleared)
        (kind == Page ? e.pages : e.servers).remove(n);
    else
        (kind == Page ? e.pages : e.servers)[n] = o;
    if (e.status.isEmpty() && e.pages.isEmpty() && e.servers.isEmpty()) {
        m_stations.remove(id);
    } else {
        e.seen = QDateTime::currentDateTimeUtc();
    }
    note(id);
}

void NetworkFleet::note(const QString &id)
{
    m_changed.insert(id);
}

QString NetworkFleet::pageHealth(const QJsonObject &state, const QDateTime &now)
{
    const int hardware = state.value(QStringLiteral("hardwareType")).toInt(-1);
    const bool started = state.value(QStringLiteral("started")).toBool();
    const bool open = state.value(QStringLiteral("open")).toBool();
    if (!started || hardware < 0)
        return QStringLiteral("idle");
    if (state.value(QStringLiteral("state")).toInt() == 99)
        return QStringLiteral("failed");
    // Closed: a failure where the page should connect by itself; otherwise
    // unused, or closed on purpose.
    if (!open)
        return state.value(QStringLiteral("autoConnect")).toBool() ? QStringLiteral("failed") : QStringLiteral("idle");
    const QJsonObject counters = state.value(QStringLiteral("counters")).toObject();
    const QDateTime last = QDateTime::fromString(counters.value(QStringLiteral("lastFrameAt")).toString(), Qt::ISODateWithMs);
    if (!last.isValid() || last.secsTo(now) > kSilentSeconds)
        return QStringLiteral("silent");
    return QStringLiteral("ok");
}

QJsonObject NetworkFleet::stationJson(const QString &id) const
{
    const auto it = m_stations.constFind(id);
    if (it == m_stations.cend())
        return {};
    const QDateTime now = QDateTime::currentDateTimeUtc();
    struct Page {
        int rank;
        int number;
        QJsonObject json;
    };
    QList<Page> pages;
    int failed = 0, silent = 0;
    for (auto p = it->pages.cbegin(); p != it->pages.cend(); ++p) {
        const QString health = pageHealth(p.value(), now);
        failed += health == QLatin1String("failed");
        silent += health == QLatin1String("silent");
        QJsonObject j{{QStringLiteral("number"), p.key()}, {QStringLiteral("health"), health}};
        // The fields the fleet view shows, each of the type it expects.
        for (const char *key : {"name", "caption", "hardware", "stateText", "openSince"})
            j.insert(QLatin1String(key), p.value().value(QLatin1String(key)).toString());
        j.insert(QStringLiteral("open"), p.value().value(QStringLiteral("open")).toBool());
        j.insert(QStringLiteral("link"), p.value().value(QStringLiteral("link")).toObject());
        j.insert(QStringLiteral("counters"), p.value().value(QStringLiteral("counters")).toObject());
        pages.append(Page{rank(health), p.key(), j});
    }
    std::stable_sort(pages.begin(), pages.end(), [](const Page &a, const Page &b) {
        return a.rank != b.rank ? a.rank < b.rank : a.number < b.number;
    });
    QJsonArray pageList, serverList;
    for (const Page &p : pages)
        pageList.append(p.json);
    for (auto s = it->servers.cbegin(); s != it->servers.cend(); ++s)
        serverList.append(QJsonObject{{QStringLiteral("number"), s.key()},
                                      {QStringLiteral("port"), s.value().value(QStringLiteral("port")).toInt()},
                                      {QStringLiteral("state"), s.value().value(QStringLiteral("state")).toString()},
                                      {QStringLiteral("clientCount"), s.value().value(QStringLiteral("clientCount")).toInt()}});
    const QJsonObject &st = it->status;
    const QString url = st.value(QStringLiteral("consoleUrl")).toString();
    // Only a web address is offered as a link.
    const bool urlOk = url.startsWith(QLatin1String("http://")) || url.startsWith(QLatin1String("https://"));
    return QJsonObject{{QStringLiteral("station"), it.key()},
                       {QStringLiteral("online"), st.value(QStringLiteral("online")).toBool()},
                       {QStringLiteral("version"), st.value(QStringLiteral("version")).toString()},
                       {QStringLiteral("startedAt"), st.value(QStringLiteral("startedAt")).toString()},
                       {QStringLiteral("statusAt"), st.value(QStringLiteral("at")).toString()},
                       {QStringLiteral("consoleUrl"), urlOk ? QJsonValue(url) : QJsonValue()},
                       {QStringLiteral("lastHeard"), iso(it->seen)},
                       {QStringLiteral("failedPages"), failed},
                       {QStringLiteral("silentPages"), silent},
                       {QStringLiteral("pages"), pageList},
                       {QStringLiteral("servers"), serverList}};
}

QJsonObject NetworkFleet::json() const
{
    QList<QJsonObject> stations;
    for (auto it = m_stations.cbegin(); it != m_stations.cend(); ++it)
        stations << stationJson(it.key());
    auto attention = [](const QJsonObject &s) {
        if (!s.value(QStringLiteral("online")).toBool())
            return 0;
        if (s.value(QStringLiteral("failedPages")).toInt())
            return 1;
        if (s.value(QStringLiteral("silentPages")).toInt())
            return 2;
        return 3;
    };
    std::stable_sort(stations.begin(), stations.end(),
                     [&](const QJsonObject &a, const QJsonObject &b) { return attention(a) < attention(b); });
    QJsonArray list;
    int online = 0;
    for (const QJsonObject &s : stations) {
        online += s.value(QStringLiteral("online")).toBool();
        list.append(s);
    }
    return QJsonObject{{QStringLiteral("broker"),
                        QJsonObject{{QStringLiteral("address"), QStringLiteral("%1:%2").arg(m_settings.brokerHost).arg(m_settings.port())},
                                    {QStringLiteral("state"), m_client.stateName()},
                                    {QStringLiteral("since"), iso(m_client.since())},
                                    {QStringLiteral("tls"), m_settings.tls()}}},
                       {QStringLiteral("prefix"), m_settings.prefix},
                       {QStringLiteral("stationCount"), int(stations.size())},
                       {QStringLiteral("online"), online},
                       {QStringLiteral("refusedMessages"), double(m_refused)},
                       {QStringLiteral("stations"), list}};
}
