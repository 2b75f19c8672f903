// The conditions and their hold times, driven second by second on a fake
// clock: each case gives the facts as a function of the second and the
// raises and clears expected ("R name@second", "C name@second").
#include "alarms/alarmengine.h"
#include "alarms/alarmmonitor.h"
#include "report/stationreport.h"

#include "support/fakeclock.h"

#include <QJsonArray>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace alarms;

namespace {

struct Facts {
    PageFacts page;
    std::optional<QList<DiskFacts>> disks;
    QStringList refused;
};

struct Case {
    const char *name;
    std::function<void(AlarmSettings &)> settings;
    std::function<void(int t, Facts &f)> facts; // f starts as a page connected and filing 4 frames a second
    int seconds;
    const char *expected;
};

QString run(const Case &c)
{
    FakeClock clock;
    const QDateTime start = clock.now();
    AlarmSettings s;
    if (c.settings)
        c.settings(s);
    QStringList events;
    AlarmEngine engine(s, [&](const report::AlarmRecord &a, bool raised) {
        events << QStringLiteral("%1 %2@%3").arg(raised ? "R" : "C", a.name).arg(start.secsTo(clock.now()));
    });
    quint64 frames = 0;
    for (int t = 0; t <= c.seconds; ++t) {
        clock.set(start.addSecs(t));
        Facts f;
        f.page.number = 1;
        f.page.title = QStringLiteral("page 1");
        f.page.started = f.page.open = true;
        f.page.openSince = start;
        frames += 4;
        f.page.framesFiled = frames;
        f.page.lastFrameAt = clock.now();
        c.facts(t, f);
        Observation o;
        o.pages << f.page;
        o.disks = f.disks;
        o.refusedAddresses = f.refused;
        engine.observe(o, clock.now());
    }
    return events.join(QLatin1Char(' '));
}

// Frames stop at `from` and go on at `to`: the last frame stays at `from`.
void silentBetween(int t, Facts &f, int from, int to, const QDateTime &start)
{
    if (t >= from && t < to)
        f.page.lastFrameAt = start.addSecs(from);
}

const QDateTime kStart = FakeClock().now();

} // namespace

TEST(AlarmEngine, HoldTimesAndConditions)
{
    const Case cases[] = {
        {"link drop shorter than the raise hold", {}, [](int t, Facts &f) { f.page.open = !(t >= 5 && t < 30); }, 60, ""},
        {"link down 30 s raises", {}, [](int t, Facts &f) { f.page.open = t < 5; }, 40, "R link_down@35"},
        {"clear hold restarts when the link drops again",
         {},
         [](int t, Facts &f) { f.page.open = !(t < 40 || (t >= 45 && t < 47)); },
         80,
         "R link_down@30 C link_down@57"},
        {"a session in Error is a link down", {}, [](int, Facts &f) { f.page.error = true; }, 31, "R link_down@30"},
        {"operator stops the page: cleared after the clear hold",
         {},
         [](int t, Facts &f) {
             f.page.open = false;
             f.page.started = t < 40;
         },
         60,
         "R link_down@30 C link_down@50"},
        {"switched off", [](AlarmSettings &s) { s.conditions[LinkDown].enabled = false; },
         [](int, Facts &f) { f.page.open = false; }, 60, ""},
        {"raise hold 0 raises at once", [](AlarmSettings &s) { s.conditions[LinkDown].raiseS = 0; },
         [](int t, Facts &f) { f.page.open = t < 3; }, 5, "R link_down@3"},
        {"unit silent 60 s after its last frame, clear on 10 s of frames",
         {},
         [](int t, Facts &f) { silentBetween(t, f, 10, 100, kStart); },
         120,
         "R unit_silent@70 C unit_silent@110"},
        {"frames every few seconds are not silence", {},
         [](int t, Facts &f) { f.page.lastFrameAt = kStart.addSecs(t - t % 4); }, 120, ""},
        {"a silent unit whose link drops is a link alarm only",
         {},
         [](int t, Facts &f) {
             silentBetween(t, f, 10, 1000, kStart);
             f.page.open = t < 20;
         },
         60,
         "R link_down@50"},
        {"bad checks over 5 % of a minute's frames",
         {},
         [](int t, Facts &f) {
             f.page.framesFiled = quint64(t <= 10 ? 9 * t : 90 + 10 * (t - 10));
             f.page.badFrames = quint64(qMin(t, 10));
         },
         90,
         "R bad_checks@2 C bad_checks@80"},
        {"counters that start again (a new session, seen closed or not) start the window again",
         {},
         [](int t, Facts &f) {
             f.page.open = !(t >= 20 && t < 22);
             const int since = t >= 90 ? t - 90 : t >= 22 ? t - 22 : t;
             f.page.framesFiled = quint64(4 * since);
             f.page.badFrames = quint64(since / 10); // 2.5 %
         },
         200,
         ""},
        {"measurement log failure, cleared when frames are logged again",
         {},
         [](int t, Facts &f) { f.page.logFailures = t >= 5 ? 1 : 0; },
         10,
         "R log_write@5 C log_write@6"},
        {"unit alarm table differs from its first state",
         {},
         [](int t, Facts &f) {
             if (t >= 3 && t < 8)
                 f.page.alarmTableChanges = {QStringLiteral("RF LOW: 0 -> 1")};
         },
         10,
         "R unit_alarms@3 C unit_alarms@8"},
        {"refused log-ins: cleared after 300 s without one",
         {},
         [](int t, Facts &f) {
             if (t == 0 || t == 100)
                 f.refused = {QStringLiteral("192.0.2.7")};
         },
         420,
         "R login_attack@0 C login_attack@401"},
        {"disk below 5 %, then room again",
         {},
         [](int t, Facts &f) {
             const qint64 total = 100LL << 30;
             f.disks = QList<DiskFacts>{{QStringLiteral("/logs"), t < 60 ? total * 3 / 100 : total / 2, total}};
         },
         61,
         "R disk_low@0 C disk_low@60"},
        {"disk below 500 MB on a large disk", {},
         [](int, Facts &f) { f.disks = QList<DiskFacts>{{QStringLiteral("/logs"), 400LL << 20, 1LL << 40}}; }, 1,
         "R disk_low@0"},
        {"disk with 10 % and 10 GB free", {},
         [](int, Facts &f) { f.disks = QList<DiskFacts>{{QStringLiteral("/logs"), 10LL << 30, 100LL << 30}}; }, 1, ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(run(c).toStdString(), c.expected) << c.name;
}

TEST(AlarmEngine, RecordsNameThePageAndTheDuration)
{
    FakeClock clock;
    QList<report::AlarmRecord> seen;
    AlarmEngine engine(AlarmSettings(), [&](const report::AlarmRecord &a, bool) { seen << a; });
    engine.setFirstId(41);
    PageFacts p;
    p.number = 3;
    p.title = QStringLiteral("page 3 (Studio KF-71)");
    p.started = p.open = true;
    p.framesFiled = 1;
    p.lastFrameAt = p.openSince = clock.now();
    for (int t = 0; t <= 200; ++t) {
        if (t == 130) {
            p.framesFiled = 2;
        }
        if (t >= 130)
            p.lastFrameAt = clock.now();
        engine.observe(Observation{{p}, {}, {}}, clock.now());
        clock.advanceMs(1000);
    }
    ASSERT_EQ(seen.size(), 2);
    EXPECT_EQ(seen[0].id, 41u);
    EXPECT_EQ(seen[0].page, 3);
    EXPECT_EQ(seen[0].severity, QStringLiteral("critical"));
    EXPECT_EQ(seen[0].text, QStringLiteral("Unit silent on page 3 (Studio KF-71): no frame for 1 min"));
    EXPECT_TRUE(seen[0].active());
    EXPECT_FALSE(seen[1].active());
    EXPECT_EQ(seen[1].clearText, QStringLiteral("Unit on page 3 (Studio KF-71) sends frames again (alarm lasted 1 min 20 s)"));
    EXPECT_TRUE(engine.active().isEmpty());
}

TEST(AlarmEngine, AlarmTableChangesAreNamedOrNumbered)
{
    using report::AlarmTableChange;
    const QList<AlarmTableChange> changes{
        {0, 0, 0, 0, 0, 1, QStringLiteral("RF LOW   "), QStringLiteral("RF LOW   ")},
        {0, 1, 40, 1, 40, 0, QString(), QString()},
        {0, 3, 4, 1, 3, 1, QStringLiteral("RDS"), QStringLiteral("PILOT")},
    };
    EXPECT_EQ(AlarmMonitor::tableChanges(changes),
              (QStringList{QStringLiteral("RF LOW: 0 -> 1"), QStringLiteral("alarm 40: 1 -> 0"),
                           QStringLiteral("group 1 entry 4: RDS (1) -> PILOT (1)")}));
    EXPECT_TRUE(AlarmMonitor::tableChanges({}).isEmpty());
}
