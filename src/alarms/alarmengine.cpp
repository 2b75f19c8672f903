#include "alarms/alarmengine.h"

namespace alarms {

QString durationText(qint64 s)
{
    if (s < 60)
        return QStringLiteral("%1 s").arg(s);
    if (s < 3600)
        return s % 60 ? QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60) : QStringLiteral("%1 min").arg(s / 60);
    if (s < 86400)
        return QStringLiteral("%1 h %2 min").arg(s / 3600).arg(s % 3600 / 60);
    return QStringLiteral("%1 d %2 h").arg(s / 86400).arg(s % 86400 / 3600);
}

namespace {

QString megabytes(qint64 bytes)
{
    return QStringLiteral("%1 MB").arg(bytes / (1024 * 1024));
}

} // namespace

QList<report::AlarmRecord> AlarmEngine::active() const
{
    QList<report::AlarmRecord> out;
    for (const Hold &h : m_holds)
        if (h.raised)
            out << h.alarm;
    std::sort(out.begin(), out.end(), [](const auto &a, const auto &b) { return a.id < b.id; });
    return out;
}

void AlarmEngine::setSettings(const AlarmSettings &s, const QDateTime &now)
{
    m_settings = s;
    for (auto it = m_holds.begin(); it != m_holds.end();) {
        bool enabled = true;
        for (int c = 0; c < ConditionCount; ++c)
            if (it->alarm.name == conditionName(Condition(c)) || it.key().startsWith(conditionName(Condition(c)) + QLatin1Char('/')))
                enabled = s.conditions[size_t(c)].enabled;
        if (enabled) {
            ++it;
            continue;
        }
        if (it->raised) {
            it->alarm.clearedAt = now.isValid() ? now : it->alarm.raisedAt;
            it->alarm.clearText = it->alarm.text + QStringLiteral(": no longer watched");
            m_sink(it->alarm, false);
        }
        it = m_holds.erase(it);
    }
}

void AlarmEngine::judge(Condition c, int page, const QString &subject, Verdict v, const QDateTime &now,
                        const std::function<Words()> &words, const QDateTime &onset)
{
    const ConditionSettings &cs = m_settings.conditions[size_t(c)];
    const QString key = conditionName(c) + QLatin1Char('/') + QString::number(page) + QLatin1Char('/') + subject;
    auto it = m_holds.find(key);
    if (!cs.enabled) {
        // Switched off while raised: the alarm ends now.
        if (it != m_holds.end() && it->raised) {
            it->alarm.clearedAt = now;
            it->alarm.clearText = it->alarm.text + QStringLiteral(": no longer watched");
            m_sink(it->alarm, false);
        }
        if (it != m_holds.end())
            m_holds.erase(it);
        return;
    }
    if (v == Verdict::Unknown)
        return;
    if (v == Verdict::Good) {
        if (it == m_holds.end())
            return;
        Hold &h = *it;
        if (!h.raised) {
            m_holds.erase(it);
            return;
        }
        if (!h.goodSince.isValid())
            h.goodSince = now;
        if (h.goodSince.secsTo(now) >= cs.clearS) {
            h.alarm.clearedAt = now;
            h.alarm.clearText = words().clear + QStringLiteral(" (alarm lasted %1)").arg(durationText(h.alarm.raisedAt.secsTo(now)));
            const report::AlarmRecord done = h.alarm;
            m_holds.erase(it);
            m_sink(done, false);
        }
        return;
    }
    Hold &h = m_holds[key];
    h.goodSince = QDateTime();
    if (!h.badSince.isValid())
        h.badSince = onset.isValid() && onset < now ? onset : now;
    if (h.raised || h.badSince.secsTo(now) < cs.raiseS)
        return;
    h.raised = true;
    report::AlarmRecord &a = h.alarm;
    a.id = m_nextId++;
    a.name = conditionName(c);
    a.severity = severityOf(c);
    a.page = page;
    a.subject = subject;
    Words w = words();
    a.text = w.raise;
    a.details = w.details;
    a.raisedAt = now;
    m_sink(a, true);
}

void AlarmEngine::pageConditions(const PageFacts &p, const QDateTime &now)
{
    const auto lastIt = m_last.constFind(p.number);
    const PageFacts &last = lastIt != m_last.cend() ? *lastIt : p;
    const QString &t = p.title;

    // Link down: the page should be connected and is not, or its session failed.
    {
        Verdict v = !p.started ? Verdict::Good : (!p.open || p.error) ? Verdict::Bad : Verdict::Good;
        const QString why = p.error ? QStringLiteral("the session is in Error") : QStringLiteral("no open link");
        judge(LinkDown, p.number, {}, v, now, [&] {
            return Words{QStringLiteral("Link down on %1: %2").arg(t, why),
                         p.started ? QStringLiteral("Link on %1 is up again").arg(t)
                                   : QStringLiteral("%1 was disconnected by the operator").arg(t),
                         {}};
        });
    }
    // Unit silent: connected, and no frame filed. The hold time counts from
    // the last frame (or the connection), so the alarm comes raise_s after it.
    {
        const ConditionSettings &cs = m_settings.conditions[UnitSilent];
        QDateTime since = p.lastFrameAt;
        if (p.openSince.isValid() && (!since.isValid() || p.openSince > since))
            since = p.openSince;
        Verdict v = Verdict::Unknown;
        if (!p.started)
            v = Verdict::Good;
        else if (p.open && since.isValid())
            v = since.secsTo(now) >= qBound(2, cs.raiseS, 5) ? Verdict::Bad : Verdict::Good;
        judge(UnitSilent, p.number, {}, v, now, [&] {
            return Words{QStringLiteral("Unit silent on %1: no frame for %2").arg(t, durationText(since.isValid() ? since.secsTo(now) : 0)),
                         QStringLiteral("Unit on %1 sends frames again").arg(t),
                         {}};
        }, since);
    }
    // Bad checks: more than 5 % of the last minute's frames failed their checks.
    {
        BadChecksWindow &w = m_checks[p.number];
        Verdict v = Verdict::Unknown;
        if (!p.open) {
            w.samples.clear();
        } else {
            // Counters that went back (a new session between two looks)
            // start the window again instead of giving a negative count.
            if (!w.samples.empty() && (p.framesFiled < w.samples.back().filed || p.badFrames < w.samples.back().bad))
                w.samples.clear();
            w.samples.push_back({now, p.framesFiled, p.badFrames});
            while (w.samples.front().at.secsTo(now) > 60)
                w.samples.pop_front();
            const quint64 filed = w.samples.back().filed - w.samples.front().filed;
            const quint64 bad = w.samples.back().bad - w.samples.front().bad;
            const quint64 total = filed + bad;
            if (total >= 20)
                v = bad * 100 > 5 * total ? Verdict::Bad : Verdict::Good;
            judge(BadChecks, p.number, {}, v, now, [&] {
                return Words{QStringLiteral("Bad frames on %1: %2 of %3 frames in the last minute failed their checks").arg(t).arg(bad).arg(total),
                             QStringLiteral("Frames on %1 pass their checks again").arg(t),
                             {}};
            });
        }
        if (!p.started)
            judge(BadChecks, p.number, {}, Verdict::Good, now,
                  [&] { return Words{{}, QStringLiteral("%1 was disconnected by the operator").arg(t), {}}; });
    }
    // Measurement log: any write failure; cleared when frames are filed again without one.
    {
        Verdict v = p.logFailures > last.logFailures ? Verdict::Bad
            : p.framesFiled > last.framesFiled       ? Verdict::Good
                                                     : Verdict::Unknown;
        judge(LogWrite, p.number, {}, v, now, [&] {
            return Words{QStringLiteral("Measurement log of %1 not written (%2 failures so far)").arg(t).arg(p.logFailures),
                         QStringLiteral("Measurement log of %1 written again").arg(t),
                         {}};
        });
    }
    // The unit's own alarm table against its first state of the connection.
    {
        Verdict v = !p.started ? Verdict::Good
            : !p.open          ? Verdict::Unknown
            : p.alarmTableChanges.isEmpty() ? Verdict::Good
                                            : Verdict::Bad;
        judge(UnitAlarms, p.number, {}, v, now, [&] {
            return Words{QStringLiteral("Unit alarm table changed on %1: %2").arg(t, p.alarmTableChanges.join(QStringLiteral("; "))),
                         QStringLiteral("Unit alarm table on %1 is back to its first state").arg(t),
                         p.alarmTableChanges};
        });
    }
    m_last[p.number] = p;
}

void AlarmEngine::observe(const Observation &o, const QDateTime &now)
{
    for (const PageFacts &p : o.pages)
        pageConditions(p, now);
    if (o.disks) {
        for (const DiskFacts &d : *o.disks) {
            if (d.totalBytes <= 0)
                continue;
            const bool low = d.freeBytes * 100 < qint64(m_settings.diskLowPercent) * d.totalBytes
                || d.freeBytes < qint64(m_settings.diskLowMb) * 1024 * 1024;
            const int percent = int(d.freeBytes * 100 / d.totalBytes);
            judge(DiskLow, 0, d.directory, low ? Verdict::Bad : Verdict::Good, now, [&] {
                return Words{QStringLiteral("Log disk low: %1 (%2 %) free in %3").arg(megabytes(d.freeBytes)).arg(percent).arg(d.directory),
                             QStringLiteral("Log disk has room again: %1 (%2 %) free in %3").arg(megabytes(d.freeBytes)).arg(percent).arg(d.directory),
                             {}};
            });
        }
    }
    for (const QString &a : o.refusedAddresses)
        m_refusals[a] = now;
    for (auto it = m_refusals.begin(); it != m_refusals.end();) {
        const bool fresh = o.refusedAddresses.contains(it.key());
        const QString address = it.key();
        judge(LoginAttack, 0, address, fresh ? Verdict::Bad : Verdict::Good, now, [&] {
            return Words{QStringLiteral("Log-in attack on the relay servers: %1 refused by the log-in throttle").arg(address),
                         QStringLiteral("No more refused log-ins from %1").arg(address),
                         {}};
        });
        const QString key = conditionName(LoginAttack) + QStringLiteral("/0/") + address;
        if (!fresh && !m_holds.contains(key))
            it = m_refusals.erase(it);
        else
            ++it;
    }
}

} // namespace alarms
