// The browser console's own files (built in as Qt resources under :/web) and
// the chart summaries of measurement log files its Logs screen draws.
#include "console/consoleserver.h"

#include "connection/measurementlog.h"
#include "core/datetime.h"

#include <QCryptographicHash>
#include <QFile>
#include <QHttpServerRequest>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QUrlQuery>

#include <cmath>
#include <limits>

namespace {

ConsoleServer::Reply jsonReply(int status, const QJsonObject &o)
{
    return ConsoleServer::Reply{status, "application/json", QJsonDocument(o).toJson(QJsonDocument::Compact), {}};
}

QByteArray contentType(const QString &name)
{
    if (name.endsWith(QLatin1String(".html")))
        return "text/html; charset=utf-8";
    if (name.endsWith(QLatin1String(".css")))
        return "text/css; charset=utf-8";
    if (name.endsWith(QLatin1String(".js")))
        return "text/javascript; charset=utf-8";
    if (name.endsWith(QLatin1String(".svg")))
        return "image/svg+xml";
    return "application/octet-stream";
}

// At most this many points a series: a day of seconds is summed into
// buckets, a zoomed span gets finer ones.
constexpr int kMaxPoints = 1440;

struct Span {
    qint64 from = 0, to = 0; // ms since the epoch, to inclusive
};

// ?from=ISO&to=ISO, either may be missing; false for a time that is no time.
bool readSpan(const QString &query, Span &span, QString *why)
{
    const QUrlQuery q(query);
    for (const char *key : {"from", "to"}) {
        if (!q.hasQueryItem(QLatin1String(key)))
            continue;
        const QDateTime t = QDateTime::fromString(q.queryItemValue(QLatin1String(key), QUrl::FullyDecoded), Qt::ISODateWithMs);
        if (!t.isValid()) {
            *why = QStringLiteral("%1 is not an ISO 8601 time").arg(QLatin1String(key));
            return false;
        }
        (key[0] == 'f' ? span.from : span.to) = t.toMSecsSinceEpoch();
    }
    return true;
}

QString iso(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

// One HD text log line "M/d/yyyy,HH:mm:ss,peak,average,minimum"; a line
// without samples gives its time only (a gap in the chart).
struct HdLine {
    qint64 ms = 0;
    bool hasSamples = false;
    double peak = 0, average = 0, minimum = 0;
};

bool parseHdLine(const QByteArray &line, QHash<QByteArray, qint64> &midnights, HdLine &out)
{
    const QList<QByteArray> f = line.trimmed().split(',');
    if (f.size() < 2 || f[1].size() != 8 || f[1][2] != ':' || f[1][5] != ':')
        return false;
    auto day = midnights.constFind(f[0]);
    if (day == midnights.cend()) {
        const QDate d = QDate::fromString(QString::fromLatin1(f[0]), QStringLiteral("M/d/yyyy"));
        if (!d.isValid() || midnights.size() > 1000)
            return false;
        day = midnights.insert(f[0], d.startOfDay().toMSecsSinceEpoch());
    }
    bool ok1 = false, ok2 = false, ok3 = false;
    const int h = f[1].left(2).toInt(&ok1), m = f[1].mid(3, 2).toInt(&ok2), s = f[1].mid(6, 2).toInt(&ok3);
    if (!ok1 || !ok2 || !ok3 || h > 23 || m > 59 || s > 59)
        return false;
    out.ms = *day + ((h * 60 + m) * 60 + s) * 1000LL;
    out.hasSamples = false;
    if (f.size() >= 5) {
        bool a = false, b = false, c = false;
        out.peak = f[2].toDouble(&a);
        out.average = f[3].toDouble(&b);
        out.minimum = f[4].toDouble(&c);
        out.hasSamples = a && b && c && std::isfinite(out.peak) && std::isfinite(out.average) && std::isfinite(out.minimum);
    }
    return true;
}

// Bucket width in ms for a span: whole seconds (minutes for ARX counts).
qint64 stepFor(const Span &s, qint64 unit)
{
    const qint64 wanted = (s.to - s.from) / kMaxPoints + 1;
    return qMax<qint64>(unit, (wanted + unit - 1) / unit * unit);
}

QJsonValue number(double v)
{
    return std::isnan(v) ? QJsonValue() : QJsonValue(std::round(v * 10) / 10);
}

} // namespace

ConsoleServer::Reply ConsoleServer::webFile(const QHttpServerRequest &request, const QString &path) const
{
    // The console is one flat folder: any other name is simply not there.
    static const QRegularExpression plainName(QStringLiteral("^[a-z0-9][a-z0-9._-]{0,63}$"));
    const QString name = path == QLatin1String("/") ? QStringLiteral("index.html") : path.mid(1);
    QFile file(QStringLiteral(":/web/") + name);
    if (!plainName.match(name).hasMatch() || name.contains(QLatin1String("..")) || !file.open(QIODevice::ReadOnly))
        return jsonReply(404, {{QStringLiteral("error"), QStringLiteral("not found")}});
    const QByteArray body = file.readAll();
    const QByteArray tag = '"' + QCryptographicHash::hash(body, QCryptographicHash::Sha1).toHex().left(16) + '"';
    Reply r{200, contentType(name), body, {}};
    if (request.value("If-None-Match") == tag) {
        r.status = 304;
        r.body.clear();
    }
    r.headers << qMakePair(QByteArray("ETag"), tag) << qMakePair(QByteArray("Cache-Control"), QByteArray("no-cache"))
              << qMakePair(QByteArray("Content-Security-Policy"),
                           QByteArray("default-src 'self'; img-src 'self' data:; frame-ancestors 'none'; form-action 'self'"))
              << qMakePair(QByteArray("Referrer-Policy"), QByteArray("no-referrer"));
    return r;
}

ConsoleServer::Reply ConsoleServer::logChart(const QString &filePath, const QString &name, const QString &query) const
{
    Span span;
    QString why;
    if (!readSpan(query, span, &why))
        return jsonReply(400, {{QStringLiteral("error"), why}});
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return jsonReply(500, {{QStringLiteral("error"), QStringLiteral("the log file cannot be read")}});
    const bool hd = name.endsWith(QLatin1String(".TXT"));

    // The file's times first (one pass), then the buckets of the asked span.
    std::vector<HdLine> lines;
    std::vector<qint64> stamps;
    if (hd) {
        QHash<QByteArray, qint64> midnights;
        file.readLine(4096); // the header
        while (!file.atEnd()) {
            const QByteArray line = file.readLine(4096);
            HdLine l;
            if (parseHdLine(line, midnights, l))
                lines.push_back(l);
        }
    } else {
        const int size = MeasurementLog::kArxRecordSize;
        while (!file.atEnd()) {
            const QByteArray block = file.read(size * 4096);
            for (int at = 0; at + size <= block.size(); at += size) {
                const int length = quint8(block[at]);
                if (length < 8 || length > size - 1)
                    continue;
                const double days = datetime::decodeStamp(block.mid(at + 1 + length - 8, 8));
                if (std::isfinite(days) && days > 0 && days < 2958466) // before the year 9999
                    stamps.push_back(datetime::fromDays(days).toMSecsSinceEpoch());
            }
        }
    }
    qint64 first = std::numeric_limits<qint64>::max(), last = std::numeric_limits<qint64>::min();
    for (const HdLine &l : lines) {
        first = qMin(first, l.ms);
        last = qMax(last, l.ms);
    }
    for (qint64 t : stamps) {
        first = qMin(first, t);
        last = qMax(last, t);
    }
    QJsonObject out{{QStringLiteral("name"), name}, {QStringLiteral("kind"), hd ? QStringLiteral("hd") : QStringLiteral("arx")}};
    if (first > last)
        return jsonReply(200, out); // nothing logged yet
    if (!span.from)
        span.from = first;
    if (!span.to)
        span.to = last;
    if (span.to < span.from)
        return jsonReply(400, {{QStringLiteral("error"), QStringLiteral("to is before from")}});
    // ARX: records per minute, in whole minutes; HD: whole seconds.
    const qint64 unit = hd ? 1000 : 60000;
    span.from -= span.from % unit;
    const qint64 step = stepFor(span, unit);
    const int count = int((span.to - span.from) / step) + 1;
    out.insert(QStringLiteral("first"), iso(first));
    out.insert(QStringLiteral("last"), iso(last));
    out.insert(QStringLiteral("from"), iso(span.from));
    out.insert(QStringLiteral("stepSeconds"), double(step / 1000));
    auto bucket = [&](qint64 t) { return t < span.from || t > span.to ? -1 : int((t - span.from) / step); };
    QJsonObject series;
    if (hd) {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        std::vector<double> peak(count, nan), sum(count, 0), minimum(count, nan);
        std::vector<int> n(count, 0);
        for (const HdLine &l : lines) {
            const int b = bucket(l.ms);
            if (b < 0 || !l.hasSamples)
                continue;
            peak[b] = n[b] ? qMax(peak[b], l.peak) : l.peak;
            minimum[b] = n[b] ? qMin(minimum[b], l.minimum) : l.minimum;
            sum[b] += l.average;
            ++n[b];
        }
        QJsonArray p, a, m;
        for (int i = 0; i < count; ++i) {
            p.append(number(peak[i]));
            a.append(n[i] ? number(sum[i] / n[i]) : QJsonValue());
            m.append(number(minimum[i]));
        }
        series = {{QStringLiteral("peak"), p}, {QStringLiteral("average"), a}, {QStringLiteral("minimum"), m}};
    } else {
        std::vector<int> n(count, 0);
        for (qint64 t : stamps)
            if (const int b = bucket(t); b >= 0)
                ++n[b];
        QJsonArray r;
        const double minutes = double(step) / 60000.0;
        for (int i = 0; i < count; ++i)
            r.append(std::round(n[i] / minutes * 10) / 10);
        series = {{QStringLiteral("records"), r}};
    }
    out.insert(QStringLiteral("series"), series);
    return jsonReply(200, out);
}
