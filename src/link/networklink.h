#pragma once
// A ByteLink over a TCP client connection to a unit's network module or to
// another copy's relay server. Connects by address or by host name without
// waiting; reports its end points on connect and failures as Windows Sockets
// numbers ("Socket Error(10061): Connection refused").
#include "link/bytelink.h"

#include <QObject>
#include <QString>

class QTcpSocket;

class NetworkLink : public QObject, public ByteLink {
    Q_OBJECT
public:
    // Received bytes kept by the socket at most; a flooding far end is held back by TCP.
    static constexpr qint64 kReadBuffer = 1024 * 1024;

    explicit NetworkLink(QObject *parent = nullptr);
    ~NetworkLink() override;

    // A non-empty host name takes precedence over the address.
    void open(const QString &address, quint16 port, const QString &hostName);
    void close();
    bool isActive() const;

    void send(const QByteArray &bytes) override;
    QByteArray readSome(int max) override;
    int bytesWaiting() const override;
    void clearReceive() override {}

    QString localHost() const;
    QString localAddress() const;
    QString localPort() const;
    QString remoteAddress() const;
    QString remotePort() const;

signals:
    void connected();
    void readyRead();
    void failed(int code, const QString &message);

private:
    QTcpSocket *m_socket;
};
