// A relay server's viewers once connected: their sockets' reads and closes,
// the dialect a read goes to, replies, and the delivery of every record the
// source files to each viewer (with the change overlays of HD and KF-71).
#include "server/relayserver.h"

#include "connection/relaysource.h"
#include "connection/relaystore.h"
#include "core/clock.h"
#include "core/messagelog.h"
#include "core/socketerrors.h"
#include "server/relayclient.h"

RelayClient *RelayServer::findClient(const ClientSocket *socket)
{
    for (auto &c : m_clients) {
        if (c->socket.get() == socket)
            return c.get();
    }
    return nullptr;
}

const RelayClient *RelayServer::client(int index) const
{
    return index >= 0 && size_t(index) < m_clients.size() ? m_clients[size_t(index)].get() : nullptr;
}

void RelayServer::dropClient(ClientSocket *socket)
{
    for (auto it = m_clients.begin(); it != m_clients.end(); ++it) {
        if ((*it)->socket.get() == socket) {
            m_guard.closed((*it)->address);
            m_clients.erase(it); // closes the socket
            return;
        }
    }
}

void RelayServer::onClientClosed(ClientSocket *socket, int error)
{
    // A peer that closes its end is an ordinary disconnect, not a failure;
    // one that resets it is reported (10054) like any other error. Either
    // stops counting against the limits at once.
    const int code = error == 0 ? 0 : socketerrors::winsockCodeForErrno(error);
    if (code != 0 && code != 10053)
        m_log.log(pageName(), socketerrors::messageText(code), LogLevel::Error);
    dropClient(socket);
}

void RelayServer::onClientRead(ClientSocket *socket, const QByteArray &bytes)
{
    RelayClient *client = findClient(socket);
    if (!client || bytes.isEmpty())
        return;
    // The dialect follows the source's hardware type as last refreshed; a
    // client connected under another one starts its assembly afresh.
    const bool arx = m_sourceType == 0;
    if (client->assembler.terminator() != (arx ? char(0xFE) : '\r'))
        client->assembler = MessageAssembler(arx ? char(0xFE) : '\r', arx);
    switch (m_sourceType) {
    case 0: {
        const QList<QByteArray> messages = client->assembler.feed(bytes);
        if (!messages.isEmpty())
            client->lastMessageAt = m_clock.now();
        for (const QByteArray &m : messages)
            handleArx(*client, m);
        break;
    }
    case 1:
        client->lastMessageAt = m_clock.now();
        handleKx(*client, bytes);
        break;
    case 2:
    case 3: {
        const QList<QByteArray> lines = client->assembler.feed(bytes);
        if (!lines.isEmpty())
            client->lastMessageAt = m_clock.now();
        for (const QByteArray &line : lines)
            handleLine(*client, line);
        break;
    }
    default:
        break;
    }
}

void RelayServer::reply(RelayClient &client, const QByteArray &bytes)
{
    // A client that does not read gets no further replies either.
    if (client.socket->bytesToWrite() >= kSendCap)
        return;
    queueBytes(client, bytes);
}

qint64 RelayServer::queueBytes(RelayClient &client, const QByteArray &bytes)
{
    client.socket->write(bytes);
    client.bytesQueued += quint64(bytes.size());
    return bytes.size();
}

void RelayServer::followSource()
{
    if (!m_enabled)
        return;
    RelaySource *src = currentSource();
    subscribe(src ? &src->relayStore() : nullptr);
}

void RelayServer::subscribe(const RelayStore *store)
{
    if (store == m_store)
        return;
    if (m_store)
        m_store->removeObserver(this);
    m_store = store;
    if (m_store)
        m_store->addObserver(this);
}

void RelayServer::storeGone(const RelayStore &store)
{
    if (&store == m_store)
        m_store = nullptr;
}

void RelayServer::recordFiled(RecordKind kind, const QByteArray &record)
{
    if (!m_enabled || record.isEmpty())
        return;
    refreshSourceType();
    const bool ours = (m_sourceType == 0 && kind == RecordKind::Arx) || (m_sourceType == 2 && kind == RecordKind::Hd)
                   || (m_sourceType == 3 && kind == RecordKind::Kf);
    if (ours)
        deliver(record);
}

bool RelayServer::sendRecord(RelayClient &client, const QByteArray &record)
{
    if (client.socket->bytesToWrite() >= kSendCap) {
        // Skipped for this client; the housekeeping timer watches how long.
        scheduleHousekeeping();
        return false;
    }
    queueBytes(client, record);
    ++m_counters.recordsDelivered;
    return true;
}

void RelayServer::deliver(const QByteArray &record)
{
    sampleProgress();
    if (m_sourceType == 0) {
        for (auto &c : m_clients) {
            if (!c->arxHalted && sendRecord(*c, record))
                ++c->activity;
        }
        return;
    }
    const bool hd = m_sourceType == 2;
    for (auto &c : m_clients) {
        if (hd ? c->hdHalted : c->kfHalted)
            continue;
        if (c->socket->bytesToWrite() >= kSendCap) {
            sendRecord(*c, record); // notes the stall
            continue;
        }
        QByteArray copy = record;
        if (!c->changeQueue.isEmpty()) {
            const ChangeEntry &e = c->changeQueue.front();
            if (e.key != c->clientPort && copy.size() >= 9)
                copy.replace(4, 5, e.overlay);
            c->changeQueue.pop();
        }
        if (sendRecord(*c, copy))
            ++c->activity;
    }
}

void RelayServer::queueChange(const RelayClient &sender, const QByteArray &line)
{
    const QByteArray overlay = changecodes::overlayFor(m_sourceType, line);
    for (auto &c : m_clients) {
        if (c->clientPort != sender.clientPort)
            c->changeQueue.push({sender.clientPort, overlay});
    }
}
