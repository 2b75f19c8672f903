// The read model's alarm records: what the alarm engine raised and cleared,
// for the console, metrics, window and station network.
#include "report/stationreport.h"

#include <QJsonArray>

namespace report {

void StationReport::recordAlarm(const AlarmRecord &alarm)
{
    qRegisterMetaType<report::AlarmRecord>();
    auto it = std::find_if(m_alarms.begin(), m_alarms.end(), [&](const AlarmRecord &a) { return a.id == alarm.id; });
    if (it != m_alarms.end())
        *it = alarm;
    else
        m_alarms.push_back(alarm);
    // Cleared ones go first when the history is full; active ones stay.
    while (m_alarms.size() > size_t(kMaxAlarms)) {
        auto old = std::find_if(m_alarms.begin(), m_alarms.end(), [](const AlarmRecord &a) { return !a.active(); });
        if (old == m_alarms.end())
            break;
        m_alarms.erase(old);
    }
    emit alarmChanged(alarm);
}

QList<AlarmRecord> StationReport::alarms(bool activeOnly) const
{
    QList<AlarmRecord> out;
    for (const AlarmRecord &a : m_alarms)
        if (!activeOnly || a.active())
            out << a;
    return out;
}

QJsonObject StationReport::alarmJson(const AlarmRecord &a)
{
    return QJsonObject{
        {QStringLiteral("id"), double(a.id)},
        {QStringLiteral("name"), a.name},
        {QStringLiteral("severity"), a.severity},
        {QStringLiteral("page"), a.page ? QJsonValue(a.page) : QJsonValue()},
        {QStringLiteral("server"), a.server ? QJsonValue(a.server) : QJsonValue()},
        {QStringLiteral("subject"), a.subject.isEmpty() ? QJsonValue() : QJsonValue(a.subject)},
        {QStringLiteral("text"), a.text},
        {QStringLiteral("clearText"), a.clearText.isEmpty() ? QJsonValue() : QJsonValue(a.clearText)},
        {QStringLiteral("details"), QJsonArray::fromStringList(a.details)},
        {QStringLiteral("active"), a.active()},
        {QStringLiteral("raisedAt"), isoTime(a.raisedAt)},
        {QStringLiteral("clearedAt"), a.clearedAt.isValid() ? QJsonValue(isoTime(a.clearedAt)) : QJsonValue()},
    };
}

} // namespace report
