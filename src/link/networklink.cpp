#include "link/networklink.h"

#include "core/socketerrors.h"

#include <QHostInfo>
#include <QTcpSocket>
#include <sys/socket.h>

NetworkLink::NetworkLink(QObject *parent) : QObject(parent), m_socket(new QTcpSocket(this))
{
    m_socket->setReadBufferSize(kReadBuffer);
    connect(m_socket, &QTcpSocket::connected, this, &NetworkLink::connected);
    connect(m_socket, &QTcpSocket::readyRead, this, &NetworkLink::readyRead);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        const int code = socketerrors::winsockCode(error);
        emit failed(code, socketerrors::messageText(code));
    });
}

NetworkLink::~NetworkLink() = default;

// Addresses are kept zero-padded ("192.168.001.010"); each part is meant in decimal.
static QString plainAddress(const QString &address)
{
    const QStringList parts = address.trimmed().split(QLatin1Char('.'));
    if (parts.size() != 4)
        return address.trimmed();
    QStringList out;
    for (const QString &part : parts) {
        bool ok = false;
        const int value = part.toInt(&ok, 10);
        if (!ok || value < 0 || value > 255)
            return address.trimmed();
        out << QString::number(value);
    }
    return out.join(QLatin1Char('.'));
}

void NetworkLink::open(const QString &address, quint16 port, const QString &hostName)
{
    m_socket->abort();
    m_socket->connectToHost(hostName.isEmpty() ? plainAddress(address) : hostName.trimmed(), port);
}

void NetworkLink::close()
{
    // Bytes sent just before closing (the log-off) are still in Qt's buffer:
    // hand them to the system, which delivers them after the close.
    if (m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->flush();
    m_socket->abort();
}

bool NetworkLink::isActive() const
{
    return m_socket->state() != QAbstractSocket::UnconnectedState;
}

void NetworkLink::send(const QByteArray &bytes)
{
    if (m_socket->state() != QAbstractSocket::ConnectedState || bytes.isEmpty())
        return;
    // Handed to the system at once, straight when nothing waits in Qt's
    // buffer (a poll byte costs one system call, no write event turned on
    // and off). What the system does not take, or refuses, goes through
    // Qt's buffer after it: the rest with the write event, an error as the
    // socket's error.
    qsizetype sent = 0;
    if (m_socket->bytesToWrite() == 0) {
        const ssize_t n = ::send(int(m_socket->socketDescriptor()), bytes.constData(), size_t(bytes.size()),
                                 MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n == bytes.size())
            return;
        sent = qMax<qsizetype>(n, 0);
    }
    m_socket->write(bytes.constData() + sent, bytes.size() - sent);
    m_socket->flush();
}

QByteArray NetworkLink::readSome(int max)
{
    // Only what is there: read(max) would size a buffer of max bytes first,
    // and a network unit's bytes mostly arrive between two ticks.
    const qint64 n = qMin<qint64>(max, m_socket->bytesAvailable());
    return n > 0 ? m_socket->read(n) : QByteArray();
}

int NetworkLink::bytesWaiting() const
{
    return int(m_socket->bytesAvailable());
}

QString NetworkLink::localHost() const
{
    return QHostInfo::localHostName();
}

QString NetworkLink::localAddress() const
{
    return m_socket->localAddress().toString();
}

QString NetworkLink::localPort() const
{
    return QString::number(m_socket->localPort());
}

QString NetworkLink::remoteAddress() const
{
    return m_socket->peerAddress().toString();
}

QString NetworkLink::remotePort() const
{
    return QString::number(m_socket->peerPort());
}
