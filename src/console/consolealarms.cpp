// GET /api/alarms and the alarm metrics, from the read model's alarm records.
#include "console/consoleserver.h"

#include "report/stationreport.h"

#include <QHttpServerRequest>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QUrlQuery>

ConsoleServer::Reply ConsoleServer::alarms(const QHttpServerRequest &request) const
{
    const QUrlQuery query(request.url());
    const QString active = query.queryItemValue(QStringLiteral("active"));
    if (!active.isEmpty() && active != QLatin1String("0") && active != QLatin1String("1"))
        return Reply{400, "application/json", R"({"error":"active is 0 or 1"})", {}};
    QJsonArray list;
    // Newest first: the screen shows the latest at the top.
    const QList<report::AlarmRecord> found = m_report.alarms(active == QLatin1String("1"));
    for (auto it = found.crbegin(); it != found.crend(); ++it)
        list.append(report::StationReport::alarmJson(*it));
    return Reply{200, "application/json",
                 QJsonDocument(QJsonObject{{QStringLiteral("alarms"), list}}).toJson(QJsonDocument::Compact), {}};
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
