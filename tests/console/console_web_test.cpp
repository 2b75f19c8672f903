// The browser console's files and the log charts its Logs screen draws,
// over real HTTP.
#include "connection/measurementlog.h"
#include "consoletest.h"
#include "core/datetime.h"

#include <QUrl>

using namespace consoletest;

namespace {

class ConsoleWeb : public ConsoleStation {};

QByteArray loginBody(const char *user, const char *password)
{
    return QJsonDocument(QJsonObject{{"user", user}, {"password", password}}).toJson();
}

QString chartPath(const QString &name, const QString &query = {})
{
    return QStringLiteral("/api/logs/") + QString::fromLatin1(QUrl::toPercentEncoding(name)) + QStringLiteral("/chart")
        + (query.isEmpty() ? QString() : QLatin1Char('?') + query);
}

QList<double> numbers(const QJsonValue &v)
{
    QList<double> out;
    for (const QJsonValue &x : v.toArray())
        out << (x.isNull() ? -1.0 : x.toDouble());
    return out;
}

} // namespace

TEST_F(ConsoleWeb, FilesAreServedByPlainNameOnly)
{
    ASSERT_NO_FATAL_FAILURE(startStation());
    const Answer index = http->get(QStringLiteral("/"));
    EXPECT_EQ(index.status, 200);
    EXPECT_TRUE(index.header("Content-Type").startsWith("text/html"));
    EXPECT_TRUE(index.header("Content-Security-Policy").contains("default-src 'self'"));
    const Answer script = http->get(QStringLiteral("/console.js"));
    EXPECT_EQ(script.status, 200);
    EXPECT_TRUE(script.header("Content-Type").startsWith("text/javascript"));

    // A kept copy is confirmed without the body.
    QNetworkRequest again(QUrl(QStringLiteral("http://127.0.0.1:%1/console.js").arg(port)));
    again.setRawHeader("If-None-Match", script.header("ETag"));
    QNetworkReply *reply = http->manager().get(again);
    ASSERT_TRUE(waitFor([&] { return reply->isFinished(); }, 10000));
    EXPECT_EQ(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 304);
    EXPECT_TRUE(reply->readAll().isEmpty());
    reply->deleteLater();

    // Sent as written: a client library would tidy the dots away first.
    for (const char *path : {"/../CMakeLists.txt", "/%2e%2e/CMakeLists.txt", "/web/index.html", "/console.js/",
                             "/.hidden", "/INDEX.HTML", "/index.html%00.js", "/nothing.js", "/a..js", "/:/web/index.html"}) {
        SCOPED_TRACE(path);
        const QByteArray got = rawExchange(port, QByteArray("GET ") + path + " HTTP/1.1\r\nHost: x\r\n\r\n");
        EXPECT_TRUE(got.startsWith("HTTP/1.1 404")) << got.left(40).toStdString();
    }
}

TEST_F(ConsoleWeb, SessionGivesTheTokenAgainAfterAReload)
{
    ASSERT_NO_FATAL_FAILURE(startStation());
    EXPECT_EQ(http->get(QStringLiteral("/api/session")).status, 401);
    const Answer login = http->post(QStringLiteral("/api/login"), loginBody("op", "pw-op"));
    ASSERT_EQ(login.status, 200);
    const QJsonObject session = http->get(QStringLiteral("/api/session")).json();
    EXPECT_EQ(session["csrf"].toString(), login.json()["csrf"].toString());
    EXPECT_EQ(session["level"].toString(), QStringLiteral("Operator"));
}

TEST_F(ConsoleWeb, ChartsSumUpTheLogFiles)
{
    // Page 2: an ARX page that is not connected, its log in the same folder.
    PageFile arx;
    arx.autoConnect = false;
    ASSERT_TRUE(dir.writePage(2, arx));
    ASSERT_NO_FATAL_FAILURE(startStation());
    const QByteArray basic = "obs:pw-obs";

    // An HD text log: ten seconds, a line without samples, a line that is no line.
    const QString hdName = QStringLiteral("Connect1-Date..01.01.26 Time..00.00.00.TXT");
    QByteArray hd = "DATE,TIME,TOTAL PEAK,TOTAL AVE,TOTAL MIN\r\n";
    for (int s = 0; s < 10; ++s)
        hd += s == 4 ? QByteArray("1/1/2026,10:00:04\r\n")
                     : QByteArray("1/1/2026,10:00:0") + QByteArray::number(s) + ',' + QByteArray::number(100 + s) + ','
                           + QByteArray::number(50 + s) + ".5," + QByteArray::number(s) + "\r\n";
    hd += "garbage,25:99:00,1,2,3\r\n1/1/2026,10:00:1";
    ASSERT_TRUE(StationDir::write(dir.logDirectory() + hdName, hd));

    // An ARX log: records at 10:00:05, 10:00:30, 10:01:10 and 10:03:00.
    const QString arxName = QStringLiteral("Connect2-Date..01.01.26 Time..00.00.00.LW2");
    QByteArray arxFile;
    const QDateTime base(QDate(2026, 1, 1), QTime(10, 0));
    for (int s : {5, 30, 70, 180})
        arxFile += MeasurementLog::arxRecord(QByteArray(100, 'x') + datetime::stampOf(base.addSecs(s)));
    arxFile += QByteArray(50, '\xFF'); // a torn last record
    ASSERT_TRUE(StationDir::write(dir.logDirectory() + arxName, arxFile));

    struct Case {
        const char *what;
        QString name, query;
        int status;
        const char *series;
        QList<double> values; // -1: no value (a gap)
        double step;
    };
    const QString from = base.addSecs(2).toUTC().toString(Qt::ISODate), to = base.addSecs(5).toUTC().toString(Qt::ISODate);
    const QList<Case> cases = {
        {"HD peaks by second, the silent second a gap", hdName, {}, 200, "peak", {100, 101, 102, 103, -1, 105, 106, 107, 108, 109}, 1},
        {"HD averages", hdName, {}, 200, "average", {50.5, 51.5, 52.5, 53.5, -1, 55.5, 56.5, 57.5, 58.5, 59.5}, 1},
        {"HD minimum of a zoomed span", hdName, QStringLiteral("from=%1&to=%2").arg(from, to), 200, "minimum", {2, 3, -1, 5}, 1},
        {"ARX records a minute, the silent minute zero", arxName, {}, 200, "records", {2, 1, 0, 1}, 60},
        {"a time that is no time", hdName, QStringLiteral("from=yesterday"), 400, nullptr, {}, 0},
        {"an end before the start", hdName, QStringLiteral("from=%1&to=%2").arg(to, from), 400, nullptr, {}, 0},
        {"a name the list does not give", QStringLiteral("../CONFIG/Console.CFG"), {}, 404, nullptr, {}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const Answer a = http->get(chartPath(c.name, c.query), basic);
        ASSERT_EQ(a.status, c.status) << a.body.toStdString();
        if (!c.series)
            continue;
        const QJsonObject o = a.json();
        EXPECT_EQ(o["stepSeconds"].toDouble(), c.step);
        EXPECT_EQ(numbers(o["series"].toObject()[QLatin1String(c.series)]), c.values);
    }
    const QJsonObject whole = http->get(chartPath(arxName), basic).json();
    // Stamps are days as doubles: within a millisecond.
    EXPECT_LE(qAbs(QDateTime::fromString(whole["first"].toString(), Qt::ISODateWithMs).msecsTo(base.addSecs(5))), 1);
    EXPECT_LE(qAbs(QDateTime::fromString(whole["last"].toString(), Qt::ISODateWithMs).msecsTo(base.addSecs(180))), 1);
}

TEST_F(ConsoleWeb, LiveClientsGetOnlyTheValuesTheyAskFor)
{
    ASSERT_NO_FATAL_FAILURE(startStation());
    QWebSocket socket;
    QList<QJsonObject> events;
    QObject::connect(&socket, &QWebSocket::textMessageReceived,
                     [&](const QString &text) { events << QJsonDocument::fromJson(text.toUtf8()).object(); });
    QNetworkRequest r(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/live").arg(port)));
    r.setRawHeader("Authorization", "Basic " + QByteArray("obs:pw-obs").toBase64());
    socket.open(r);
    auto count = [&](const char *type) {
        return std::count_if(events.begin(), events.end(), [&](const QJsonObject &e) { return e["type"] == type; });
    };
    ASSERT_TRUE(waitFor([&] { return count("values") > 0; }, 10000)); // every page's values by default

    struct Step {
        const char *message;
        const char *expected; // the event page 1's updates come as from then on
    };
    for (const Step &s : {Step{R"({"values": []})", "counters"}, Step{R"({"values": [1, 99, "x"]})", "values"},
                          Step{"not json", "values"}, Step{R"({"values": [2]})", "counters"}}) {
        SCOPED_TRACE(s.message);
        socket.sendTextMessage(QString::fromLatin1(s.message));
        // Events already on their way may still come as before: wait for two in a row of the new kind.
        ASSERT_TRUE(waitFor([&] {
            return events.size() >= 2 && events.last()["type"] == s.expected && events[events.size() - 2]["type"] == s.expected;
        }, 10000));
        EXPECT_EQ(events.last()["page"].toInt(), 1);
        EXPECT_TRUE(events.last()["counters"].toObject().contains("framesFiled"));
        EXPECT_EQ(events.last().contains("values"), QByteArray(s.expected) == "values");
        events.clear();
    }
}
