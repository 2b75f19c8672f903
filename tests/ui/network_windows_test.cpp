// File > Station Network... and the --network-view window, off screen, with
// screenshots for people to look at.
#include "core/clock.h"
#include "core/messagelog.h"
#include "network/networkfleet.h"
#include "network/networksettings.h"
#include "ui/fleetwindow.h"
#include "ui/networkdialog.h"
#include "ui/windowtest.h"

#include <QApplication>
#include <QCheckBox>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <gtest/gtest.h>

TEST(NetworkDialog, EditsNetworkCfgAndRefusesABadStationId)
{
    QTemporaryDir dir;
    NetworkDialog dialog(dir.path());
    dialog.show();
    auto edit = [](QDialog &d, const char *name) {
        QLineEdit *e = d.findChild<QLineEdit *>(QLatin1String(name));
        EXPECT_NE(e, nullptr) << name;
        return e;
    };
    edit(dialog, "brokerHost")->setText("broker.example");
    edit(dialog, "user")->setText("site");
    edit(dialog, "password")->setText("secret");
    edit(dialog, "stationId")->setText("north/7");
    EXPECT_FALSE(dialog.save());
    EXPECT_TRUE(dialog.problem().contains("may hold only letters")) << dialog.problem().toStdString();
    EXPECT_FALSE(QFile::exists(NetworkSettings::path(dir.path()))) << "nothing written";
    EXPECT_TRUE(dialog.grab().save(shotPath("network-dialog-refused.png")));
    edit(dialog, "stationId")->setText("north-7");
    dialog.findChildren<QCheckBox *>()[1]->setChecked(true);
    ASSERT_TRUE(dialog.save()) << dialog.problem().toStdString();
    NetworkSettings s;
    ASSERT_TRUE(NetworkSettings::load(dir.path(), s, nullptr));
    EXPECT_EQ(s.brokerHost, "broker.example");
    EXPECT_EQ(s.station, "north-7");
    EXPECT_EQ(s.password, "secret");
    EXPECT_TRUE(s.publishRecords);
    // Opened again, it shows what the file holds.
    NetworkDialog again(dir.path());
    again.show();
    EXPECT_EQ(edit(again, "stationId")->text(), "north-7");
    EXPECT_TRUE(again.grab().save(shotPath("network-dialog.png")));
}

TEST(FleetWindow, ShowsStationsNeedingAttentionFirst)
{
    MessageLog log(SystemClock::instance());
    log.setEchoToStderr(false);
    NetworkSettings settings;
    settings.brokerHost = "127.0.0.1";
    NetworkFleet fleet(log, settings);
    const QString now = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    auto page = [&](bool open, const QString &caption, const QString &state) {
        return QJsonDocument(QJsonObject{{"started", true}, {"open", open}, {"autoConnect", true}, {"hardwareType", 2}, {"hardware", "KH-71"},
                                         {"caption", caption}, {"stateText", state},
                                         {"counters", QJsonObject{{"lastFrameAt", now}}}})
            .toJson(QJsonDocument::Compact);
    };
    fleet.take("tolva/hill-top/status", R"({"online":true,"version":"2.4","consoleUrl":"https://hill-top:8080/"})");
    fleet.take("tolva/hill-top/pages/1/state", page(true, "FM 98.1", " HD Connected"));
    fleet.take("tolva/river/status", R"({"online":true,"version":"2.4"})");
    fleet.take("tolva/river/pages/1/state", page(true, "TV 5", " HD Connected"));
    fleet.take("tolva/river/pages/2/state", page(false, "DAB", " Not Connected"));
    fleet.take("tolva/old-mill/status", R"({"online":false})");
    log.log("Network", "Connected to the broker 127.0.0.1:1883", LogLevel::Status);
    FleetWindow window(&fleet, log);
    window.show();
    QTreeWidget *list = window.list();
    ASSERT_EQ(list->topLevelItemCount(), 3);
    EXPECT_EQ(list->topLevelItem(0)->text(0), "old-mill");
    EXPECT_EQ(list->topLevelItem(1)->text(0), "river");
    EXPECT_TRUE(list->topLevelItem(1)->text(1).contains("1 failed"));
    EXPECT_TRUE(list->topLevelItem(1)->child(0)->text(0).contains("DAB")) << "the failed page first";
    EXPECT_EQ(list->topLevelItem(2)->text(4), "https://hill-top:8080/");
    EXPECT_TRUE(window.summary()->text().contains("3 stations, 2 online"));
    QApplication::processEvents();
    EXPECT_TRUE(window.grab().save(shotPath("network-view.png")));
}
