// The simulated unit's end of the line: a pseudo-terminal that a serial-port
// client opens like a COM port, or a TCP port like a unit's network module.
// One caller at a time; a new one is served after the previous went away.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

class QSocketNotifier;
class QTcpServer;
class QTcpSocket;
class QTimer;
class Unit;

class TcpTransport : public QObject
{
    Q_OBJECT
public:
    TcpTransport(Unit *unit, const QHostAddress &address, quint16 port, QObject *parent = nullptr);
    bool start(QString *error);
    quint16 port() const;

private:
    void accept();
    void write(const QByteArray &bytes);

    Unit *unit_;
    QHostAddress address_;
    quint16 port_;
    QTcpServer *server_;
    QTcpSocket *client_ = nullptr;
};

class PtyTransport : public QObject
{
    Q_OBJECT
public:
    PtyTransport(Unit *unit, const QString &linkPath, QObject *parent = nullptr);
    ~PtyTransport() override;
    bool start(QString *error);
    QString slavePath() const { return slavePath_; }

private:
    void checkPeer();
    void readMaster();
    void flushPending();
    void write(const QByteArray &bytes);
    void setRaw();
    void goDown();

    Unit *unit_;
    QString linkPath_;
    QString slavePath_;
    int master_ = -1;
    bool up_ = false;
    QByteArray pending_; // bytes the pty could not take yet
    QSocketNotifier *readNotifier_ = nullptr;
    QSocketNotifier *writeNotifier_ = nullptr;
    QTimer *peerTimer_;
};
