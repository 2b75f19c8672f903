// The console over HTTPS with a certificate made for the test, and the
// message list the read model keeps: bounded, ids that go on increasing.
#include "consoletest.h"

#include "core/messagelog.h"

#include <QProcess>
#include <QSslError>

using namespace consoletest;

TEST_F(ConsoleStation, CertificateGivesHttpsAndSecureCookies)
{
    if (QProcess::execute("openssl", {"version"}) != 0)
        GTEST_SKIP() << "no openssl command";
    ASSERT_NO_FATAL_FAILURE(startStation());
    console.reset();
    ASSERT_EQ(QProcess::execute("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                                            "/CN=localhost", "-keyout", dir.filePath("CONFIG/key.pem"), "-out",
                                            dir.filePath("CONFIG/cert.pem")}),
              0);
    ASSERT_TRUE(dir.writeConfig("Console.CFG", {QStringLiteral("port = %1").arg(port), "tls_certificate = CONFIG/cert.pem",
                                                "tls_key = CONFIG/key.pem"}));
    console = std::make_unique<ConsoleServer>(run->station(), *report);
    QString error;
    ASSERT_TRUE(console->start(&error)) << error.toStdString();
    EXPECT_TRUE(console->url().startsWith("https://"));

    QNetworkAccessManager manager;
    QNetworkRequest r(QUrl(QStringLiteral("https://127.0.0.1:%1/api/login").arg(port)));
    r.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/json"));
    QNetworkReply *reply = manager.post(r, QByteArray(R"({"user":"op","password":"pw-op"})"));
    QObject::connect(reply, &QNetworkReply::sslErrors, reply, [reply] { reply->ignoreSslErrors(); });
    ASSERT_TRUE(waitFor([&] { return reply->isFinished(); }, 10000));
    EXPECT_EQ(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200) << reply->errorString().toStdString();
    EXPECT_TRUE(reply->rawHeader("Set-Cookie").contains("; Secure"));
    reply->deleteLater();
    // Plain HTTP on the TLS port gets nothing.
    EXPECT_FALSE(rawExchange(port, "GET /healthz HTTP/1.1\r\n\r\n", 2000).startsWith("HTTP/1.1 200"));
}

TEST_F(ConsoleStation, MessageListIsBoundedAndIdsKeepIncreasing)
{
    ASSERT_NO_FATAL_FAILURE(startStation());
    const int extra = 200;
    for (int i = 0; i < report::StationReport::kMaxMessages + extra; ++i)
        run->station().messageLog().log("Test", QStringLiteral("line %1").arg(i), LogLevel::Debug);
    const quint64 last = report->lastMessageId();
    const QList<report::MessageRecord> all = report->messages(0, {}, 1 << 20);
    ASSERT_EQ(all.size(), report::StationReport::kMaxMessages);
    EXPECT_EQ(all.last().id, last);
    EXPECT_EQ(all.first().id, last - report::StationReport::kMaxMessages + 1);
    const QList<report::MessageRecord> tail = report->messages(last - 3, QStringLiteral("debug"), 100);
    ASSERT_EQ(tail.size(), 3);
    EXPECT_TRUE(tail.last().text.endsWith(QStringLiteral("line %1").arg(report::StationReport::kMaxMessages + extra - 1)));
    EXPECT_TRUE(report->messages(last, {}, 100).isEmpty());
    // Over HTTP: a thousand an answer, and where to go on.
    const QJsonObject page = http->get("/api/messages?after=0", "obs:pw-obs").json();
    EXPECT_EQ(page["messages"].toArray().size(), ConsoleServer::kMessageLimit);
    EXPECT_TRUE(page["more"].toBool());
}
