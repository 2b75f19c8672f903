#include "alarms/alarmmonitor.h"

#include "alarms/alarmnotifier.h"
#include "core/clock.h"
#include "core/messagelog.h"
#include "report/stationreport.h"
#include "station/station.h"

#include <QDir>
#include <QFile>
#include <QHostInfo>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QTimer>

#include <sys/stat.h>

namespace alarms {

namespace {

const QString kSource = QStringLiteral("Alarms");

QString entryName(int alarm, const QString &name)
{
    const QString text = name.trimmed();
    return text.isEmpty() ? QStringLiteral("alarm %1").arg(alarm) : text;
}

} // namespace

AlarmMonitor::AlarmMonitor(report::StationReport &report, const Clock &clock, QObject *parent)
    : QObject(parent),
      m_report(report),
      m_clock(clock),
      m_engine(m_settings, [this](const report::AlarmRecord &a, bool raised) { onAlarm(a, raised); }),
      m_history(report.station().baseDirectory() + QStringLiteral("/LOG")),
      m_notifier(new AlarmNotifier(clock, report.station().messageLog(), QHostInfo::localHostName(), this)),
      m_timer(new QTimer(this)),
      m_diskProbe(&AlarmMonitor::systemDisk),
      m_settingsPath(QFile::encodeName(AlarmSettings::path(report.station().configDirectory())))
{
    connect(&report, &report::StationReport::messageAdded, this, &AlarmMonitor::onMessage);
    m_timer->setInterval(kLookMs);
    connect(m_timer, &QTimer::timeout, this, &AlarmMonitor::look);
}

AlarmMonitor::~AlarmMonitor() = default;

AlarmMonitor::Stamp AlarmMonitor::settingsStamp() const
{
    // One stat() a second: the look runs beside every unit's frames.
    struct stat st;
    if (::stat(m_settingsPath.constData(), &st) != 0)
        return {};
    return {qint64(st.st_ino), qint64(st.st_size), qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
            qint64(st.st_mode), 1};
}

void AlarmMonitor::loadSettings()
{
    m_settingsStamp = settingsStamp();
    AlarmSettings s;
    QString error;
    if (!AlarmSettings::load(m_report.station().configDirectory(), s, &error)) {
        m_report.station().messageLog().log(kSource, QStringLiteral("Alarm settings not used: ") + error, LogLevel::Error);
        s = AlarmSettings();
    }
    setSettings(s);
}

void AlarmMonitor::setSettings(const AlarmSettings &s)
{
    m_settings = s;
    m_engine.setSettings(s, m_clock.now());
    m_notifier->setSettings(s);
}

void AlarmMonitor::start()
{
    QList<report::AlarmRecord> stale;
    const QDateTime now = m_clock.now();
    const QList<report::AlarmRecord> past = m_history.load(now, &stale);
    quint64 last = 0;
    for (const report::AlarmRecord &a : past) {
        last = qMax(last, a.id);
        m_report.recordAlarm(a);
    }
    for (report::AlarmRecord a : stale) {
        last = qMax(last, a.id);
        a.clearedAt = now;
        a.clearText = a.text + QStringLiteral(": ended with the program's last run");
        m_history.append(a, false, now, nullptr);
        m_report.recordAlarm(a);
    }
    m_engine.setFirstId(last + 1);
    m_timer->start();
}

DiskFacts AlarmMonitor::systemDisk(const QString &directory)
{
    QStorageInfo info(directory);
    DiskFacts d;
    d.directory = directory;
    if (info.isValid() && info.isReady()) {
        d.freeBytes = info.bytesAvailable();
        d.totalBytes = info.bytesTotal();
    }
    return d;
}

QStringList AlarmMonitor::tableChanges(const QList<report::AlarmTableChange> &changes)
{
    QStringList out;
    for (const report::AlarmTableChange &c : changes) {
        if (c.alarmNow == c.alarmBefore)
            out << QStringLiteral("%1: %2 -> %3").arg(entryName(c.alarmNow, c.nameNow)).arg(c.valueBefore).arg(c.valueNow);
        else
            out << QStringLiteral("group %1 entry %2: %3 (%4) -> %5 (%6)")
                       .arg(c.group + 1)
                       .arg(c.entry + 1)
                       .arg(entryName(c.alarmBefore, c.nameBefore))
                       .arg(c.valueBefore)
                       .arg(entryName(c.alarmNow, c.nameNow))
                       .arg(c.valueNow);
    }
    return out;
}

void AlarmMonitor::look()
{
    // An edited Alarms.CFG (by hand or from the console) counts from the next look.
    if (settingsStamp() != m_settingsStamp) {
        loadSettings();
        m_report.station().messageLog().log(kSource, QStringLiteral("Alarm settings read again from ")
                                                 + AlarmSettings::path(m_report.station().configDirectory()),
                                             LogLevel::Status);
    }
    const QDateTime now = m_clock.now();
    Observation o;
    QStringList directories{m_report.station().baseDirectory() + QStringLiteral("/LOG")};
    for (int n = 1; n <= Station::kPages; ++n) {
        const report::PageRecord p = m_report.page(n);
        PageFacts f;
        f.number = n;
        f.title = p.caption.trimmed().isEmpty() ? QStringLiteral("page %1").arg(n)
                                                : QStringLiteral("page %1 (%2)").arg(n).arg(p.caption.trimmed());
        f.open = p.open;
        f.error = p.stateText.trimmed() == QLatin1String("Error");
        // Should be connected: a page in use whose link was opened (at start
        // or by an operator) and not closed since; a failed link keeps its
        // phase, a Disconnect sets it back to 0.
        f.started = p.started && (p.phase != 0 || p.open || f.error);
        f.framesFiled = p.counters.framesFiled;
        f.badFrames = p.counters.badFrames;
        f.logFailures = p.counters.logFailures;
        f.lastFrameAt = p.counters.lastFrameAt;
        f.openSince = p.openSince;
        // Only the HD monitors and the KF-71 keep an alarm table.
        if (p.open && m_settings.conditions[UnitAlarms].enabled && (p.hardwareType == 2 || p.hardwareType == 3))
            f.alarmTableChanges = tableChanges(m_report.alarmTableChanges(n));
        o.pages << f;
        if (!p.logDirectory.isEmpty() && !directories.contains(QDir::cleanPath(p.logDirectory)))
            directories << QDir::cleanPath(p.logDirectory);
    }
    if (!m_lastDiskLook.isValid() || m_lastDiskLook.secsTo(now) >= kDiskEveryS) {
        m_lastDiskLook = now;
        // One alarm per file system, named by the first directory on it.
        QList<DiskFacts> disks;
        QStringList roots;
        for (const QString &d : directories) {
            const QString root = QStorageInfo(d).rootPath();
            if (!root.isEmpty() && roots.contains(root))
                continue;
            roots << root;
            disks << m_diskProbe(d);
        }
        o.disks = disks;
    }
    o.refusedAddresses = m_refused;
    m_refused.clear();
    m_engine.observe(o, now);
    m_notifier->tick(m_engine.active());
}

void AlarmMonitor::onMessage(const report::MessageRecord &m)
{
    // The relay servers say when their log-in throttle starts refusing an address.
    static const QRegularExpression refused(QStringLiteral(R"(Connections from (\S+) refused for \d+ s: )"));
    if (!m.text.contains(QLatin1String(" refused for ")))
        return;
    const QRegularExpressionMatch match = refused.match(m.text);
    if (match.hasMatch() && !m_refused.contains(match.captured(1)) && m_refused.size() < 100)
        m_refused << match.captured(1);
}

void AlarmMonitor::onAlarm(const report::AlarmRecord &a, bool raised)
{
    const QDateTime now = m_clock.now();
    MessageLog &log = m_report.station().messageLog();
    if (raised)
        log.log(kSource, QStringLiteral("ALARM: ") + a.text, LogLevel::Error);
    else
        log.log(kSource, QStringLiteral("All clear: ") + a.clearText, LogLevel::Status);
    QString error;
    if (!m_history.append(a, raised, now, &error)) {
        if (!m_historyFailed)
            log.log(kSource, QStringLiteral("Alarm history not written: ") + error, LogLevel::Error);
        m_historyFailed = true;
    } else {
        m_historyFailed = false;
    }
    m_report.recordAlarm(a);
    m_notifier->alarmEvent(AlarmEvent{raised ? AlarmEvent::Raised : AlarmEvent::Cleared, a});
}

} // namespace alarms
