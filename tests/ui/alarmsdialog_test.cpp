// View > Alarms: the active alarms newest first, and "Send test
// notification" reaching a webhook; a screenshot for people to look at.
#include "alarms/alarmmonitor.h"
#include "alarms/sinks.h"
#include "report/stationreport.h"
#include "station/station.h"
#include "ui/alarmsdialog.h"
#include "ui/mainwindow.h"
#include "ui/windowtest.h"

#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

TEST(AlarmsDialog, ListsActiveAlarmsAndSendsATest)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("CONFIG"));
    Station station(dir.path(), SystemClock::instance());
    station.messageLog().setEchoToStderr(false);
    report::StationReport report(station);
    alarms::AlarmMonitor monitor(report, SystemClock::instance());
    alarmtest::HttpSink hook;
    alarms::AlarmSettings s;
    s.webhookUrls = {hook.url()};
    monitor.setSettings(s);
    MainWindow window(station);
    addAlarmsMenu(window, report, monitor);
    QStringList menus;
    for (QAction *a : window.menuBar()->actions())
        menus << a->text();
    EXPECT_EQ(menus, (QStringList{"&File", "&View", "Help"}));

    const QDateTime now = QDateTime::currentDateTime();
    report::AlarmRecord a;
    a.id = 1;
    a.name = QStringLiteral("unit_silent");
    a.severity = QStringLiteral("critical");
    a.page = 5;
    a.raisedAt = now.addSecs(-75);
    a.text = QStringLiteral("Unit silent on page 5 (Demo KF-71 (TCP)): no frame for 1 min");
    report.recordAlarm(a);
    report::AlarmRecord b = a;
    b.id = 2;
    b.name = QStringLiteral("disk_low");
    b.severity = QStringLiteral("warning");
    b.page = 0;
    b.raisedAt = now;
    b.text = QStringLiteral("Log disk low: 312 MB (3 %) free in /srv/station/LOG");
    report.recordAlarm(b);
    report::AlarmRecord gone = a;
    gone.id = 3;
    gone.clearedAt = now;
    report.recordAlarm(gone);

    AlarmsDialog dialog(report, monitor);
    dialog.show();
    ASSERT_EQ(dialog.table()->rowCount(), 2);
    EXPECT_EQ(dialog.table()->item(0, 2)->text(), QStringLiteral("Station"));
    EXPECT_EQ(dialog.table()->item(1, 2)->text(), QStringLiteral("Page 5"));
    EXPECT_TRUE(dialog.status()->text().startsWith(QStringLiteral("2 active alarms.")));
    QTest::mouseClick(dialog.testButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.status()->text().contains(QStringLiteral("delivered")); }, 15000))
        << dialog.status()->text().toStdString();
    ASSERT_EQ(hook.requests.size(), 1);
    EXPECT_TRUE(hook.requests[0].body.contains("\"event\":\"test\""));
    EXPECT_TRUE(dialog.testButton()->isEnabled());
    EXPECT_TRUE(dialog.grab().save(shotPath("alarms-dialog.png")));
}
