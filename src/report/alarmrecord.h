#pragma once
// One alarm as everything beside the alarm engine sees it: the console, the
// metrics, the window's dialog and the station network read these records
// and the report's alarmChanged signal, never the engine itself.
#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QStringList>

namespace report {

struct AlarmRecord {
    quint64 id = 0;
    QString name;     // link_down, unit_silent, bad_checks, log_write, disk_low, unit_alarms, login_attack
    QString severity; // "critical", "warning", "info"
    int page = 0;     // 1..8, 0 when not a page's
    int server = 0;   // 1..8 for a relay server's, else 0
    QString subject;  // what else names it: a directory, an address
    QString text;      // one line, as the message window words the raise
    QString clearText; // and the clear
    QStringList details;
    QDateTime raisedAt;
    QDateTime clearedAt; // invalid while active

    bool active() const { return !clearedAt.isValid(); }
    // Alarms of one condition on one page/server/subject share a key.
    QString key() const
    {
        return name + QLatin1Char('/') + QString::number(page) + QLatin1Char('/') + QString::number(server)
            + QLatin1Char('/') + subject;
    }
};

} // namespace report

Q_DECLARE_METATYPE(report::AlarmRecord)
