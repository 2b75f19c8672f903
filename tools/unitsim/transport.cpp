#include "transport.h"

#include "trace.h"
#include "unit.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {
// Output the caller does not read is dropped beyond this, like a unit whose
// transmit buffer overflows; it never grows without bound.
constexpr qsizetype maxPending = 64 * 1024;
constexpr qsizetype readChunk = 4096;

// The rate the caller set on its end of the pty (both ends share one
// termios); 0 when it is none of a serial port's usual rates.
int callerBaud(int master)
{
    static const struct { speed_t code; int baud; } rates[] = {
        {B1200, 1200}, {B2400, 2400}, {B4800, 4800}, {B9600, 9600}, {B19200, 19200},
        {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400},
    };
    struct termios t {};
    if (::tcgetattr(master, &t) != 0)
        return 0;
    for (const auto &r : rates)
        if (cfgetospeed(&t) == r.code)
            return r.baud;
    return 0;
}
}

// --- TCP -------------------------------------------------------------------

TcpTransport::TcpTransport(Unit *unit, const QHostAddress &address, quint16 port, QObject *parent)
    : QObject(parent), unit_(unit), address_(address), port_(port), server_(new QTcpServer(this))
{
    connect(unit_, &Unit::output, this, &TcpTransport::write);
    connect(server_, &QTcpServer::newConnection, this, &TcpTransport::accept);
}

bool TcpTransport::start(QString *error)
{
    if (!server_->listen(address_, port_)) {
        *error = server_->errorString();
        return false;
    }
    return true;
}

quint16 TcpTransport::port() const { return server_->serverPort(); }

void TcpTransport::accept()
{
    // One caller at a time: while one is served, later ones wait in the
    // listen backlog, so a caller that reconnects before we saw it leave is
    // served as soon as we do.
    if (client_)
        return;
    if (QTcpSocket *socket = server_->nextPendingConnection()) {
        client_ = socket;
        server_->pauseAccepting();
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        if (Trace *t = globalTrace())
            t->note(QStringLiteral("tcp caller %1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort()));
        connect(socket, &QTcpSocket::readyRead, this, [this, socket]() {
            if (socket == client_)
                unit_->receive(socket->readAll());
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket]() {
            if (socket != client_)
                return;
            client_ = nullptr;
            socket->deleteLater();
            if (Trace *t = globalTrace())
                t->note(QStringLiteral("tcp caller gone"));
            unit_->linkDown();
            server_->resumeAccepting();
            if (server_->hasPendingConnections())
                QTimer::singleShot(0, this, &TcpTransport::accept);
        });
        unit_->linkUp();
        // A caller that waited may have sent before we took it on.
        if (socket->bytesAvailable() > 0)
            unit_->receive(socket->readAll());
    }
}

void TcpTransport::write(const QByteArray &bytes)
{
    if (client_ && client_->bytesToWrite() < maxPending)
        client_->write(bytes);
}

// --- pseudo-terminal --------------------------------------------------------
//
// Our copy of the slave side is closed at once, so the master reports a
// hang-up whenever no caller holds the slave open: that is how a caller's
// arrival and departure are seen (a pty has no DTR line to watch).

PtyTransport::PtyTransport(Unit *unit, const QString &linkPath, QObject *parent)
    : QObject(parent), unit_(unit), linkPath_(linkPath), peerTimer_(new QTimer(this))
{
    connect(unit_, &Unit::output, this, &PtyTransport::write);
    peerTimer_->setInterval(20);
    connect(peerTimer_, &QTimer::timeout, this, &PtyTransport::checkPeer);
}

PtyTransport::~PtyTransport()
{
    if (!linkPath_.isEmpty()) {
        const QString target = QFile::symLinkTarget(linkPath_);
        if (!target.isEmpty() && target == slavePath_)
            QFile::remove(linkPath_);
    }
    if (master_ >= 0)
        ::close(master_);
}

bool PtyTransport::start(QString *error)
{
    int slave = -1;
    struct termios raw {};
    cfmakeraw(&raw);
    cfsetispeed(&raw, B2400);
    cfsetospeed(&raw, B2400);
    if (::openpty(&master_, &slave, nullptr, &raw, nullptr) != 0) {
        *error = QStringLiteral("openpty: ") + QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    slavePath_ = QString::fromLocal8Bit(ttyname(slave));
    ::close(slave);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);

    if (!linkPath_.isEmpty()) {
        const QFileInfo info(linkPath_);
        if (info.isSymLink())
            QFile::remove(linkPath_);
        if (::symlink(slavePath_.toLocal8Bit().constData(), linkPath_.toLocal8Bit().constData()) != 0) {
            *error = QStringLiteral("symlink %1: ").arg(linkPath_) + QString::fromLocal8Bit(strerror(errno));
            return false;
        }
    }

    readNotifier_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
    readNotifier_->setEnabled(false);
    connect(readNotifier_, &QSocketNotifier::activated, this, &PtyTransport::readMaster);
    writeNotifier_ = new QSocketNotifier(master_, QSocketNotifier::Write, this);
    writeNotifier_->setEnabled(false);
    connect(writeNotifier_, &QSocketNotifier::activated, this, &PtyTransport::flushPending);
    peerTimer_->start();
    return true;
}

void PtyTransport::setRaw()
{
    // A caller that forgets to set raw mode would otherwise have the line
    // discipline echo our replies back to us and hold them until a newline.
    struct termios t {};
    if (::tcgetattr(master_, &t) == 0) {
        const speed_t in = cfgetispeed(&t), out = cfgetospeed(&t);
        cfmakeraw(&t);
        cfsetispeed(&t, in);
        cfsetospeed(&t, out);
        ::tcsetattr(master_, TCSANOW, &t);
    }
}

void PtyTransport::checkPeer()
{
    struct pollfd p {master_, POLLIN, 0};
    if (::poll(&p, 1, 0) < 0)
        return;
    const bool hungUp = p.revents & POLLHUP;
    if (!up_ && !hungUp) {
        up_ = true;
        setRaw();
        peerTimer_->stop();
        if (Trace *t = globalTrace())
            t->note(QStringLiteral("pty opened by a caller"));
        unit_->linkUp();
        readNotifier_->setEnabled(true);
        if (p.revents & POLLIN)
            readMaster();
    }
}

void PtyTransport::goDown()
{
    up_ = false;
    pending_.clear();
    readNotifier_->setEnabled(false);
    writeNotifier_->setEnabled(false);
    if (Trace *t = globalTrace())
        t->note(QStringLiteral("pty closed by the caller"));
    unit_->linkDown();
    peerTimer_->start();
}

void PtyTransport::readMaster()
{
    char buf[readChunk];
    for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0) {
            unit_->setCallerRate(callerBaud(master_));
            unit_->receive(QByteArray(buf, int(n)));
            if (!up_)
                return; // the unit's answer may not outlive the caller
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return;
        // EIO (or end of file): the last caller closed the slave.
        goDown();
        return;
    }
}

void PtyTransport::write(const QByteArray &bytes)
{
    if (!up_)
        return;
    if (pending_.size() + bytes.size() > maxPending)
        return;
    pending_.append(bytes);
    flushPending();
}

void PtyTransport::flushPending()
{
    while (!pending_.isEmpty()) {
        const ssize_t n = ::write(master_, pending_.constData(), size_t(pending_.size()));
        if (n > 0) {
            pending_.remove(0, n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            writeNotifier_->setEnabled(true);
            return;
        }
        if (n < 0 && errno == EINTR)
            continue;
        pending_.clear();
        break;
    }
    writeNotifier_->setEnabled(false);
}
