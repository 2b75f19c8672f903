// The main window as an operator sees it with a simulated unit connected:
// a screenshot for people to look at, and a check that the hardware list
// and the state column show what the unit reported.
#include "connection/connectionpage.h"
#include "core/clock.h"
#include "core/messagelog.h"
#include "integration/unitsim_support.h"
#include "station/station.h"
#include "ui/connectionpageview.h"
#include "ui/mainwindow.h"
#include "ui/windowtest.h"

#include <QApplication>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

TEST(DemoWindow, ConnectedUnitShowsItsModules)
{
    unitsim::Sim unit;
    ASSERT_TRUE(unit.start({"--tcp", "0", "--model", "KS71", "--modules", "km71,kc71,option", "--loaded"}));
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("CONFIG"));
    ConnectionSettings s = ConnectionSettings::defaults(1, dir.path());
    s.connectionType = 1;
    s.ipAddress = QStringLiteral("127.0.0.1");
    s.portNumber = unit.tcpPort();
    s.autoConnect = true;
    s.connectionName = QStringLiteral("Studio A");
    ASSERT_TRUE(connectionsettings::save(dir.path(), 1, s, nullptr));

    Station station(dir.path(), SystemClock::instance());
    station.messageLog().setEchoToStderr(false);
    MainWindow window(station);
    window.show();
    window.startUp();
    ConnectionPage *page = station.page(1);
    const bool listed = QTest::qWaitFor([&] { return page->hardwareRows().size() >= 3; }, 15000);
    QStringList shown;
    for (const HardwareRow &row : page->hardwareRows())
        shown << row.unit + "/" + row.id + "/" + row.serial;
    ASSERT_TRUE(listed) << shown.join('|').toStdString() << "\n"
                        << station.messageLog().lines().join('\n').toStdString();
    window.mainTimerTick();
    // " Active " needs a frame since the last refresh: wait for one, not for a time.
    EXPECT_TRUE(QTest::qWaitFor([&] { return page->record().framesSinceShown > 0; }, 15000));
    window.mainTimerTick();

    QTreeWidget *hardware = window.pageView(1)->hardwareList();
    QStringList units;
    for (int i = 0; i < hardware->topLevelItemCount(); ++i)
        units << hardware->topLevelItem(i)->text(1);
    EXPECT_TRUE(units.contains(" KS-71")) << units.join('|').toStdString();
    EXPECT_EQ(window.pageView(1)->connectionList()->topLevelItem(0)->text(2), QStringLiteral(" Active "));
    EXPECT_TRUE(station.messageLog().lines().join('\n').contains(" ARX Succesful Connection"));

    EXPECT_TRUE(window.grab().save(shotPath("main-window-demo.png")));
}
