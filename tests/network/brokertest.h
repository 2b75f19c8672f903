// A real mosquitto broker on a free loopback port, started and stopped by the
// test (with a password file, optionally TLS with certificates made here),
// and mosquitto_sub as an outside subscriber: what the network tests share.
#pragma once

#include "../integration/station_support.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>

namespace brokertest {

using stationtest::freePort;

inline bool run(const QString &program, const QStringList &args, const QString &dir)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(program, args);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// A CA, a broker certificate for 127.0.0.1 and a client certificate, all
// signed by the CA, in dir.
inline bool makeCertificates(const QString &dir)
{
    const QStringList ec = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    QFile ext(dir + "/ext.cnf");
    if (!ext.open(QIODevice::WriteOnly))
        return false;
    ext.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n");
    ext.close();
    if (!run("openssl", QStringList{"req", "-x509"} + ec + QStringList{"-keyout", "ca.key", "-out", "ca.crt", "-subj", "/CN=Test CA", "-days", "2"}, dir))
        return false;
    for (const QString &name : {QStringLiteral("server"), QStringLiteral("client")}) {
        if (!run("openssl", QStringList{"req"} + ec + QStringList{"-keyout", name + ".key", "-out", name + ".csr", "-subj", "/CN=" + name}, dir)
            || !run("openssl", {"x509", "-req", "-in", name + ".csr", "-CA", "ca.crt", "-CAkey", "ca.key", "-CAcreateserial",
                                "-out", name + ".crt", "-days", "2", "-extfile", "ext.cnf"}, dir))
            return false;
    }
    return true;
}

class Broker {
public:
    // Users and passwords in a password file; tls: certificates required.
    bool start(const QList<QPair<QString, QString>> &users, bool tls = false)
    {
        if (!m_dir.isValid())
            return false;
        m_tls = tls;
        if (tls && !makeCertificates(m_dir.path()))
            return false;
        const QString passwords = m_dir.filePath("passwords");
        QFile(passwords).remove();
        for (const auto &[user, password] : users)
            if (!run("mosquitto_passwd", QStringList{"-b"} + (QFile::exists(passwords) ? QStringList{} : QStringList{"-c"})
                                             + QStringList{passwords, user, password}, m_dir.path()))
                return false;
        port = freePort();
        QByteArray conf = "user root\npersistence true\npersistence_location " + QFile::encodeName(m_dir.path()) + "/\n"
            "log_dest stderr\nlog_type error\nlog_type warning\n"
            "listener " + QByteArray::number(port) + " 127.0.0.1\nallow_anonymous false\npassword_file " + QFile::encodeName(passwords) + "\n";
        if (tls)
            conf += "cafile ca.crt\ncertfile server.crt\nkeyfile server.key\nrequire_certificate true\n";
        QFile f(m_dir.filePath("mosquitto.conf"));
        if (!f.open(QIODevice::WriteOnly) || f.write(conf) != conf.size())
            return false;
        f.close();
        return resume();
    }
    // Starts (again) on the same port with the same state.
    bool resume()
    {
        m_process.setWorkingDirectory(m_dir.path());
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start("mosquitto", {"-c", m_dir.filePath("mosquitto.conf")});
        if (!m_process.waitForStarted(5000))
            return false;
        return stationtest::waitFor([&] {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, port);
            return s.waitForConnected(200);
        }, 15000);
    }
    // SIGTERM: the broker saves its sessions and stops.
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        stationtest::waitFor([&] { return m_process.state() == QProcess::NotRunning; }, 10000);
        if (m_process.state() != QProcess::NotRunning)
            m_process.kill();
        m_process.waitForFinished(3000);
    }
    ~Broker() { stop(); }

    QString file(const QString &name) const { return m_dir.filePath(name); }
    bool tls() const { return m_tls; }
    // The lines of Network.CFG that reach this broker.
    QStringList networkConfig(const QString &user, const QString &password, const QString &station) const
    {
        QStringList l{"broker_host = 127.0.0.1", QStringLiteral("broker_port = %1").arg(port), "user = " + user,
                      "password = " + password, "station = " + station};
        if (m_tls)
            l << "tls_ca = " + file("ca.crt") << "tls_certificate = " + file("client.crt") << "tls_key = " + file("client.key");
        return l;
    }

    quint16 port = 0;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    bool m_tls = false;
};

struct Message {
    QString topic;
    QByteArray payload;
    QJsonObject json() const { return QJsonDocument::fromJson(payload).object(); }
};

// mosquitto_sub with a session the broker keeps (QoS 1, no clean start), so
// that what is published while it reconnects waits for it.
class Subscriber {
public:
    bool start(const Broker &broker, const QString &user, const QString &password, const QString &pattern = "tolva/#")
    {
        QStringList args{"-h", "127.0.0.1", "-p", QString::number(broker.port), "-u", user, "-P", password,
                         "-i", "test-subscriber", "-c", "-q", "1", "-F", "%t\t%p", "-t", pattern};
        if (broker.tls())
            args << "--cafile" << broker.file("ca.crt") << "--cert" << broker.file("client.crt") << "--key"
                 << broker.file("client.key");
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] { read(); });
        m_process.start("mosquitto_sub", args);
        return m_process.waitForStarted(5000);
    }
    ~Subscriber()
    {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
    void read()
    {
        m_buffer += m_process.readAllStandardOutput();
        qsizetype nl;
        while ((nl = m_buffer.indexOf('\n')) >= 0) {
            const QByteArray line = m_buffer.left(nl);
            m_buffer.remove(0, nl + 1);
            const qsizetype tab = line.indexOf('\t');
            if (tab > 0)
                messages.append(Message{QString::fromUtf8(line.left(tab)), line.mid(tab + 1)});
        }
    }
    QList<Message> on(const QString &topic) const
    {
        QList<Message> out;
        for (const Message &m : messages)
            if (m.topic == topic)
                out << m;
        return out;
    }
    // The newest message on the topic, once one has come.
    bool waitFor(const QString &topic, const std::function<bool(const QJsonObject &)> &ok = {}, int ms = 20000)
    {
        return stationtest::waitFor([&] {
            const QList<Message> got = on(topic);
            return !got.isEmpty() && (!ok || ok(got.last().json()));
        }, ms);
    }
    QList<Message> messages;

private:
    QProcess m_process;
    QByteArray m_buffer;
};

inline QString program(const char *name)
{
    return QStandardPaths::findExecutable(QLatin1String(name));
}

// mosquitto and its tools are installed by scripts/setup.sh; without them the
// broker tests cannot run.
#define REQUIRE_BROKER()                                                                                      \
    if (brokertest::program("mosquitto").isEmpty() || brokertest::program("mosquitto_sub").isEmpty())        \
    GTEST_SKIP() << "mosquitto and mosquitto-clients are not installed (scripts/setup.sh installs them)"

} // namespace brokertest
