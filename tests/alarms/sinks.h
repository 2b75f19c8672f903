// What the alarm tests send notifications to: an SMTP sink (Debian's
// python3-aiosmtpd, one file per message) and a small HTTP server that keeps
// each request and answers with a chosen status.
#pragma once

#include "integration/station_support.h"

#include <QDir>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>

namespace alarmtest {

class SmtpSink {
public:
    ~SmtpSink() { stop(); }
    // False when python3-aiosmtpd is missing or the sink does not come up.
    bool start(bool refuse = false)
    {
        port = stationtest::freePort();
        QStringList args{QStringLiteral(TOLVA_SOURCE_DIR "/tests/alarms/smtp_sink.py"), QStringLiteral("--port"),
                         QString::number(port), QStringLiteral("--dir"), m_dir.path()};
        if (refuse)
            args << QStringLiteral("--refuse");
        m_proc.start(QStringLiteral("/usr/bin/python3"), args);
        if (!m_proc.waitForStarted(5000))
            return false;
        return stationtest::waitFor([&] { return m_proc.readAllStandardOutput().contains("READY"); }, 15000);
    }
    void stop()
    {
        if (m_proc.state() == QProcess::NotRunning)
            return;
        m_proc.closeWriteChannel();
        if (!m_proc.waitForFinished(5000)) {
            m_proc.kill();
            m_proc.waitForFinished(3000);
        }
    }
    QList<QByteArray> messages() const
    {
        QList<QByteArray> out;
        QDir d(m_dir.path());
        QStringList names = d.entryList({QStringLiteral("*.eml")}, QDir::Files);
        std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) { return a.section('.', 0, 0).toInt() < b.section('.', 0, 0).toInt(); });
        for (const QString &n : names) {
            QFile f(d.filePath(n));
            if (f.open(QIODevice::ReadOnly))
                out << f.readAll();
        }
        return out;
    }
    int count(const QByteArray &text) const
    {
        int n = 0;
        for (const QByteArray &m : messages())
            n += m.contains(text) ? 1 : 0;
        return n;
    }
    quint16 port = 0;
    std::string stderrText() { return m_proc.readAllStandardError().toStdString(); }

private:
    QTemporaryDir m_dir;
    QProcess m_proc;
};

class HttpSink : public QTcpServer {
public:
    struct Request {
        QByteArray head, body;
        QByteArray header(const QByteArray &name) const
        {
            for (const QByteArray &line : head.split('\n')) {
                const int colon = line.indexOf(':');
                if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
                    return line.mid(colon + 1).trimmed();
            }
            return {};
        }
    };
    explicit HttpSink(int status = 200) : m_status(status)
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = nextPendingConnection()) {
                auto buffer = std::make_shared<QByteArray>();
                connect(s, &QTcpSocket::readyRead, this, [this, s, buffer] {
                    *buffer += s->readAll();
                    const int end = buffer->indexOf("\r\n\r\n");
                    if (end < 0)
                        return;
                    Request r;
                    r.head = buffer->left(end);
                    const int length = r.header("Content-Length").toInt();
                    if (buffer->size() < end + 4 + length)
                        return;
                    r.body = buffer->mid(end + 4, length);
                    requests << r;
                    s->write("HTTP/1.1 " + QByteArray::number(m_status) + " X\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                    s->disconnectFromHost();
                });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/hook").arg(serverPort()); }
    QList<Request> requests;

private:
    int m_status;
};

} // namespace alarmtest
