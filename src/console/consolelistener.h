#pragma once
// The console's listening socket and the bounds Qt's HTTP server of this
// Qt version does not keep itself: connections in all and per address, bytes
// of one request, idle connections, and an answer to a request its parser
// gave up on (it would otherwise leave the connection open, unanswered).
#include <QHash>
#include <QMetaObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QTcpServer>
#include <functional>

class QTcpSocket;
class QTimer;

class ConsoleListener : public QTcpServer {
    Q_OBJECT
public:
    static constexpr int kMaxConnections = 200;
    // A browser holds six HTTP connections to a site and one WebSocket per
    // tab; engineers behind one NAT address share the count.
    static constexpr int kMaxPerAddress = 32;
    static constexpr qint64 kIdleMs = 60000;
    static constexpr qint64 kMaxHeaderBytes = 16 * 1024;
    static constexpr qint64 kMaxBodyBytes = 64 * 1024;
    // The kernel's send buffer per connection: what a client does not read
    // waits in the program, where it is counted.
    static constexpr int kKernelSendBuffer = 32 * 1024;

    explicit ConsoleListener(QObject *parent = nullptr);
    ~ConsoleListener() override;

    void setTls(const QSslConfiguration &tls) { m_tls = tls; m_useTls = true; }
    // Called with a connection the HTTP server handed to its WebSocket side.
    void markUpgraded(const QHostAddress &address, quint16 port);
    int connectionCount() const { return int(m_connections.size()); }
    // Tests shorten the idle limit instead of waiting a minute.
    void setIdleLimit(qint64 ms) { m_idleMs = ms; }
    // Looks at every connection now (the sweep's timer does it each second).
    void sweep();

    // A refused connection (limits), for the log: address and why.
    std::function<void(const QString &address, const QString &why)> onRefused;

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    struct Connection {
        QPointer<QTcpSocket> socket;
        QString address;
        quint16 port = 0;
        qint64 lastActivity = 0;
        qint64 requestBytes = 0;
        QMetaObject::Connection reading;
        bool upgraded = false;
    };
    void refuse(QTcpSocket *socket, const QByteArray &status);
    static void stopReading(QTcpSocket *socket);
    void forget(QTcpSocket *socket);
    void onRead(QTcpSocket *socket);

    QSslConfiguration m_tls;
    bool m_useTls = false;
    QHash<QTcpSocket *, Connection> m_connections;
    QHash<QString, int> m_perAddress;
    QTimer *m_sweep;
    qint64 m_idleMs = kIdleMs;
};
