// GET /api/alarms and the alarm metrics, from the read model's alarm records;
// GET and POST /api/alarms/settings, Alarms.CFG for a Supervisor.
#include "console/consoleserver.h"

#include "alarms/alarmsettings.h"
#include "core/messagelog.h"
#include "report/stationreport.h"
#include "station/station.h"

#include <QHttpServerRequest>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QTemporaryDir>
#include <QUrlQuery>

namespace {

ConsoleServer::Reply answer(int status, const QJsonObject &o)
{
    return ConsoleServer::Reply{status, "application/json", QJsonDocument(o).toJson(QJsonDocument::Compact), {}};
}

ConsoleServer::Reply refuse(int status, const QString &text)
{
    return answer(status, {{QStringLiteral("error"), text}});
}

} // namespace

ConsoleServer::Reply ConsoleServer::alarms(const QHttpServerRequest &request, const QStringList &parts, const Caller &caller)
{
    const bool get = request.method() == QHttpServerRequest::Method::Get;
    const bool post = request.method() == QHttpServerRequest::Method::Post;
    if (parts.size() == 1) {
        if (!get)
            return refuse(405, QStringLiteral("GET only"));
        const QUrlQuery query(request.url());
        const QString active = query.queryItemValue(QStringLiteral("active"));
        if (!active.isEmpty() && active != QLatin1String("0") && active != QLatin1String("1"))
            return refuse(400, QStringLiteral("active is 0 or 1"));
        QJsonArray list;
        // Newest first: the screen shows the latest at the top.
        const QList<report::AlarmRecord> found = m_report.alarms(active == QLatin1String("1"));
        for (auto it = found.crbegin(); it != found.crend(); ++it)
            list.append(report::StationReport::alarmJson(*it));
        return answer(200, QJsonObject{{QStringLiteral("alarms"), list}});
    }
    if (parts.size() != 2 || parts[1] != QLatin1String("settings"))
        return refuse(404, QStringLiteral("not found"));
    if (!get && !post)
        return refuse(405, QStringLiteral("GET or POST only"));
    if (caller.level < 3)
        return refuse(403, QStringLiteral("only a Supervisor may see or change the alarm settings"));
    // The file's own keys both ways; secrets are never shown, only whether set.
    const QString config = m_station.configDirectory();
    alarms::AlarmSettings current;
    QString why;
    if (!alarms::AlarmSettings::load(config, current, &why) && get)
        return refuse(409, why);
    QList<QPair<QString, QString>> entries = alarms::AlarmSettings::entries(current);
    if (get) {
        QJsonObject o;
        for (const auto &[key, value] : entries) {
            if (alarms::AlarmSettings::isSecret(key))
                o.insert(key + QStringLiteral("_set"), !value.isEmpty());
            else
                o.insert(key, value);
        }
        return answer(200, o);
    }
    const QJsonObject changes = QJsonDocument::fromJson(request.body()).object();
    if (changes.isEmpty())
        return refuse(400, QStringLiteral("send a JSON object of Alarms.CFG keys and values"));
    for (auto it = changes.constBegin(); it != changes.constEnd(); ++it) {
        auto e = std::find_if(entries.begin(), entries.end(), [&](const auto &p) { return p.first == it.key(); });
        if (e == entries.end())
            return refuse(400, QStringLiteral("\"%1\" is not an Alarms.CFG key").arg(it.key()));
        const QJsonValue v = it.value();
        e->second = v.isBool() ? QString::number(int(v.toBool())) : v.isDouble() ? QString::number(qint64(v.toDouble())) : v.toString();
        if (e->second.contains(QLatin1Char('\n')) || e->second.contains(QLatin1Char('\r')))
            return refuse(400, QStringLiteral("%1: one line only").arg(it.key()));
    }
    // Checked as the file it becomes before the real one is replaced.
    QTemporaryDir trial;
    QFile f(alarms::AlarmSettings::path(trial.path()));
    if (!trial.isValid() || !f.open(QIODevice::WriteOnly))
        return refuse(500, QStringLiteral("no room to check the settings"));
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    for (const auto &[key, value] : entries)
        f.write((key + QStringLiteral(" = ") + value + QLatin1Char('\n')).toUtf8());
    f.close();
    alarms::AlarmSettings next;
    if (!alarms::AlarmSettings::load(trial.path(), next, &why))
        return refuse(400, why.replace(trial.path() + QLatin1Char('/'), QString()));
    if (!alarms::AlarmSettings::save(config, next, &why))
        return refuse(500, why);
    log(QStringLiteral("Alarm settings changed by %1 from %2").arg(caller.user, caller.address), int(LogLevel::Status));
    return answer(200, QJsonObject{{QStringLiteral("done"), QStringLiteral("saved")}});
}

QByteArray ConsoleServer::alarmMetrics() const
{
    // 1 for each alarm active now, 0 for those that were active since the
    // start and have cleared, so that a graph shows the end.
    QByteArray text = "# HELP tolva_alarm_active 1 while the alarm is raised\n# TYPE tolva_alarm_active gauge\n";
    QHash<QString, bool> state;
    QStringList order;
    for (const report::AlarmRecord &a : m_report.alarms(false)) {
        if (!a.active() && a.clearedAt < m_report.startedAt())
            continue;
        QString labels = QStringLiteral("name=\"%1\",page=\"%2\"").arg(a.name).arg(a.page);
        if (a.server)
            labels += QStringLiteral(",server=\"%1\"").arg(a.server);
        if (!a.subject.isEmpty()) {
            QString s = a.subject;
            s.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('"'), QStringLiteral("\\\"")).replace(QLatin1Char('\n'), QStringLiteral("\\n"));
            labels += QStringLiteral(",subject=\"%1\"").arg(s);
        }
        if (!state.contains(labels))
            order << labels;
        state[labels] = state.value(labels) || a.active();
    }
    for (const QString &l : order)
        text += "tolva_alarm_active{" + l.toUtf8() + "} " + (state[l] ? "1" : "0") + '\n';
    return text;
}
