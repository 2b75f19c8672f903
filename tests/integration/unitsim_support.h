// Starting tolva-unitsim and talking to it over TCP or its pty, with waits
// bounded in time (no test framework event loop needed).
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpSocket>
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace unitsim {

inline QString simulatorPath() { return qEnvironmentVariable("TOLVA_UNITSIM"); }

// The simulator as a child process; its first stdout line says where it is.
class Sim
{
public:
    ~Sim() { stop(); }

    bool start(const QStringList &args)
    {
        proc_.setProgram(simulatorPath());
        proc_.setArguments(args);
        proc_.setProcessChannelMode(QProcess::SeparateChannels);
        proc_.start();
        if (!proc_.waitForStarted(5000))
            return false;
        QElapsedTimer t;
        t.start();
        while (!proc_.canReadLine() && t.elapsed() < 5000)
            proc_.waitForReadyRead(50);
        if (!proc_.canReadLine())
            return false;
        line_ = QString::fromLocal8Bit(proc_.readLine()).trimmed();
        return true;
    }

    void stop()
    {
        if (proc_.state() == QProcess::NotRunning)
            return;
        proc_.terminate();
        if (!proc_.waitForFinished(3000)) {
            proc_.kill();
            proc_.waitForFinished(3000);
        }
    }

    bool running() const { return proc_.state() == QProcess::Running; }
    QString line() const { return line_; }
    quint16 tcpPort() const
    {
        return line_.startsWith(QLatin1String("TCP ")) ? quint16(line_.mid(4).toUInt()) : 0;
    }
    QString ptyPath() const
    {
        return line_.startsWith(QLatin1String("PTY ")) ? line_.mid(4) : QString();
    }
    QProcess &process() { return proc_; }

private:
    QProcess proc_;
    QString line_;
};

// A caller of the simulator; the reads all come down to readUntil.
class Caller
{
public:
    virtual ~Caller() = default;
    virtual void send(const QByteArray &bytes) = 0;
    // Gathers bytes until `done` says so or the time is up.
    virtual QByteArray readUntil(const std::function<bool(const QByteArray &)> &done, int ms = 2000) = 0;

    QByteArray readCount(int n, int ms = 2000)
    {
        return readUntil([n](const QByteArray &b) { return b.size() >= n; }, ms);
    }
    QByteArray readEnding(const QByteArray &end, int ms = 2000)
    {
        return readUntil([end](const QByteArray &b) { return b.endsWith(end); }, ms);
    }
    QByteArray exchange(const QByteArray &cmd, const QByteArray &end)
    {
        send(cmd);
        return readEnding(end);
    }
    // Everything that arrives within ms (for "nothing is sent" checks).
    QByteArray quiet(int ms) { return readUntil([](const QByteArray &) { return false; }, ms); }
};

// A TCP caller.
class TcpCaller : public Caller
{
public:
    bool connectTo(quint16 port)
    {
        sock_.connectToHost(QStringLiteral("127.0.0.1"), port);
        return sock_.waitForConnected(3000);
    }
    void send(const QByteArray &bytes) override
    {
        sock_.write(bytes);
        sock_.waitForBytesWritten(1000);
    }
    QByteArray readUntil(const std::function<bool(const QByteArray &)> &done, int ms = 2000) override
    {
        QByteArray got;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            got += sock_.readAll();
            if (done(got))
                break;
            if (sock_.state() != QAbstractSocket::ConnectedState && sock_.bytesAvailable() == 0)
                break;
            sock_.waitForReadyRead(20);
        }
        got += sock_.readAll();
        return got;
    }
    QTcpSocket &socket() { return sock_; }

private:
    QTcpSocket sock_;
};

// A serial-port caller on the simulator's pty, in raw mode as a serial
// library would set it.
class PtyCaller : public Caller
{
public:
    ~PtyCaller() override { close(); }
    bool open(const QString &path)
    {
        fd_ = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0)
            return false;
        struct termios t {};
        if (::tcgetattr(fd_, &t) == 0) {
            cfmakeraw(&t);
            ::tcsetattr(fd_, TCSANOW, &t);
        }
        return true;
    }
    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    void send(const QByteArray &bytes) override
    {
        qsizetype done = 0;
        QElapsedTimer t;
        t.start();
        while (done < bytes.size() && t.elapsed() < 2000) {
            const ssize_t n = ::write(fd_, bytes.constData() + done, size_t(bytes.size() - done));
            if (n > 0)
                done += n;
            else
                ::usleep(1000);
        }
    }
    QByteArray readUntil(const std::function<bool(const QByteArray &)> &done, int ms = 2000) override
    {
        QByteArray got;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms && !done(got)) {
            struct pollfd p {fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0 && (p.revents & POLLIN)) {
                char buf[4096];
                const ssize_t n = ::read(fd_, buf, sizeof buf);
                if (n > 0)
                    got.append(buf, int(n));
            }
        }
        return got;
    }

private:
    int fd_ = -1;
};

// The Arxon unit's commands and answers the tests use most.
inline const QByteArray kEnd("\xF0\xF1");
inline const QByteArray kHello("\x01\xFE"), kLogOff("\x02\xFE"), kWake("\x03\xFE"), kStart("\x04\xFE"),
    kIdentify("\x07\xFE"), kPoll("\xFF");
inline const QByteArray kPassword("PASSWORD\xF0\xF1"), kSupervisor("VALID SUPERVISOR\xF0\xF1");

// One step of a dialogue: bytes sent, and the whole answer they must get.
struct Step {
    QByteArray send, reply;
};
inline void expectReplies(Caller &c, const QList<Step> &steps)
{
    for (const Step &s : steps)
        EXPECT_EQ(c.exchange(s.send, s.reply), s.reply) << "answer to " << s.send.toHex(' ').toStdString();
}

// The simulator started with `args` and a TCP caller connected to it.
inline bool startTcp(Sim &sim, TcpCaller &caller, const QStringList &args = {})
{
    return sim.start(QStringList{"--tcp", "0"} + args) && sim.tcpPort() != 0 && caller.connectTo(sim.tcpPort());
}
// The simulator started on a pty with `args` and a caller on it.
inline bool startPty(Sim &sim, PtyCaller &caller, const QStringList &args = {})
{
    return sim.start(QStringList{"--pty"} + args) && !sim.ptyPath().isEmpty() && caller.open(sim.ptyPath());
}

// A test that needs the simulator: skipped where it is not built.
class SimTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (simulatorPath().isEmpty())
            GTEST_SKIP() << "TOLVA_UNITSIM not set";
    }
    Sim sim;
    TcpCaller caller;
    PtyCaller pty;
};

inline quint8 sum(const QByteArray &b, int from, int to)
{
    unsigned s = 0;
    for (int i = from; i <= to; ++i)
        s += quint8(b[i]);
    return quint8(s);
}

inline quint8 at(const QByteArray &b, int i) { return quint8(b[i]); }

} // namespace unitsim
