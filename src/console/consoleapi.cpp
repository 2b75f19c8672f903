// The JSON API's reading side and its actions.
#include "console/consoleserver.h"

#include "connection/connectionpage.h"
#include "console/consoleparse.h"
#include "core/messagelog.h"
#include "core/version.h"
#include "report/stationreport.h"
#include "server/relayservers.h"
#include "station/station.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QJsonDocument>
#include <QUrlQuery>

namespace {

ConsoleServer::Reply json(int status, const QJsonObject &o)
{
    return ConsoleServer::Reply{status, "application/json", QJsonDocument(o).toJson(QJsonDocument::Compact), {}};
}

ConsoleServer::Reply error(int status, const QString &text)
{
    return json(status, {{QStringLiteral("error"), text}});
}

using consoleparse::number;

} // namespace

ConsoleServer::Reply ConsoleServer::api(const QHttpServerRequest &request, const QStringList &parts, Caller &caller)
{
    const QString what = parts.value(0);
    if (parts.size() == 1 && what == QLatin1String("station")) {
        QJsonObject o = m_report.stationJson();
        o.insert(QStringLiteral("version"), QLatin1String(kProgramVersion));
        o.insert(QStringLiteral("user"), QJsonObject{{QStringLiteral("name"), caller.user},
                                                     {QStringLiteral("level"), consoleaccounts::levelName(caller.level)}});
        return json(200, o);
    }
    if (parts.size() == 1 && what == QLatin1String("session")) {
        // The console's page after a reload: the cookie still holds, the token is asked for again.
        return json(200, QJsonObject{{QStringLiteral("user"), caller.user},
                                     {QStringLiteral("level"), consoleaccounts::levelName(caller.level)},
                                     {QStringLiteral("csrf"), QString::fromLatin1(caller.csrf)}});
    }
    if (what == QLatin1String("pages") && (parts.size() == 2 || (parts.size() == 3 && parts[2] == QLatin1String("values")))) {
        const int n = number(parts[1], Station::kPages);
        if (!n)
            return error(404, QStringLiteral("pages are 1 to 8"));
        if (parts.size() == 3)
            return json(200, QJsonObject{{QStringLiteral("page"), n}, {QStringLiteral("values"), m_report.values(n)}});
        QJsonObject o = m_report.pageJson(m_report.page(n), true);
        if (caller.level >= 3) {
            const ConnectionSettings &s = m_station.page(n)->settings();
            o.insert(QStringLiteral("settings"),
                     QJsonObject{{QStringLiteral("hardwareType"), s.hardwareType},
                                 {QStringLiteral("connectionType"), s.connectionType},
                                 {QStringLiteral("autoConnect"), s.autoConnect},
                                 {QStringLiteral("autoReconnect"), s.autoReconnect},
                                 {QStringLiteral("serialPort"), s.serialPort + 1},
                                 {QStringLiteral("baudIndex"), s.baudIndex},
                                 {QStringLiteral("modemPort"), s.modemPort + 1},
                                 {QStringLiteral("phoneNumber"), s.phoneNumber},
                                 {QStringLiteral("ipAddress"), s.ipAddress},
                                 {QStringLiteral("portNumber"), s.portNumber},
                                 {QStringLiteral("hostName"), s.hostName},
                                 {QStringLiteral("useHostName"), s.useHostName},
                                 {QStringLiteral("logDirectory"), s.logDirectory},
                                 {QStringLiteral("logPrefix"), s.logPrefix},
                                 {QStringLiteral("logEnabled"), s.logEnabled},
                                 {QStringLiteral("connectionName"), s.connectionName},
                                 {QStringLiteral("rackName"), s.rackName}});
        }
        return json(200, o);
    }
    if (what == QLatin1String("servers") && parts.size() == 2) {
        const int n = number(parts[1], RelayServers::kCount);
        if (!n)
            return error(404, QStringLiteral("servers are 1 to 8"));
        QJsonObject o = m_report.serverJson(m_report.server(n), true);
        if (caller.level >= 3) {
            QJsonArray users;
            for (const UserAccount &u : m_station.servers().server(n)->users())
                users.append(QJsonObject{{QStringLiteral("name"), u.name}, {QStringLiteral("level"), u.authorization}});
            o.insert(QStringLiteral("users"), users);
        }
        return json(200, o);
    }
    if (parts.size() == 1 && what == QLatin1String("network"))
        return json(200, m_network ? m_network() : QJsonObject{{QStringLiteral("configured"), false}});
    if (parts.size() == 1 && what == QLatin1String("messages")) {
        quint64 after = 0;
        QString level, why;
        if (!consoleparse::messageQuery(request.url().query(), after, level, &why))
            return error(400, why);
        QJsonArray lines;
        const QList<report::MessageRecord> found = m_report.messages(after, level, kMessageLimit);
        for (const report::MessageRecord &m : found)
            lines.append(report::StationReport::messageJson(m));
        return json(200, QJsonObject{{QStringLiteral("messages"), lines},
                                     {QStringLiteral("lastId"), double(m_report.lastMessageId())},
                                     {QStringLiteral("more"), found.size() == kMessageLimit}});
    }
    if (what == QLatin1String("logs") && (parts.size() <= 2 || (parts.size() == 3 && parts[2] == QLatin1String("chart")))) {
        const QList<report::LogFileRecord> files = m_report.logFiles();
        if (parts.size() == 3) {
            for (const report::LogFileRecord &f : files)
                if (f.name == parts[1])
                    return logChart(f.path, f.name, request.url().query());
            return error(404, QStringLiteral("no such log file"));
        }
        if (parts.size() == 1) {
            QJsonArray list;
            for (const report::LogFileRecord &f : files)
                list.append(report::StationReport::logFileJson(f));
            return json(200, QJsonObject{{QStringLiteral("logs"), list}});
        }
        // Only a name the list gives leads to a file; the request's text
        // is compared, never used as a path.
        for (const report::LogFileRecord &f : files) {
            if (f.name != parts[1])
                continue;
            QFile file(f.path);
            if (!file.open(QIODevice::ReadOnly))
                return error(500, QStringLiteral("the log file cannot be read"));
            Reply r{200, f.name.endsWith(QLatin1String(".TXT")) ? "text/plain; charset=iso-8859-1" : "application/octet-stream",
                    file.readAll(), {}};
            r.headers << qMakePair(QByteArray("Content-Disposition"),
                                   QByteArray("attachment; filename=\"") + f.name.toLatin1() + '"');
            return r;
        }
        return error(404, QStringLiteral("no such log file"));
    }
    return error(404, QStringLiteral("not found"));
}

ConsoleServer::Reply ConsoleServer::action(const QStringList &parts, const Caller &caller)
{
    if (parts.size() != 3)
        return error(404, QStringLiteral("not found"));
    const bool page = parts[0] == QLatin1String("pages");
    const bool server = parts[0] == QLatin1String("servers");
    const int n = number(parts[1], 8);
    const QString verb = parts[2];
    const bool known = (page && (verb == QLatin1String("connect") || verb == QLatin1String("disconnect")))
        || (server && (verb == QLatin1String("enable") || verb == QLatin1String("disable")));
    if (!known || !n)
        return error(404, QStringLiteral("not found"));
    if (caller.level < 2)
        return error(403, QStringLiteral("an Operator or Supervisor may do that"));
    if (page) {
        ConnectionPage *p = m_station.page(n);
        if (!p->started())
            return error(409, QStringLiteral("the page was not started (its settings could not be read)"));
        if (verb == QLatin1String("connect"))
            p->connectButton();
        else
            p->disconnectButton();
        log(QStringLiteral("%1 by %2 from %3: %4").arg(verb == QLatin1String("connect") ? QStringLiteral("Connect")
                                                                                          : QStringLiteral("Disconnect"),
                                                         caller.user, caller.address, p->name()),
            int(LogLevel::Status));
    } else {
        RelayServer *s = m_station.servers().server(n);
        if (verb == QLatin1String("enable")) {
            // As the window's Enable: a running server is restarted.
            if (s->isEnabled())
                s->disable();
            s->enable();
        } else {
            s->disable();
        }
        log(QStringLiteral("%1 by %2 from %3: %4").arg(verb == QLatin1String("enable") ? QStringLiteral("Enable")
                                                                                         : QStringLiteral("Disable"),
                                                         caller.user, caller.address, s->pageName()),
            int(LogLevel::Status));
    }
    m_report.poll();
    return json(200, QJsonObject{{QStringLiteral("done"), verb}});
}

ConsoleServer::Reply ConsoleServer::health() const
{
    // Answered from the event loop: an answer at all says it turns.
    QJsonArray pages;
    for (int n = 1; n <= Station::kPages; ++n) {
        const report::PageRecord p = m_report.page(n);
        pages.append(QJsonObject{{QStringLiteral("page"), n},
                                 {QStringLiteral("state"), p.stateText},
                                 {QStringLiteral("open"), p.open}});
    }
    return json(200, QJsonObject{{QStringLiteral("status"), QStringLiteral("ok")}, {QStringLiteral("pages"), pages}});
}
