#include "console/consolelistener.h"

#include <QDateTime>
#include <QSslSocket>
#include <QTimer>

namespace {

// Qt's HTTP server of this version closes a connection whose bytes its
// parser refuses without a word: the socket answers 400 first when a
// request is still unanswered as it is closed.
template <class Base>
class AnsweringSocket : public Base {
public:
    using Base::Base;
    void requestArrived() { m_unanswered = true; }
    void disconnectFromHost() override
    {
        if (m_unanswered && Base::state() == QAbstractSocket::ConnectedState)
            Base::write("HTTP/1.1 400 Bad Request\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
        m_unanswered = false;
        Base::disconnectFromHost();
    }

protected:
    qint64 writeData(const char *data, qint64 size) override
    {
        m_unanswered = false;
        return Base::writeData(data, size);
    }

private:
    bool m_unanswered = false;
};

void requestArrived(QTcpSocket *socket, bool tls)
{
    if (tls)
        static_cast<AnsweringSocket<QSslSocket> *>(socket)->requestArrived();
    else
        static_cast<AnsweringSocket<QTcpSocket> *>(socket)->requestArrived();
}

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QString addressText(const QHostAddress &a)
{
    bool ok = false;
    const QHostAddress v4(a.toIPv4Address(&ok));
    return ok ? v4.toString() : a.toString();
}
} // namespace

ConsoleListener::ConsoleListener(QObject *parent) : QTcpServer(parent), m_sweep(new QTimer(this))
{
    // Runs only while there are connections to look at: an idle station
    // is not woken once a second for nothing.
    m_sweep->setInterval(1000);
    connect(m_sweep, &QTimer::timeout, this, &ConsoleListener::sweep);
}

ConsoleListener::~ConsoleListener() = default;

void ConsoleListener::incomingConnection(qintptr descriptor)
{
    QTcpSocket *socket = m_useTls ? static_cast<QTcpSocket *>(new AnsweringSocket<QSslSocket>(this))
                                  : new AnsweringSocket<QTcpSocket>(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    const QString address = addressText(socket->peerAddress());
    if (m_connections.size() >= kMaxConnections) {
        if (onRefused)
            onRefused(address, QStringLiteral("%1 connections already open").arg(kMaxConnections));
        refuse(socket, "503 Service Unavailable");
        return;
    }
    if (m_perAddress.value(address) >= kMaxPerAddress) {
        if (onRefused)
            onRefused(address, QStringLiteral("%1 connections already open from there").arg(kMaxPerAddress));
        refuse(socket, "429 Too Many Requests");
        return;
    }
    socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kKernelSendBuffer);
    Connection c;
    c.socket = socket;
    c.address = address;
    c.port = socket->peerPort();
    c.lastActivity = nowMs();
    // Connected before the HTTP server's own slot, so a request over the
    // bound is stopped before its bytes are parsed.
    c.reading = connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onRead(socket); });
    m_connections.insert(socket, c);
    ++m_perAddress[address];
    if (!m_sweep->isActive())
        m_sweep->start();
    connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
        auto it = m_connections.find(socket);
        if (it != m_connections.end()) {
            it->lastActivity = nowMs();
            it->requestBytes = 0; // an answer went out: the next bytes are a new request
        }
    });
    connect(socket, &QObject::destroyed, this, [this, socket] { forget(socket); });
    if (m_useTls) {
        auto *ssl = static_cast<QSslSocket *>(socket);
        ssl->setSslConfiguration(m_tls);
        connect(ssl, &QSslSocket::sslErrors, ssl, [ssl] { ssl->abort(); });
        ssl->startServerEncryption();
    }
    addPendingConnection(socket);
}

void ConsoleListener::refuse(QTcpSocket *socket, const QByteArray &status)
{
    if (!m_useTls)
        socket->write("HTTP/1.1 " + status + "\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
    socket->disconnectFromHost();
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(5000, socket, &QObject::deleteLater);
}

void ConsoleListener::stopReading(QTcpSocket *socket)
{
    QObject::disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
    QObject::disconnect(socket, &QTcpSocket::bytesWritten, nullptr, nullptr);
}

void ConsoleListener::forget(QTcpSocket *socket)
{
    auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;
    if (--m_perAddress[it->address] <= 0)
        m_perAddress.remove(it->address);
    m_connections.erase(it);
}

void ConsoleListener::onRead(QTcpSocket *socket)
{
    auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;
    it->lastActivity = nowMs();
    it->requestBytes += socket->bytesAvailable();
    requestArrived(socket, m_useTls);
    if (it->requestBytes <= kMaxHeaderBytes + kMaxBodyBytes)
        return;
    // Too big to be a request of this API: answered and closed before the
    // HTTP server buffers any more of it.
    // Only the readers: the HTTP server's slot on `disconnected` frees its
    // request object, and cutting it too would leak one per refused request.
    stopReading(socket);
    socket->readAll();
    forget(socket);
    refuse(socket, "413 Payload Too Large");
}

void ConsoleListener::markUpgraded(const QHostAddress &address, quint16 port)
{
    const QString text = addressText(address);
    for (Connection &c : m_connections)
        if (c.port == port && c.address == text)
            c.upgraded = true;
}

void ConsoleListener::sweep()
{
    const qint64 now = nowMs();
    QList<QTcpSocket *> gone, broken, idle;
    for (auto it = m_connections.begin(); it != m_connections.end(); ++it) {
        // The HTTP server and the WebSocket side cut every signal of a socket
        // they take over or give up, so gone sockets are found here.
        if (!it->socket) {
            gone << it.key();
            continue;
        }
        if (it->upgraded)
            continue;
        if (!it->reading) // the HTTP server dropped its slots: its parser refused the bytes
            broken << it.key();
        else if (now - it->lastActivity >= m_idleMs)
            idle << it.key();
    }
    for (QTcpSocket *s : gone)
        forget(s);
    for (QTcpSocket *s : broken) {
        stopReading(s);
        s->readAll();
        forget(s);
        refuse(s, "400 Bad Request");
    }
    for (QTcpSocket *s : idle) {
        stopReading(s);
        forget(s);
        s->abort(); // emits `disconnected` while the HTTP server still listens for it
        s->deleteLater();
    }
    if (m_connections.isEmpty())
        m_sweep->stop();
}
