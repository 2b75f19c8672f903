#pragma once
// The alarm conditions and their hold times, apart from where the facts
// come from: the monitor (alarmmonitor.h) fills an Observation from the read
// model each second, tests fill it by hand. Time is the caller's clock.
//
// A condition that holds for raise_s raises its alarm; once it is gone for
// clear_s the alarm clears. While a condition cannot be judged (a unit's
// frames while its link is down) its hold time neither runs nor resets.
#include "alarms/alarmsettings.h"
#include "report/alarmrecord.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <deque>
#include <functional>
#include <optional>

namespace alarms {

struct PageFacts {
    int number = 0;
    QString title;        // "page 3 (KF-71 Studio)"
    bool started = false; // the page should be connected
    bool open = false;
    bool error = false;   // its session is in "Error"
    quint64 framesFiled = 0;
    quint64 badFrames = 0;
    quint64 logFailures = 0;
    QDateTime lastFrameAt, openSince;
    // Alarm-table entries that differ from the connection's first table,
    // as texts ("RF LOW: 0 -> 1"); empty when equal or not an HD/KF-71.
    QStringList alarmTableChanges;
};

struct DiskFacts {
    QString directory;
    qint64 freeBytes = 0, totalBytes = 0;
};

struct Observation {
    QList<PageFacts> pages;
    std::optional<QList<DiskFacts>> disks; // given when the disks were looked at
    QStringList refusedAddresses;          // refused by a log-in throttle since the last look
};

class AlarmEngine {
public:
    using Sink = std::function<void(const report::AlarmRecord &alarm, bool raised)>;

    AlarmEngine(const AlarmSettings &settings, Sink sink) : m_settings(settings), m_sink(std::move(sink)) {}

    // Alarms of conditions the new settings switch off end now.
    void setSettings(const AlarmSettings &s, const QDateTime &now = {});
    void setFirstId(quint64 id) { m_nextId = id; }
    void observe(const Observation &o, const QDateTime &now);
    QList<report::AlarmRecord> active() const;

private:
    enum class Verdict { Good, Bad, Unknown };
    struct Hold {
        QDateTime badSince, goodSince;
        bool raised = false;
        report::AlarmRecord alarm;
    };
    struct ChecksSample {
        QDateTime at;
        quint64 filed = 0, bad = 0;
    };
    struct BadChecksWindow {
        std::deque<ChecksSample> samples; // once a look, oldest first
    };
    struct Words {
        QString raise, clear;
        QStringList details;
    };
    // The words are asked for only when an alarm is raised or cleared: a
    // look where nothing changes formats no text.
    void judge(Condition c, int page, const QString &subject, Verdict v, const QDateTime &now,
               const std::function<Words()> &words, const QDateTime &onset = {});
    void pageConditions(const PageFacts &p, const QDateTime &now);

    AlarmSettings m_settings;
    Sink m_sink;
    QHash<QString, Hold> m_holds;
    QHash<int, PageFacts> m_last;
    QHash<int, BadChecksWindow> m_checks;
    QHash<QString, QDateTime> m_refusals; // address -> last refusal
    quint64 m_nextId = 1;
};

// "1 min 5 s", "2 h 3 min", "40 s".
QString durationText(qint64 seconds);

} // namespace alarms
