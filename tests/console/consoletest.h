// A station with a simulated KH-71, its console on a free loopback port and
// an HTTP client of Qt's own; what the console tests share.
#pragma once

#include "../integration/station_support.h"
#include "console/consoleaccounts.h"
#include "console/consolelistener.h"
#include "console/consoleserver.h"
#include "report/stationreport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QWebSocket>

namespace consoletest {

using namespace stationtest;

struct Answer {
    int status = 0;
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    QList<QNetworkReply::RawHeaderPair> headers;
    QByteArray header(const QByteArray &name) const
    {
        for (const auto &h : headers)
            if (h.first.compare(name, Qt::CaseInsensitive) == 0)
                return h.second;
        return {};
    }
};

class Http {
public:
    explicit Http(quint16 port) : m_port(port) {}
    // user/password: HTTP Basic; csrf: the header of a cookie session.
    Answer send(const QByteArray &method, const QString &path, const QByteArray &body = {},
                const QByteArray &basic = {}, const QByteArray &csrf = {})
    {
        QNetworkRequest r(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path)));
        if (!basic.isEmpty())
            r.setRawHeader("Authorization", "Basic " + basic.toBase64());
        if (!csrf.isEmpty())
            r.setRawHeader("X-Tolva-Csrf", csrf);
        if (!body.isEmpty())
            r.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/json"));
        QNetworkReply *reply = m_manager.sendCustomRequest(r, method, body);
        waitFor([&] { return reply->isFinished(); }, 10000);
        Answer a{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll(),
                 reply->rawHeaderPairs()};
        reply->deleteLater();
        return a;
    }
    Answer get(const QString &path, const QByteArray &basic = {}) { return send("GET", path, {}, basic); }
    Answer post(const QString &path, const QByteArray &body = {}, const QByteArray &basic = {},
                const QByteArray &csrf = {})
    {
        return send("POST", path, body, basic, csrf);
    }
    QNetworkAccessManager &manager() { return m_manager; } // keeps the session cookie

private:
    quint16 m_port;
    QNetworkAccessManager m_manager;
};

// Raw bytes to the console and what comes back until it closes or the time is up.
inline QByteArray rawExchange(quint16 port, const QByteArray &bytes, int ms = 5000)
{
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    if (!s.waitForConnected(3000))
        return "no connection";
    s.write(bytes);
    QByteArray got;
    waitFor([&] {
        got += s.readAll();
        return s.state() != QAbstractSocket::ConnectedState || got.contains("\r\n\r\n");
    }, ms);
    return got + s.readAll();
}

class ConsoleStation : public UnitFixture {
protected:
    // Page 1 a KH-71 on TCP at 8 frames a second, relay server 1 serving it,
    // three console accounts, the console started.
    void startStation(bool accounts = true)
    {
        ASSERT_TRUE(sim.start({"--tcp", "0", "--unit", "kh71", "--rate", "8", "--trace", trace}));
        ASSERT_NE(sim.tcpPort(), 0);
        PageFile page = networkPage(sim.tcpPort());
        page.hardwareType = 2;
        page.logEnabled = true;
        ASSERT_TRUE(dir.writePage(1, page));
        ASSERT_NE(dir.addServer(1, false, {{"viewer", "pass", "Observer"}}), 0);
        port = freePort();
        ASSERT_TRUE(dir.writeConfig(QStringLiteral("Console.CFG"), {QStringLiteral("port = %1").arg(port)}));
        const QString users = consoleaccounts::path(dir.filePath(QStringLiteral("CONFIG")));
        for (const auto &[name, level] : {std::pair{"sup", 3}, {"op", 2}, {"obs", 1}}) {
            if (accounts) {
                ASSERT_TRUE(consoleaccounts::setAccount(users, QLatin1String(name), level, "pw-" + QByteArray(name), nullptr));
            }
        }
        ASSERT_NO_FATAL_FAILURE(startRun(run, dir.path(), QStringLiteral(" HD Succesful Connection"), 15000));
        report = std::make_unique<report::StationReport>(run->station());
        console = std::make_unique<ConsoleServer>(run->station(), *report);
        QString error;
        ASSERT_TRUE(console->start(&error)) << error.toStdString();
        ASSERT_TRUE(console->isListening());
        http = std::make_unique<Http>(port);
    }
    void TearDown() override
    {
        console.reset();
        report.reset();
        run.reset();
        UnitFixture::TearDown();
    }

    quint16 port = 0;
    std::unique_ptr<StationRun> run;
    std::unique_ptr<report::StationReport> report;
    std::unique_ptr<ConsoleServer> console;
    std::unique_ptr<Http> http;
};

} // namespace consoletest
