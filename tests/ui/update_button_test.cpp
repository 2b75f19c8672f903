// A KF-71 page updated as an operator does it: the page's Update button in
// the main window, "Update EEPROM" (then "Update Lantronix") in its dialog,
// the simulated unit's loader doing the work, the dialog closed by the
// machine, and the new versions in the dialog after the page reconnected.
#include "integration/station_support.h"
#include "ui/connectionpageview.h"
#include "ui/mainwindow.h"
#include "ui/updatedialog.h"

#include <QLabel>
#include <QPushButton>

using namespace stationtest;

namespace {

class UpdateButton : public UnitFixture {};

TEST_F(UpdateButton, Kf71PageIsUpdatedFromItsWindow)
{
    ASSERT_TRUE(sim.start({"--tcp", "0", "--unit", "kf71", "--software", "01.20,01.17", "--trace", trace,
                           "--loader-step-ms", "500", "--loader-progress", "1", "--loader-reset-ms", "300",
                           "--loader-module-ms", "100"}));
    PageFile page = networkPage(sim.tcpPort());
    page.hardwareType = 3;
    ASSERT_TRUE(dir.writePage(1, page));
    // Its S0 header is what the unit reports once it runs the program.
    ASSERT_TRUE(StationDir::write(dir.filePath(QStringLiteral("DLD/KF71.DLD")),
                                  "3\r\nV01.25\r\nV01.30\r\nS00E000030312E32352C30312E3330DD\r\n"
                                  "S107100001020304DE\r\nS9030000FC\r\n"));
    ASSERT_TRUE(StationDir::write(dir.filePath(QStringLiteral("DLD/XPORT.DLD")),
                                  "2\r\nV06.60\r\nS00A0000362E362E302E329D\r\nS9030000FC\r\n"));
    QStringList boxes;
    UpdateDialog::setMessageHook([&](QMessageBox::Icon, const QString &text) { return boxes << text, true; });

    StationRun run(dir.path());
    MainWindow window(run.station());
    window.show();
    ASSERT_TRUE(run.waitForLine(QStringLiteral(" KF71 Succesful Connection"), 20000)) << run.messages();
    auto *update = window.pageView(1)->findChild<QPushButton *>(QStringLiteral("ButtonC3"));
    ASSERT_TRUE(waitFor([&] { return update->isEnabled(); }, 5000));
    update->click();
    auto *dialog = window.findChild<UpdateDialog *>(QStringLiteral("UpDateKF71"));
    ASSERT_TRUE(dialog && dialog->isVisible());
    auto text = [&](const char *name) { return dialog->findChild<QLabel *>(QLatin1String(name))->text(); };
    auto button = [&](const char *name) { return dialog->findChild<QPushButton *>(QLatin1String(name)); };
    EXPECT_EQ(text("UnitVersion"), QStringLiteral("01.20   01.17"));
    EXPECT_EQ(text("FileVersion"), QStringLiteral("V01.25  V01.30"));
    EXPECT_EQ(text("UnitLantronix"), QStringLiteral("6.5.0.7"));
    EXPECT_FALSE(button("Button2")->isEnabled()) << "MAIN 1.17 cannot update its network module";
    const QString shots = qEnvironmentVariable("TOLVA_SCREENSHOT_DIR");
    dialog->grab().save(shots + QStringLiteral("/update-kf71.png"));

    button("Button1")->click();
    ASSERT_TRUE(waitFor([&] { return text("LabelStatus").startsWith(QLatin1String("Verifying")); }, 20000))
        << run.messages();
    EXPECT_FALSE(button("Button3")->isEnabled());
    dialog->grab().save(shots + QStringLiteral("/update-kf71-running.png"));
    ASSERT_TRUE(waitFor([&] { return !dialog->isVisible(); }, 20000)) << run.messages();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    auto reconnected = [&](int times) {
        return waitFor([&] { return run.station().messageLog().lines().filter(QStringLiteral(" KF71 Succesful Connection")).size() == times; },
                       20000) && waitFor([&] { return update->isEnabled(); }, 5000);
    };
    ASSERT_TRUE(reconnected(2)) << run.messages();

    // The unit runs the new program, which may update its network module.
    update->click();
    EXPECT_EQ(text("UnitVersion"), QStringLiteral("01.25   01.30"));
    EXPECT_EQ(boxes, QStringList{});
    button("Button2")->click(); // the question answered OK
    UpdateMachine &machine = UpdateMachine::of(run.page(1));
    ASSERT_TRUE(waitFor([&] { return machine.step() == 7; }, 10000)) << run.messages();
    while (machine.step() == 7 || machine.step() == 17)
        machine.tick(); // 4200 and 900 ticks of 100 ms at once
    ASSERT_TRUE(reconnected(3)) << run.messages();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    update->click();
    EXPECT_EQ(text("UnitLantronix"), QStringLiteral("6.6.0.2"));
    EXPECT_EQ(boxes, QStringList{updatecheck::kLantronixQuestion});
    button("Button3")->click();
    UpdateDialog::setMessageHook({});
}

} // namespace
