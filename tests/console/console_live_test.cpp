// Live events over the WebSocket and the metrics read by a real Prometheus
// text parser.
#include "consoletest.h"

#include "core/messagelog.h"

#include <QProcess>

using namespace consoletest;

namespace {

struct LiveClient {
    QWebSocket socket;
    QList<QJsonObject> events;
    LiveClient(quint16 port, const QByteArray &basic)
    {
        QObject::connect(&socket, &QWebSocket::textMessageReceived, [this](const QString &text) {
            events << QJsonDocument::fromJson(text.toUtf8()).object();
        });
        QNetworkRequest r(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/live").arg(port)));
        r.setRawHeader("Authorization", "Basic " + basic.toBase64());
        socket.open(r);
    }
    QList<QJsonObject> of(const QString &type) const
    {
        QList<QJsonObject> out;
        for (const QJsonObject &e : events)
            if (e["type"].toString() == type)
                out << e;
        return out;
    }
};

} // namespace

TEST_F(ConsoleStation, LiveEventsReachReadersAndADeafClientIsDropped)
{
    ASSERT_NO_FATAL_FAILURE(startStation());
    LiveClient reader(port, "obs:pw-obs");
    ASSERT_TRUE(waitFor([&] { return !reader.of("hello").isEmpty(); }, 5000));
    LiveClient refused(port, "obs:wrong");
    EXPECT_TRUE(waitFor([&] { return refused.socket.state() == QAbstractSocket::UnconnectedState; }, 5000));
    EXPECT_TRUE(refused.of("hello").isEmpty());

    // A values update of page 1, with its counters.
    ASSERT_TRUE(waitFor([&] { return !reader.of("values").isEmpty(); }, 5000));
    EXPECT_EQ(reader.of("values")[0]["values"].toObject()["family"].toString(), "hd");

    // A client that completes the handshake and then reads nothing.
    QTcpSocket deaf;
    deaf.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
    deaf.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(deaf.waitForConnected(3000));
    deaf.setReadBufferSize(1);
    deaf.write("GET /api/live HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
               "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n"
               "Authorization: Basic " + QByteArray("obs:pw-obs").toBase64() + "\r\n\r\n");
    ASSERT_TRUE(waitFor([&] { return console->liveClients() == 2; }, 5000));

    // Message lines until the deaf client is dropped (how much the kernel
    // holds for it differs from machine to machine); the reader gets every
    // line, in order.
    int count = 0;
    for (; count < 60000 && console->liveClients() == 2; ++count) {
        run->station().messageLog().log("Test", QStringLiteral("line %1 ").arg(count) + QString(200, 'x'), LogLevel::Debug);
        if (count % 10 == 0) // the reader lives on this event loop too
            QCoreApplication::processEvents();
    }
    ASSERT_TRUE(waitFor([&] { return console->liveClients() == 1; }, 15000))
        << count << " lines sent, " << console->liveClients() << " live clients";
    ASSERT_EQ(reader.socket.state(), QAbstractSocket::ConnectedState);
    EXPECT_FALSE(run->line(QStringLiteral("dropped: 256 KiB waiting unread")).isEmpty());
    const QString lastLine = QStringLiteral("line %1 ").arg(count - 1);
    ASSERT_TRUE(waitFor([&] {
        const auto m = reader.of("message");
        return std::any_of(m.begin(), m.end(), [&](const QJsonObject &e) {
            return e["message"].toObject()["text"].toString().contains(lastLine);
        });
    }, 15000)) << reader.of("message").size() << " lines";
    QList<double> ids;
    int lines = 0;
    for (const QJsonObject &e : reader.of("message")) {
        ids << e["message"].toObject()["id"].toDouble();
        lines += e["message"].toObject()["text"].toString().contains("<Test>") ? 1 : 0;
    }
    EXPECT_EQ(lines, count);
    for (qsizetype i = 1; i < ids.size(); ++i)
        ASSERT_EQ(ids[i], ids[i - 1] + 1) << "a message line lost";
}

TEST_F(ConsoleStation, MetricsParseAndCountTheFramesTheUnitSent)
{
    const QString python = QStringLiteral("/usr/bin/python3");
    if (QProcess::execute(python, {"-c", "import prometheus_client"}) != 0)
        GTEST_SKIP() << "python3-prometheus-client not installed";
    ASSERT_NO_FATAL_FAILURE(startStation());
    ASSERT_TRUE(waitFor([&] { return run->page(1).record().framesFiled >= 10; }, 10000));
    sim.stop();
    // Every frame the unit sent has arrived once the count stands still.
    quint64 last = 0;
    ASSERT_TRUE(waitFor([&] {
        const quint64 now = run->page(1).record().framesFiled;
        const bool still = now == last && now > 0 && !run->page(1).record().portOpen;
        last = now;
        QTest::qWait(200);
        return still;
    }, 15000));
    const int sent = int(traceFrames(trace).size());

    const Answer metrics = http->get("/metrics");
    ASSERT_EQ(metrics.status, 200);
    QProcess parser;
    parser.start(python, {QStringLiteral(TOLVA_SOURCE_DIR "/tests/console/parse_metrics.py")});
    ASSERT_TRUE(parser.waitForStarted(5000));
    parser.write(metrics.body);
    parser.closeWriteChannel();
    ASSERT_TRUE(parser.waitForFinished(20000));
    ASSERT_EQ(parser.exitCode(), 0) << parser.readAllStandardError().toStdString();
    const QJsonObject samples = QJsonDocument::fromJson(parser.readAllStandardOutput()).object();
    EXPECT_EQ(samples["tolva_page_frames_filed_total{page=1}"].toDouble(), sent);
    EXPECT_EQ(samples["tolva_page_frames_filed_total{page=2}"].toDouble(), 0);
    EXPECT_GE(samples["tolva_page_bytes_received_total{page=1}"].toDouble(), sent * 1501.0);
    EXPECT_EQ(samples["tolva_server_enabled{server=1}"].toDouble(), 1);
    EXPECT_GT(samples["tolva_process_resident_memory_bytes"].toDouble(), 0);
    EXPECT_TRUE(samples.contains("tolva_page_seconds_since_last_frame{page=1}"));
    // The parser took the counters as counters.
    EXPECT_EQ(samples["type:tolva_page_frames_filed"].toString(), "counter");
}
