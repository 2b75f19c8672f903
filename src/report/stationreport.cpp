#include "report/stationreport.h"

#include "connection/connectionpage.h"
#include "connection/measurementlog.h"
#include "core/clock.h"
#include "core/datetime.h"
#include "core/messagelog.h"
#include "server/relayclient.h"
#include "server/relayservers.h"
#include "station/station.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTimer>
#include <QTimeZone>

namespace report {

QString isoTime(const QDateTime &t)
{
    return t.isValid() ? t.toUTC().toString(Qt::ISODateWithMs) : QString();
}

QString utcOffset(const QDateTime &t)
{
    const int s = t.offsetFromUtc();
    const int a = qAbs(s) / 60;
    return QStringLiteral("%1%2:%3")
        .arg(s < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        .arg(a / 60, 2, 10, QLatin1Char('0'))
        .arg(a % 60, 2, 10, QLatin1Char('0'));
}

namespace {

QString levelOf(const QString &line)
{
    if (line.startsWith(QLatin1String("ERROR")))
        return QStringLiteral("error");
    if (line.startsWith(QLatin1String("STATUS")))
        return QStringLiteral("status");
    if (line.startsWith(QLatin1String("DEBUG")))
        return QStringLiteral("debug");
    return QStringLiteral("other");
}

QString linkKind(int type)
{
    switch (type) {
    case connection::Serial: return QStringLiteral("RS-232");
    case connection::Network: return QStringLiteral("Network");
    case connection::Modem: return QStringLiteral("Modem");
    default: return QString();
    }
}

QString linkTarget(const ConnectionSettings &s)
{
    switch (s.connectionType) {
    case connection::Serial: return QStringLiteral("COM%1").arg(s.serialPort + 1);
    case connection::Modem:
        return QStringLiteral("COM%1, %2").arg(s.modemPort + 1).arg(s.phoneNumber);
    case connection::Network:
        return (s.useHostName && !s.hostName.isEmpty() ? s.hostName : s.ipAddress) + QLatin1Char(':')
            + QString::number(s.portNumber);
    default: return QString();
    }
}

// A hash of what linkTarget() shows, without formatting it: the read
// model's page key takes it four times a second. Keep the two on the same fields.
size_t linkTargetKey(const ConnectionSettings &s)
{
    return qHashMulti(0, s.connectionType, s.serialPort, s.modemPort, s.phoneNumber, s.useHostName, s.hostName,
                      s.ipAddress, s.portNumber);
}

QDateTime fromMs(qint64 ms)
{
    return ms > 0 ? QDateTime::fromMSecsSinceEpoch(ms) : QDateTime();
}

// First and last record stamps of an ARX log file; first and last line
// times of an HD text log.
void fileTimes(LogFileRecord &f)
{
    QFile file(f.path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    if (f.name.endsWith(QLatin1String(".TXT"))) {
        auto parse = [](const QByteArray &line) {
            const QList<QByteArray> parts = line.trimmed().split(',');
            if (parts.size() < 2)
                return QDateTime();
            return QDateTime(QDate::fromString(QString::fromLatin1(parts[0]), QStringLiteral("M/d/yyyy")),
                             QTime::fromString(QString::fromLatin1(parts[1]), QStringLiteral("HH:mm:ss")));
        };
        const QList<QByteArray> head = file.read(512).split('\n');
        if (head.size() > 1)
            f.first = parse(head[1]);
        file.seek(qMax<qint64>(0, f.size - 512));
        QList<QByteArray> tail = file.read(512).trimmed().split('\n');
        if (!tail.isEmpty())
            f.last = parse(tail.last());
        return;
    }
    const int size = MeasurementLog::kArxRecordSize;
    const qint64 records = f.size / size;
    auto stampAt = [&](qint64 index) {
        // A record is its length byte, the frame text (frame and stamp) and padding.
        if (!file.seek(index * size))
            return QDateTime();
        const QByteArray r = file.read(size);
        const int length = r.isEmpty() ? 0 : quint8(r[0]);
        if (r.size() < size || length < 8 || length > size - 1)
            return QDateTime();
        return datetime::fromDays(datetime::decodeStamp(r.mid(1 + length - 8, 8)));
    };
    if (records > 0) {
        f.first = stampAt(0);
        f.last = stampAt(records - 1);
    }
}

} // namespace

StationReport::StationReport(Station &station, QObject *parent)
    : QObject(parent), m_station(station), m_timer(new QTimer(this))
{
    qRegisterMetaType<report::MessageRecord>();
    m_startedAt = now();
    connect(&station.messageLog(), &MessageLog::lineAdded, this, [this](const QString &line) { onLine(line); });
    for (int n = 1; n <= Station::kPages; ++n) {
        ConnectionPage *p = station.page(n);
        connect(p, &ConnectionPage::hardwareRowsChanged, this, [this, n] { emit hardwareRowsChanged(n); });
        m_pageKeys[size_t(n - 1)] = pageKey(n);
        m_framesSeen[size_t(n - 1)] = p->record().framesFiled;
    }
    for (int n = 1; n <= RelayServers::kCount; ++n)
        m_serverKeys[size_t(n - 1)] = serverKey(n);
    m_timer->setInterval(kPollMs);
    connect(m_timer, &QTimer::timeout, this, &StationReport::poll);
    m_timer->start();
}

StationReport::~StationReport() = default;

QDateTime StationReport::now() const
{
    return m_station.messageLog().clock().now();
}

QList<ConnectionPage *> StationReport::pages() const
{
    QList<ConnectionPage *> out;
    for (int n = 1; n <= Station::kPages; ++n)
        out << m_station.page(n);
    return out;
}

PageRecord StationReport::page(int number) const
{
    PageRecord p;
    const ConnectionPage *page = m_station.page(number);
    if (!page)
        return p;
    const ConnectionSettings &s = page->settings();
    const ConnectionRecord &r = page->record();
    p.number = number;
    p.name = page->name();
    p.caption = s.connectionName;
    p.hardwareType = s.hardwareType;
    p.hardware = ConnectionPage::hardwareCaption(s.hardwareType).trimmed();
    p.connectionType = s.connectionType;
    p.linkKind = linkKind(s.connectionType);
    p.target = linkTarget(s);
    p.started = page->started();
    p.open = r.portOpen;
    p.openSince = p.open ? m_openSince[size_t(number - 1)] : QDateTime();
    p.state = r.state;
    p.stateText = page->stateText();
    p.phase = r.phase;
    p.counters.framesFiled = r.framesFiled;
    p.counters.bytesReceived = r.bytesReceived;
    p.counters.badFrames = r.badFrames;
    p.counters.logFailures = r.logFailures;
    p.counters.lastFrameAt = fromMs(r.lastFrameMs);
    const MeasurementLog &log = const_cast<ConnectionPage *>(page)->measurementLog();
    p.logOpen = log.isOpen();
    p.logFile = log.isOpen() ? QFileInfo(log.fileName()).fileName() : QString();
    p.logSize = log.isOpen() ? QFileInfo(log.fileName()).size() : 0;
    p.logDirectory = s.logEnabled ? s.logDirectory : QString();
    return p;
}

ServerRecord StationReport::server(int number) const
{
    ServerRecord s;
    const RelayServer *server = m_station.servers().server(number);
    if (!server)
        return s;
    s.number = number;
    s.name = server->pageName();
    s.port = server->settings().listenPort;
    s.boundPort = server->serverPort();
    s.bindAddress = server->settings().bindAddress;
    s.enabled = server->isEnabled();
    s.state = server->isEnabled() ? QStringLiteral("Enabled")
        : server->isFailed()      ? QStringLiteral("Error")
                                  : QStringLiteral("Disabled");
    s.source = server->settings().source;
    s.requireAuth = server->settings().requireAuth;
    s.recordsDelivered = server->counters().recordsDelivered;
    s.viewersDropped = server->counters().viewersDropped;
    s.failedLogins = server->counters().failedLogins;
    for (int i = 0; i < server->clientCount(); ++i) {
        const RelayClient *c = server->client(i);
        ClientRecord cr;
        cr.host = c->hostName;
        cr.address = c->address;
        cr.port = c->clientPort;
        cr.loggedIn = c->loggedIn;
        cr.user = c->loggedIn ? c->user : QString();
        cr.level = c->loggedIn ? c->level : 0;
        cr.since = c->connectedAt;
        cr.started = !c->arxHalted || !c->hdHalted || !c->kfHalted || c->activity == -1;
        cr.bytesQueued = c->socket ? c->socket->bytesToWrite() : 0;
        s.clients << cr;
    }
    return s;
}

QJsonObject StationReport::pageJson(const PageRecord &p, bool detail) const
{
    QJsonObject o{
        {QStringLiteral("number"), p.number},
        {QStringLiteral("name"), p.name},
        {QStringLiteral("caption"), p.caption},
        {QStringLiteral("hardwareType"), p.hardwareType},
        {QStringLiteral("hardware"), p.hardware},
        {QStringLiteral("link"), QJsonObject{{QStringLiteral("kind"), p.linkKind}, {QStringLiteral("target"), p.target}}},
        {QStringLiteral("started"), p.started},
        {QStringLiteral("open"), p.open},
        {QStringLiteral("openSince"), p.openSince.isValid() ? QJsonValue(isoTime(p.openSince)) : QJsonValue()},
        {QStringLiteral("state"), p.state},
        {QStringLiteral("stateText"), p.stateText},
        {QStringLiteral("phase"), p.phase},
    };
    const qint64 silence = p.counters.lastFrameAt.isValid() ? p.counters.lastFrameAt.msecsTo(now()) : -1;
    o.insert(QStringLiteral("counters"),
             QJsonObject{
                 {QStringLiteral("framesFiled"), double(p.counters.framesFiled)},
                 {QStringLiteral("bytesReceived"), double(p.counters.bytesReceived)},
                 {QStringLiteral("badFrames"), double(p.counters.badFrames)},
                 {QStringLiteral("lastFrameAt"),
                  p.counters.lastFrameAt.isValid() ? QJsonValue(isoTime(p.counters.lastFrameAt)) : QJsonValue()},
                 {QStringLiteral("secondsSinceLastFrame"), silence < 0 ? QJsonValue() : QJsonValue(silence / 1000.0)},
             });
    if (!detail)
        return o;
    const ConnectionPage *page = m_station.page(p.number);
    QJsonArray rows;
    for (const HardwareRow &h : page->hardwareRows())
        rows.append(QJsonObject{{QStringLiteral("hardware"), h.hardware},
                                {QStringLiteral("unit"), h.unit},
                                {QStringLiteral("id"), h.id},
                                {QStringLiteral("serial"), h.serial}});
    o.insert(QStringLiteral("hardwareRows"), rows);
    o.insert(QStringLiteral("hardwareThirdColumn"), page->hardwareThirdColumn());
    QJsonArray links;
    for (const ConnectionRow &c : page->connectionRows())
        links.append(QJsonObject{{QStringLiteral("connection"), c.connection},
                                 {QStringLiteral("info"), c.info},
                                 {QStringLiteral("status"), c.status}});
    o.insert(QStringLiteral("connectionRows"), links);
    o.insert(QStringLiteral("identity"), identity(p.number));
    o.insert(QStringLiteral("measurementLog"),
             QJsonObject{{QStringLiteral("open"), p.logOpen},
                         {QStringLiteral("file"), p.logOpen ? QJsonValue(p.logFile) : QJsonValue()},
                         {QStringLiteral("size"), double(p.logSize)},
                         {QStringLiteral("writeFailures"), double(p.counters.logFailures)}});
    return o;
}

QJsonObject StationReport::serverJson(const ServerRecord &s, bool detail) const
{
    QJsonObject o{
        {QStringLiteral("number"), s.number},
        {QStringLiteral("name"), s.name},
        {QStringLiteral("port"), s.port},
        {QStringLiteral("state"), s.state},
        {QStringLiteral("source"), s.source},
        {QStringLiteral("requireAuthentication"), s.requireAuth},
        {QStringLiteral("clientCount"), int(s.clients.size())},
    };
    if (!detail)
        return o;
    o.insert(QStringLiteral("bindAddress"), s.bindAddress);
    o.insert(QStringLiteral("counters"), QJsonObject{{QStringLiteral("recordsDelivered"), double(s.recordsDelivered)},
                                                     {QStringLiteral("viewersDropped"), double(s.viewersDropped)},
                                                     {QStringLiteral("failedLogins"), double(s.failedLogins)}});
    QJsonArray clients;
    for (const ClientRecord &c : s.clients) {
        static const char *const levels[] = {"<none>", "Observer", "Operator", "Supervisor"};
        clients.append(QJsonObject{
            {QStringLiteral("host"), c.host},
            {QStringLiteral("address"), c.address},
            {QStringLiteral("port"), c.port},
            {QStringLiteral("user"), c.loggedIn ? QJsonValue(c.user) : QJsonValue()},
            {QStringLiteral("level"), c.loggedIn && c.level >= 0 && c.level <= 3 ? QJsonValue(QLatin1String(levels[c.level]))
                                                                                 : QJsonValue()},
            {QStringLiteral("connectedSince"), isoTime(c.since)},
            {QStringLiteral("dataStarted"), c.started},
            {QStringLiteral("bytesQueued"), double(c.bytesQueued)},
        });
    }
    o.insert(QStringLiteral("clients"), clients);
    return o;
}

QJsonObject StationReport::messageJson(const MessageRecord &m)
{
    return QJsonObject{{QStringLiteral("id"), double(m.id)},
                       {QStringLiteral("at"), isoTime(m.at)},
                       {QStringLiteral("level"), m.level},
                       {QStringLiteral("text"), m.text}};
}

QJsonObject StationReport::logFileJson(const LogFileRecord &f)
{
    return QJsonObject{{QStringLiteral("name"), f.name},
                       {QStringLiteral("page"), f.page},
                       {QStringLiteral("size"), double(f.size)},
                       {QStringLiteral("first"), f.first.isValid() ? QJsonValue(isoTime(f.first)) : QJsonValue()},
                       {QStringLiteral("last"), f.last.isValid() ? QJsonValue(isoTime(f.last)) : QJsonValue()}};
}

QJsonObject StationReport::stationJson() const
{
    QJsonArray pages, servers;
    for (int n = 1; n <= Station::kPages; ++n)
        pages.append(pageJson(page(n), false));
    for (int n = 1; n <= RelayServers::kCount; ++n)
        servers.append(serverJson(server(n), false));
    const QDateTime t = now();
    return QJsonObject{{QStringLiteral("baseDirectory"), m_station.baseDirectory()},
                       {QStringLiteral("startedAt"), isoTime(m_startedAt)},
                       {QStringLiteral("now"), isoTime(t)},
                       {QStringLiteral("utcOffset"), utcOffset(t)},
                       {QStringLiteral("pages"), pages},
                       {QStringLiteral("servers"), servers}};
}

void StationReport::onLine(const QString &line)
{
    MessageRecord m;
    m.id = m_nextMessageId++;
    m.at = now();
    m.level = levelOf(line);
    m.text = line;
    m_messages.push_back(m);
    while (m_messages.size() > size_t(kMaxMessages))
        m_messages.pop_front();
    // A copy: a listener may log (and so add lines) while it handles this one.
    emit messageAdded(m);
}

QList<MessageRecord> StationReport::messages(quint64 after, const QString &level, int limit) const
{
    QList<MessageRecord> out;
    // Ids increase by one, so the first wanted line is found by arithmetic.
    size_t start = 0;
    if (!m_messages.empty() && after >= m_messages.front().id)
        start = size_t(qMin<quint64>(after - m_messages.front().id + 1, m_messages.size()));
    for (size_t i = start; i < m_messages.size() && out.size() < limit; ++i)
        if (level.isEmpty() || m_messages[i].level == level)
            out << m_messages[i];
    return out;
}

QList<LogFileRecord> StationReport::logFiles() const
{
    QList<LogFileRecord> out;
    QSet<QString> seen;
    for (int n = 1; n <= Station::kPages; ++n) {
        const ConnectionSettings &s = m_station.page(n)->settings();
        const QString ending = s.hardwareType == hardware::Hd ? QStringLiteral(".TXT") : QStringLiteral(".LW%1").arg(n);
        QDir dir(s.logDirectory);
        if (s.logPrefix.isEmpty() || !dir.exists())
            continue;
        const QFileInfoList files = dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo &fi : files) {
            if (!fi.fileName().startsWith(s.logPrefix) || !fi.fileName().endsWith(ending))
                continue;
            if (seen.contains(fi.fileName()))
                continue; // one name, one file: the first page that claims it
            seen.insert(fi.fileName());
            LogFileRecord f;
            f.name = fi.fileName();
            f.page = n;
            f.size = fi.size();
            f.path = fi.absoluteFilePath();
            fileTimes(f);
            out << f;
        }
    }
    return out;
}

size_t StationReport::pageKey(int number) const
{
    // Looked at four times a second for each page: a hash of what the
    // page's event shows, built without the whole record (which looks at
    // the log file on disk).
    const ConnectionPage *page = m_station.page(number);
    if (!page)
        return 0;
    const ConnectionSettings &s = page->settings();
    const ConnectionRecord &r = page->record();
    return qHashMulti(linkTargetKey(s), s.connectionName, s.hardwareType, r.portOpen, r.state, page->stateText(), r.phase,
                      page->started());
}

size_t StationReport::serverKey(int number) const
{
    // Looked at four times a second beside a busy relay: a hash of what the
    // server's event shows, built without copying its clients.
    const RelayServer *s = m_station.servers().server(number);
    size_t h = qHashMulti(0, s->isEnabled(), s->isFailed(), s->settings().listenPort, s->settings().source,
                          s->clientCount());
    for (int i = 0; i < s->clientCount(); ++i) {
        const RelayClient *c = s->client(i);
        h = qHashMulti(h, c->id, c->hostName, c->loggedIn, c->user, c->arxHalted, c->hdHalted, c->kfHalted);
    }
    return h;
}

void StationReport::poll()
{
    for (int n = 1; n <= Station::kPages; ++n) {
        const size_t i = size_t(n - 1);
        const ConnectionPage *p = m_station.page(n);
        const bool open = p->record().portOpen;
        if (open && !m_wasOpen[i])
            m_openSince[i] = now();
        m_wasOpen[i] = open;
        const size_t key = pageKey(n);
        if (key != m_pageKeys[i]) {
            m_pageKeys[i] = key;
            emit pageChanged(n);
        }
        if (p->record().framesFiled != m_framesSeen[i]) {
            m_framesSeen[i] = p->record().framesFiled;
            emit valuesChanged(n);
        }
    }
    for (int n = 1; n <= RelayServers::kCount; ++n) {
        const size_t key = serverKey(n);
        if (key != m_serverKeys[size_t(n - 1)]) {
            m_serverKeys[size_t(n - 1)] = key;
            emit serverChanged(n);
        }
    }
}

} // namespace report
