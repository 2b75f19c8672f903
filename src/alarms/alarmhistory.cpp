#include "alarms/alarmhistory.h"

#include "report/stationreport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMap>

namespace alarms {

namespace {

report::AlarmRecord fromJson(const QJsonObject &o)
{
    report::AlarmRecord a;
    a.id = quint64(o.value(QStringLiteral("id")).toDouble());
    a.name = o.value(QStringLiteral("name")).toString();
    a.severity = o.value(QStringLiteral("severity")).toString();
    a.page = o.value(QStringLiteral("page")).toInt();
    a.server = o.value(QStringLiteral("server")).toInt();
    a.subject = o.value(QStringLiteral("subject")).toString();
    a.text = o.value(QStringLiteral("text")).toString();
    a.clearText = o.value(QStringLiteral("clearText")).toString();
    for (const QJsonValue &d : o.value(QStringLiteral("details")).toArray())
        a.details << d.toString();
    a.raisedAt = QDateTime::fromString(o.value(QStringLiteral("raisedAt")).toString(), Qt::ISODateWithMs);
    a.clearedAt = QDateTime::fromString(o.value(QStringLiteral("clearedAt")).toString(), Qt::ISODateWithMs);
    return a;
}

void readFile(const QString &path, QMap<quint64, report::AlarmRecord> &out)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return;
    if (f.size() > AlarmHistory::kMaxReadBytes) {
        f.seek(f.size() - AlarmHistory::kMaxReadBytes);
        f.readLine(64 * 1024); // the rest of a cut line
    }
    while (!f.atEnd()) {
        const QByteArray line = f.readLine(64 * 1024);
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        const report::AlarmRecord a = fromJson(o);
        if (a.id == 0 || a.name.isEmpty() || !a.raisedAt.isValid())
            continue; // a line cut by a crash or edited by hand
        out[a.id] = a; // the clear's line follows its raise's
    }
}

} // namespace

QString AlarmHistory::path() const
{
    return m_directory + QStringLiteral("/alarms.jsonl");
}

bool AlarmHistory::append(const report::AlarmRecord &a, bool raised, const QDateTime &now, QString *error)
{
    QDir().mkpath(m_directory);
    const QFileInfo info(path());
    if (info.exists() && info.size() > 0) {
        const QDate written = info.lastModified().date();
        if (written.year() != now.date().year() || written.month() != now.date().month()) {
            const QString old = m_directory + QStringLiteral("/alarms-%1.jsonl").arg(written.toString(QStringLiteral("yyyy-MM")));
            if (!QFile::exists(old))
                QFile::rename(path(), old);
        }
    }
    QFile f(path());
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append)) {
        if (error)
            *error = f.fileName() + QStringLiteral(": ") + f.errorString();
        return false;
    }
    QJsonObject o = report::StationReport::alarmJson(a);
    o.insert(QStringLiteral("event"), raised ? QStringLiteral("raised") : QStringLiteral("cleared"));
    const QByteArray line = QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
    if (f.write(line) != line.size() || !f.flush()) {
        if (error)
            *error = f.fileName() + QStringLiteral(": ") + f.errorString();
        return false;
    }
    return true;
}

QList<report::AlarmRecord> AlarmHistory::load(const QDateTime &now, QList<report::AlarmRecord> *stale) const
{
    QMap<quint64, report::AlarmRecord> byId;
    const QDate before = now.date().addMonths(-1);
    readFile(m_directory + QStringLiteral("/alarms-%1.jsonl").arg(before.toString(QStringLiteral("yyyy-MM"))), byId);
    readFile(path(), byId);
    QList<report::AlarmRecord> out;
    const QDateTime from = now.addDays(-kDays);
    for (const report::AlarmRecord &a : std::as_const(byId)) {
        if (a.active()) {
            if (stale)
                *stale << a;
            continue;
        }
        if (a.clearedAt >= from)
            out << a;
    }
    return out;
}

} // namespace alarms
