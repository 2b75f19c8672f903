// A whole station run in the test process: a station directory in a
// temporary folder with its settings files written line by line as the
// program reads them, the Station started under the test's
// QCoreApplication, event-driven waits with a deadline, the simulator's
// trace read back, and relay clients that collect what a server sends.
#pragma once

#include "connection/connectionpage.h"
#include "connection/measurementlog.h"
#include "core/clock.h"
#include "core/messagelog.h"
#include "station/station.h"
#include "support/freeport.h"
#include "unitsim_support.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

namespace stationtest {

using testsupport::freePort;

// Runs the event loop until the condition holds or the time is up.
inline bool waitFor(const std::function<bool()> &condition, int ms)
{
    return QTest::qWaitFor(condition, ms);
}

inline QByteArray crlfLines(const QStringList &lines)
{
    QByteArray out;
    for (const QString &l : lines)
        out += l.toLocal8Bit() + "\r\n";
    return out;
}

inline QString width(int value, int w) { return QStringLiteral("%1").arg(value, w); }

// The fields of CONFIG/ConnectN.CFG a test chooses; the rest keep the
// values a fresh page would have.
struct PageFile {
    int hardwareType = 0;
    QString password = QStringLiteral("KELPO4");
    int connectionType = 0;
    bool autoConnect = true;
    int serialPort = 0;
    int baudIndex = 3;
    int modemPort = 0;
    QString phoneNumber;
    QString ipAddress = QStringLiteral("000.000.000.000");
    int portNumber = 0;
    bool logEnabled = false;
    QString logDirectory; // empty: LOG/ in the station directory
    QString name = QStringLiteral("Test");
    bool autoReconnect = false; // line 18, written only when on
};

// A page on a unit's (or a relay server's) TCP port on this computer.
inline PageFile networkPage(quint16 port, const QString &password = QStringLiteral("KELPO4"))
{
    PageFile p;
    p.connectionType = 1;
    p.ipAddress = QStringLiteral("127.0.0.1");
    p.portNumber = port;
    p.password = password;
    return p;
}

inline double stampDays(const QByteArray &eightBytes)
{
    double d = 0;
    if (eightBytes.size() == 8)
        std::memcpy(&d, eightBytes.constData(), 8); // little-endian host
    return d;
}

class StationDir {
public:
    StationDir()
    {
        QDir d(path());
        d.mkpath(QStringLiteral("CONFIG"));
        d.mkpath(QStringLiteral("LOG"));
        d.mkpath(QStringLiteral("DLD"));
    }
    bool ok() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }
    QString logDirectory() const { return filePath(QStringLiteral("LOG")) + QLatin1Char('/'); }

    static bool write(const QString &path, const QByteArray &bytes)
    {
        QFile f(path);
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
    }
    bool writeConfig(const QString &name, const QStringList &lines) const
    {
        return write(filePath(QStringLiteral("CONFIG/") + name), crlfLines(lines));
    }
    // Line n is the device of COMn; empty lines keep the defaults.
    bool writeSerialPorts(const QStringList &devices) const
    {
        QStringList lines = devices;
        while (lines.size() < 9)
            lines << QString();
        return writeConfig(QStringLiteral("SerialPorts.CFG"), lines);
    }
    bool writePage(int n, const PageFile &p) const
    {
        const auto flag = [](bool b) { return b ? QStringLiteral("1") : QStringLiteral("0"); };
        return writeConfig(QStringLiteral("Connect%1.CFG").arg(n),
                           QStringList{width(p.hardwareType, 2), p.password, width(p.connectionType, 2), flag(p.autoConnect),
                            width(p.serialPort, 2), width(p.baudIndex, 2), width(p.modemPort, 2), p.phoneNumber,
                            p.ipAddress, width(p.portNumber, 6), p.logDirectory.isEmpty() ? logDirectory() : p.logDirectory, QStringLiteral("Connect%1-").arg(n),
                            flag(p.logEnabled), p.name, QStringLiteral("Rack%1").arg(n), QString(), QStringLiteral("0")}
                               + (p.autoReconnect ? QStringList{QStringLiteral("1")} : QStringList()));
    }
    // Relay server n serving page 1 on `port`, with rows of name, password,
    // authorization as its users.
    bool writeServer(int n, int port, bool requireAuth, const QList<QStringList> &users = {}) const
    {
        QStringList userLines{width(int(users.size()), 2)};
        for (const QStringList &r : users)
            userLines << r;
        return writeConfig(QStringLiteral("Server%1.CFG").arg(n),
                           {width(1, 2), QStringLiteral("1"), width(port, 6), requireAuth ? "1" : "0"})
            && writeConfig(QStringLiteral("Server%1.USR").arg(n), userLines);
    }
    // The same on a port nobody listens on: that port, or 0.
    quint16 addServer(int n, bool requireAuth, const QList<QStringList> &users = {}) const
    {
        const quint16 port = freePort();
        return port && writeServer(n, port, requireAuth, users) ? port : 0;
    }
    bool writeDownload(const QString &model, int value, const QStringList &dataLines) const
    {
        return write(filePath(QStringLiteral("DLD/") + model + QStringLiteral(".DLD")),
                     crlfLines(QStringList{QString::number(value)} + dataLines));
    }
    // The 109-byte records of every ".LWn" file of the page, oldest file first.
    QList<QByteArray> arxLogRecords(int page) const
    {
        QList<QByteArray> records;
        QDir d(logDirectory());
        const QStringList files = d.entryList({QStringLiteral("*.LW%1").arg(page)}, QDir::Files, QDir::Time | QDir::Reversed);
        for (const QString &name : files) {
            QFile f(d.filePath(name));
            if (!f.open(QIODevice::ReadOnly))
                continue;
            const QByteArray all = f.readAll();
            for (qsizetype i = 0; i + 109 <= all.size(); i += 109)
                records << all.mid(i, 109);
        }
        return records;
    }

private:
    QTemporaryDir m_dir;
};

// The station running in this process on the real clock.
class StationRun {
public:
    explicit StationRun(const QString &base, const Clock &clock = SystemClock::instance())
        : m_station(std::make_unique<Station>(base, clock))
    {
        m_station->messageLog().setEchoToStderr(false);
    }
    ~StationRun()
    {
        m_station->shutdown();
        QTest::qWait(20); // let the log-off bytes and socket closes go out
    }
    QStringList start() { return m_station->start(); }
    Station &station() { return *m_station; }
    ConnectionPage &page(int n) { return *m_station->page(n); }

    // The first message line that holds `text`, or empty.
    QString line(const QString &text) const
    {
        for (const QString &l : m_station->messageLog().lines())
            if (l.contains(text))
                return l;
        return QString();
    }
    bool waitForLine(const QString &text, int ms)
    {
        return waitFor([&] { return !line(text).isEmpty(); }, ms);
    }
    std::string messages() const
    {
        return m_station->messageLog().lines().join(QLatin1Char('\n')).toStdString();
    }

private:
    std::unique_ptr<Station> m_station;
};

// The station in `base` started with no start-up errors and, where given,
// the line that says page 1 connected awaited.
inline void startRun(std::unique_ptr<StationRun> &run, const QString &base, const QString &connected = {},
                     int ms = 10000, const Clock &clock = SystemClock::instance())
{
    run = std::make_unique<StationRun>(base, clock);
    const QStringList errors = run->start();
    ASSERT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    if (!connected.isEmpty()) {
        ASSERT_TRUE(run->waitForLine(connected, ms)) << run->messages();
    }
}

// One line of the simulator's trace.
struct TraceLine {
    QTime time;
    QString kind;     // RX, TX, FRAME, NOTE
    QByteArray bytes; // RX/TX bytes; FRAME: the 100 frame bytes
    QString name;     // what follows the bytes (RX/TX), the text (NOTE)
    double days = 0;  // FRAME: its send time
};

inline QList<TraceLine> readTrace(const QString &path)
{
    QList<TraceLine> out;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    static const QRegularExpression hexPair(QStringLiteral("^[0-9A-F]{2}$"));
    while (!f.atEnd()) {
        const QString l = QString::fromLatin1(f.readLine()).trimmed();
        const QStringList w = l.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (w.size() < 2)
            continue;
        TraceLine t;
        t.time = QTime::fromString(w[0], QStringLiteral("hh:mm:ss.zzz"));
        t.kind = w[1];
        if (t.kind == QLatin1String("FRAME") && w.size() >= 4) {
            t.days = w[2].toDouble();
            t.bytes = QByteArray::fromHex(w[3].toLatin1());
        } else if (t.kind == QLatin1String("RX") || t.kind == QLatin1String("TX")) {
            int i = 2;
            for (; i < w.size() && hexPair.match(w[i]).hasMatch(); ++i)
                t.bytes += char(w[i].toUInt(nullptr, 16));
            t.name = w.mid(i).join(QLatin1Char(' '));
        } else {
            t.name = w.mid(2).join(QLatin1Char(' '));
        }
        out << t;
    }
    return out;
}

inline QList<TraceLine> traceOf(const QList<TraceLine> &trace, const QString &kind)
{
    QList<TraceLine> out;
    for (const TraceLine &t : trace)
        if (t.kind == kind)
            out << t;
    return out;
}

inline QList<QByteArray> traceFrames(const QString &path)
{
    QList<QByteArray> out;
    for (const TraceLine &t : traceOf(readTrace(path), QStringLiteral("FRAME")))
        out << t.bytes;
    return out;
}

// Does the trace hold an RX line with exactly these bytes?
inline bool traceReceived(const QString &path, const QByteArray &bytes)
{
    for (const TraceLine &t : traceOf(readTrace(path), QStringLiteral("RX")))
        if (t.bytes == bytes)
            return true;
    return false;
}

// A remote client of a relay server, served by the same event loop as the
// station: everything received is collected.
class Client {
public:
    Client()
    {
        QObject::connect(&m_socket, &QTcpSocket::readyRead, [this] { m_received += m_socket.readAll(); });
    }
    bool connectTo(quint16 port, int ms = 3000)
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        return waitFor([this] { return m_socket.state() == QAbstractSocket::ConnectedState; }, ms);
    }
    void send(const QByteArray &bytes) { m_socket.write(bytes); }
    bool waitForBytes(qsizetype n, int ms = 3000)
    {
        return waitFor([&] { return m_received.size() >= n; }, ms);
    }
    bool waitForEnding(const QByteArray &end, int ms = 3000)
    {
        return waitFor([&] { return m_received.endsWith(end); }, ms);
    }
    QByteArray take()
    {
        QByteArray out = m_received;
        m_received.clear();
        return out;
    }
    const QByteArray &received() const { return m_received; }
    QTcpSocket &socket() { return m_socket; }

private:
    QTcpSocket m_socket;
    QByteArray m_received;
};

// Consecutive fixed-size records of a byte stream.
inline QList<QByteArray> cut(const QByteArray &bytes, int size)
{
    QList<QByteArray> out;
    for (qsizetype i = 0; i + size <= bytes.size(); i += size)
        out << bytes.mid(i, size);
    return out;
}

// A station directory and a simulated unit that traces what it receives.
class UnitFixture : public unitsim::SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        ASSERT_TRUE(dir.ok());
        trace = dir.filePath(QStringLiteral("unit.trace"));
    }

    StationDir dir;
    QString trace;
};

} // namespace stationtest
