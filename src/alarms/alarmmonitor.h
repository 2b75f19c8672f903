#pragma once
// The station's alarms: once a second the monitor looks at the read model
// (pages, decoded alarm tables, message lines) and the log disks, hands
// what it sees to the engine, and passes each raise and clear on to the
// read model, the message window, LOG/alarms.jsonl and the notifications.
#include "alarms/alarmengine.h"
#include "alarms/alarmhistory.h"

#include <QObject>
#include <array>
#include <functional>
#include <memory>

class Clock;
class QTimer;

namespace report {
class StationReport;
struct MessageRecord;
struct AlarmTableChange;
}

namespace alarms {

class AlarmNotifier;

class AlarmMonitor : public QObject {
    Q_OBJECT
public:
    using DiskProbe = std::function<DiskFacts(const QString &directory)>;
    static constexpr int kLookMs = 1000;
    static constexpr int kDiskEveryS = 60;

    AlarmMonitor(report::StationReport &report, const Clock &clock, QObject *parent = nullptr);
    ~AlarmMonitor() override;

    // Reads CONFIG/Alarms.CFG; a bad file is one ERROR line and the defaults.
    // The file is read again when it changes.
    void loadSettings();
    void setSettings(const AlarmSettings &s);
    const AlarmSettings &settings() const { return m_settings; }
    // Reads the history and starts looking once a second.
    void start();
    // One look now (tests drive time with a fake clock).
    void look();
    void setDiskProbe(DiskProbe probe) { m_diskProbe = std::move(probe); }
    AlarmNotifier &notifier() { return *m_notifier; }
    AlarmHistory &history() { return m_history; }

    // "RF LOW: 0 -> 1" for each alarm-table entry that differs from its
    // first-of-connection copy.
    static QStringList tableChanges(const QList<report::AlarmTableChange> &changes);
    static DiskFacts systemDisk(const QString &directory);

private:
    void onAlarm(const report::AlarmRecord &a, bool raised);
    void onMessage(const report::MessageRecord &m);
    using Stamp = std::array<qint64, 5>;
    Stamp settingsStamp() const;

    report::StationReport &m_report;
    const Clock &m_clock;
    AlarmSettings m_settings;
    AlarmEngine m_engine;
    AlarmHistory m_history;
    AlarmNotifier *m_notifier;
    QTimer *m_timer;
    DiskProbe m_diskProbe;
    QDateTime m_lastDiskLook;
    QStringList m_refused;
    bool m_historyFailed = false;
    QByteArray m_settingsPath; // CONFIG/Alarms.CFG, in the file system's encoding
    Stamp m_settingsStamp{}; // Alarms.CFG's inode, size, time and mode as last read
};

} // namespace alarms
