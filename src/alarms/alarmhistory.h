#pragma once
// LOG/alarms.jsonl: one JSON object a line for each alarm raised and
// cleared. At the first write of a new month the file becomes
// alarms-YYYY-MM.jsonl; the history read at start is the last 30 days of
// this file and the month before's.
#include "report/alarmrecord.h"

#include <QDateTime>
#include <QList>
#include <QString>

namespace alarms {

class AlarmHistory {
public:
    static constexpr int kDays = 30;
    static constexpr qint64 kMaxReadBytes = 16 * 1024 * 1024; // per file, its newest part

    explicit AlarmHistory(const QString &logDirectory) : m_directory(logDirectory) {}
    QString path() const;
    // Appends one event; false (with the reason) when the file cannot be written.
    bool append(const report::AlarmRecord &a, bool raised, const QDateTime &now, QString *error);
    // The alarms of the last kDays days, oldest first. Alarms the file still
    // shows active ended with the program before: `stale` gets them.
    QList<report::AlarmRecord> load(const QDateTime &now, QList<report::AlarmRecord> *stale) const;

private:
    QString m_directory;
};

} // namespace alarms
