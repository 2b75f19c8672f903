#include "server/relayserver.h"

#include "connection/relaysource.h"
#include "core/clock.h"
#include "core/descriptors.h"
#include "core/fdpoller.h"
#include "core/messagelog.h"
#include "core/socketerrors.h"
#include "server/relayclient.h"

#include <QCoreApplication>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTimer>

#include <unistd.h>

namespace {

QString dottedAddress(const QHostAddress &address)
{
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok ? QHostAddress(v4).toString() : address.toString();
}

QString localAddressText()
{
    for (const QHostAddress &a : QNetworkInterface::allAddresses()) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback())
            return a.toString();
    }
    return QStringLiteral("127.0.0.1");
}

// One epoll set for the relay servers of a thread, made with the first and
// closed with the last. The window's event loop polls every descriptor it
// watches at each wake-up; eight sets would be eight more for every frame.
std::shared_ptr<FdPoller> threadPoller()
{
    thread_local std::weak_ptr<FdPoller> shared;
    std::shared_ptr<FdPoller> poller = shared.lock();
    if (!poller) {
        poller = std::make_shared<FdPoller>();
        shared = poller;
    }
    return poller;
}

// Hands each accepted descriptor over as it is: the server wraps it in its
// own client socket, outside Qt's per-socket notifiers.
class ClientListener : public QTcpServer {
public:
    using QTcpServer::QTcpServer;
    std::function<void(qintptr)> onIncoming;

protected:
    void incomingConnection(qintptr fd) override
    {
        if (onIncoming)
            onIncoming(fd);
        else
            ::close(int(fd));
    }
};

} // namespace

RelayServer::RelayServer(int number, const QString &baseDir, MessageLog &log, const Clock &clock,
                         SourceResolver resolver, QObject *parent)
    : QObject(parent), m_number(number), m_baseDir(baseDir), m_log(log), m_clock(clock),
      m_resolver(std::move(resolver)), m_listener(new ClientListener(this)), m_poller(threadPoller()),
      m_timer(new QTimer(this))
{
    setObjectName(QStringLiteral("Server") + QString::number(number));
    m_settings.source = number;
    m_settings.listenPort = 80 + number;
    static_cast<ClientListener *>(m_listener)->onIncoming = [this](qintptr fd) { onNewConnection(fd); };
    connect(m_listener, &QTcpServer::acceptError, this, &RelayServer::onAcceptError);
    descriptors::reserve();
    m_timer->setInterval(kHousekeepingMs);
    connect(m_timer, &QTimer::timeout, this, &RelayServer::relayTick);
    m_statusRow.port = QString::number(m_settings.listenPort);
    m_statusRow.status = QStringLiteral("Disabled");
}

RelayServer::~RelayServer()
{
    subscribe(nullptr);
    static_cast<ClientListener *>(m_listener)->onIncoming = nullptr;
    m_clients.clear(); // before the poller that watches their sockets
}

bool RelayServer::loadSettings(QString &error)
{
    if (!serverfiles::loadSettings(m_baseDir, pageName(), m_settings, error))
        return false;
    if (!serverfiles::loadUsers(m_baseDir, pageName(), m_users, error))
        return false;
    m_enabled = false;
    m_failed = false;
    showStatus();
    if (m_settings.enableOnStartup)
        enable();
    return true;
}

bool RelayServer::save(QString &error)
{
    return serverfiles::saveSettings(m_baseDir, pageName(), m_settings, error)
        && serverfiles::saveUsers(m_baseDir, pageName(), m_users, error);
}

void RelayServer::takeOver(const ServerSettings &settings, const UserTable &users)
{
    disable();
    m_settings = settings;
    m_users = users;
}

RelaySource *RelayServer::currentSource() const
{
    if (m_settings.source < 1 || m_settings.source > 9 || !m_resolver)
        return nullptr;
    return m_resolver(m_settings.source);
}

RelaySource *RelayServer::commandSource() const
{
    return m_settings.source >= 1 && m_settings.source <= 8 ? currentSource() : nullptr;
}

void RelayServer::refreshSourceType()
{
    // The log player is always ARX, whether or not it answers; with no
    // source the dialect stays what it was.
    if (m_settings.source == 9)
        m_sourceType = 0;
    else if (RelaySource *src = currentSource())
        m_sourceType = src->hardwareType();
}

quint16 RelayServer::serverPort() const
{
    return m_listener->isListening() ? m_listener->serverPort() : 0;
}

// Linux keeps ports below 1024 for privileged programs; the default relay
// ports 81-88 are among them.
static QString privilegedPortHint(int port)
{
    return QStringLiteral("Port %1 is below 1024 and needs a privilege: run the tolva-server service, "
                          "or allow it with \"sudo setcap cap_net_bind_service=+ep %2\", "
                          "or choose a port from 1024 up")
        .arg(port)
        .arg(QCoreApplication::applicationFilePath());
}

void RelayServer::enable()
{
    auto &hook = socketerrors::Hook::instance();
    m_enabled = false;
    m_failed = false;
    m_acceptPaused = false;
    hook.clearFlag();
    hook.setCurrentServerName(pageName());
    refreshSourceType();
    if (m_sourceType >= 0 && m_sourceType <= 3) {
        // A port outside 0..65535 must not wrap round to another one.
        const int port = m_settings.listenPort;
        const QHostAddress address = m_settings.bindAddress.isEmpty() ? QHostAddress(QHostAddress::Any)
                                                                      : QHostAddress(m_settings.bindAddress);
        const bool valid = port >= 0 && port <= 65535 && !address.isNull();
        const bool listening = valid && m_listener->listen(address, quint16(port));
        if (!valid) {
            hook.report(10049);
        } else if (!listening) {
            const int code = socketerrors::winsockCode(m_listener->serverError());
            hook.report(code);
            if (code == 10013 && port < 1024)
                m_log.log(pageName(), privilegedPortHint(port), LogLevel::Status);
        }
        if (listening && !hook.errorFlag()) {
            m_enabled = true;
        } else {
            m_failed = true;
            m_listener->close();
        }
    }
    if (m_enabled)
        followSource();
    else
        subscribe(nullptr);
    showStatus();
}

void RelayServer::disable()
{
    subscribe(nullptr);
    m_timer->stop();
    m_listener->close();
    auto clients = std::move(m_clients);
    m_clients.clear();
    for (auto &c : clients)
        m_guard.closed(c->address);
    clients.clear();
    m_enabled = false;
    m_failed = false;
    showStatus();
    refreshClients();
}

void RelayServer::showStatus()
{
    const bool listening = m_listener->isListening();
    m_statusRow.host = listening ? QHostInfo::localHostName() : QString();
    // Bound to one address: that one; to all: this computer's first.
    m_statusRow.address = !listening ? QString()
        : m_settings.bindAddress.isEmpty() ? localAddressText()
                                           : m_listener->serverAddress().toString();
    refreshSourceType();
    m_statusRow.port = QString::number(m_settings.listenPort);
    m_statusRow.status = m_enabled  ? QStringLiteral("Enabled")
                       : m_failed   ? QStringLiteral("Error")
                                    : QStringLiteral("Disabled");
    emit statusChanged();
}

QString RelayServer::connectionsText() const
{
    return QStringLiteral("Connections: ") + QString::number(quint16(m_clients.size()));
}

void RelayServer::refreshClients()
{
    const int n = int(quint16(m_clients.size()));
    // Rows are rebuilt only when the count changes; otherwise only the status
    // column moves, so a client that left and another that came in between
    // two refreshes keep the old row texts.
    if (n != m_lastClientCount || m_clientRows.size() != n) {
        m_clientRows.clear();
        m_rowClients.clear();
        for (int i = 0; i < n; ++i) {
            RelayClient &c = *m_clients[size_t(i)];
            if (!c.lookupStarted)
                startLookup(c);
            m_clientRows.append({c.hostName, c.address, QString::number(c.clientPort), QString(9, QLatin1Char(' '))});
            m_rowClients.push_back(c.id);
        }
    }
    m_lastClientCount = n;
    for (int i = 0; i < n && i < m_clientRows.size(); ++i) {
        RelayClient &c = *m_clients[size_t(i)];
        QString status;
        if (c.activity == -1) {
            status = QStringLiteral("Connect");
        } else if (c.activity != 0) {
            status = QStringLiteral("Active");
            c.activity = 0;
        } else {
            status = QStringLiteral("InActive");
        }
        m_clientRows[i].status = status;
    }
    emit clientsChanged();
}

void RelayServer::startLookup(RelayClient &client)
{
    client.lookupStarted = true;
    m_lookupQueue.push_back(client.id);
    pumpLookups();
}

void RelayServer::pumpLookups()
{
    // Few at a time, and none when descriptors run short: each look-up may
    // start a thread, which cannot run without its pipes.
    while (m_lookupsInFlight < kMaxLookups && !m_lookupQueue.empty()) {
        const quint64 id = m_lookupQueue.front();
        RelayClient *client = nullptr;
        for (auto &c : m_clients) {
            if (c->id == id)
                client = c.get();
        }
        if (!client) {
            m_lookupQueue.pop_front();
            continue;
        }
        if (!descriptors::available(8))
            return; // tried again with the next client-list refresh
        m_lookupQueue.pop_front();
        ++m_lookupsInFlight;
        lookUp(id, client->address);
    }
}

void RelayServer::lookUp(quint64 id, const QString &address)
{
    // Answered later on this thread; the list never waits for a name server.
    // A slot by name rather than a functor: Qt then holds nothing of ours for
    // a look-up still running when the server or the program ends.
    m_lookups.insert(QHostInfo::lookupHost(address, this, SLOT(lookedUp(QHostInfo))), {id, address});
}

void RelayServer::lookedUp(const QHostInfo &info)
{
    const auto it = m_lookups.constFind(info.lookupId());
    if (it == m_lookups.cend())
        return;
    const auto [id, address] = *it;
    m_lookups.erase(it);
    --m_lookupsInFlight;
    const QString name = info.error() == QHostInfo::NoError && info.hostName() != address ? info.hostName() : QString();
    for (auto &c : m_clients) {
        if (c->id == id)
            c->hostName = name;
    }
    for (ConnectionLogEntry &entry : m_connectionLog) {
        if (entry.clientId == id)
            entry.host = name;
    }
    bool shown = false;
    for (size_t i = 0; i < m_rowClients.size() && int(i) < m_clientRows.size(); ++i) {
        if (m_rowClients[i] == id) {
            m_clientRows[int(i)].host = name;
            shown = true;
        }
    }
    if (shown)
        emit clientsChanged();
    pumpLookups();
}

void RelayServer::onNewConnection(qintptr fd)
{
    m_acceptFailing = false;
    auto socket = std::make_unique<ClientSocket>(*m_poller, int(fd));
    if (!socket->isOpen())
        return; // gone before it was taken
    dropClosedPeers();
    const QString address = dottedAddress(socket->peerAddress());
    if (!allowedNetwork(address))
        return; // closed at once, before anything else is spent on it
    if (m_clients.size() >= size_t(kMaxClients)) {
        if (!m_refusing)
            m_log.log(pageName(),
                      QStringLiteral(" Connection from ") + address
                          + QStringLiteral(" refused: %1 clients already connected").arg(kMaxClients),
                      LogLevel::Status);
        m_refusing = true;
        return;
    }
    m_refusing = false;
    if (!admit(address) || !admitUnestablished(address))
        return;
    socket->setSendBufferSize(kKernelSendBuffer);
    ClientSocket *raw = socket.get();
    raw->onData = [this, raw](const QByteArray &bytes) { onClientRead(raw, bytes); };
    raw->onClosed = [this, raw](int error) { onClientClosed(raw, error); };
    const bool arx = m_sourceType == 0;
    auto client = std::make_unique<RelayClient>(std::move(socket), arx ? char(0xFE) : '\r', arx);
    client->clientPort = qint32(raw->peerPort());
    client->address = address;
    client->id = m_nextClientId++;
    client->connectedAt = m_clock.now();
    client->lastMessageAt = client->connectedAt;
    m_guard.opened(address);
    scheduleHousekeeping(); // its log-in and idle deadlines
    m_connectionLog.push_back({client->id, QString(), client->address, quint16(client->clientPort), m_clock.now()});
    if (m_connectionLog.size() > size_t(kConnectionLogSize))
        m_connectionLog.pop_front();
    m_clients.push_back(std::move(client));
}

void RelayServer::setTimerRunning(bool on)
{
    m_timerAllowed = on;
    if (!on)
        m_timer->stop();
}

bool RelayServer::housekeepingScheduled() const
{
    return m_timer->isActive();
}

void RelayServer::relayTick()
{
    checkAccepting();
    checkStalled();
    answerLogins();
    checkDeadlines();
    flushReports();
    if (!housekeepingNeeded())
        m_timer->stop();
}

void RelayServer::scheduleHousekeeping()
{
    if (m_timerAllowed && !m_timer->isActive())
        m_timer->start();
}
