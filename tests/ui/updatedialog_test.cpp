// The update dialogs on the off-screen platform: checks in their order,
// warnings, errors and the abort, the buttons, the serial digits, the
// network module's confirmation; a screenshot of each for people to look at.
#include "support/scriptedpage.h"
#include "ui/updatedialog.h"
#include "ui/windowtest.h"
#include "update/updatemachine.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>

namespace {

using Kind = UpdateDialog::Kind;
using Unit = updatecheck::UnitReport;

class UpdateDialogTest : public ScriptedPageTest {
protected:
    void SetUp() override
    {
        QDir(base.path()).mkpath(QStringLiteral("DLD"));
        QDir(base.path()).mkpath(QStringLiteral("CONFIG"));
        page = makePage(1, hardware::Hd, connection::Serial, link);
        page->openLink();
        page->record().phase = 4;
        UpdateDialog::setMessageHook([this](QMessageBox::Icon icon, const QString &text) {
            boxes << (icon == QMessageBox::Critical ? QStringLiteral("E:") : QStringLiteral("W:")) + text;
            return answer;
        });
    }
    void TearDown() override { UpdateDialog::setMessageHook({}); }

    void writeFile(const char *name, const QByteArray &head, const QList<QByteArray> &lines = {"S1130000AA"})
    {
        QFile f(base.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(head);
        for (const QByteArray &l : lines)
            f.write(l + "\r\n");
    }
    QString text(UpdateDialog &d, const char *name) { return d.findChild<QLabel *>(name)->text(); }
    QPushButton *button(UpdateDialog &d, const char *name) { return d.findChild<QPushButton *>(name); }
    bool aborted() { return UpdateMachine::of(*page).step() == UpdateMachine::kFailStep && page->record().phase == 3; }
    void tickMachine(int n)
    {
        for (int i = 0; i < n && UpdateMachine::of(*page).running(); ++i) {
            link.advance();
            UpdateMachine::of(*page).tick();
        }
    }
    QString full(const char *relative) const { return base.path() + QLatin1Char('/') + QLatin1String(relative); }

    QStringList boxes;
    bool answer = true;
};

TEST_F(UpdateDialogTest, HdDialogChecksInOrder)
{
    writeFile("DLD/KH71_HAN.DLD", "1\r\nV04.05\r\nV04.05\r\n");
    writeFile("DLD/KH71_KYO.DLD", "1\r\nV03.10\r\nV03.10\r\n");
    const struct {
        const char *version;
        QStringList boxes;
        const char *display;
    } cases[] = {
        {"BETA", {}, "DISPLAY: HANTRONIX"},
        {"V02.18", {}, "DISPLAY: HANTRONIX"},
        {"V03.10", {"W:Update Software Version is the same or older then Current Software"}, "DISPLAY: KYOCERA"},
        {"2.18", {"E:Invaild Unit Software Version, Please Contact Tolva"}, ""},
        {"V02.14", {"E:Unit Cannot Be Updated In Field, Please Contact Tolva"}, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.version);
        boxes.clear();
        page->record().phase = 4;
        UpdateMachine::of(*page).tick(); // a previous abort ends
        UpdateDialog dialog(Kind::Hd);
        dialog.activate(*page, Unit{QStringLiteral("KH-71"), {}, c.version, {}, 0});
        EXPECT_EQ(boxes, c.boxes);
        EXPECT_EQ(text(dialog, "LabelDisplay"), QLatin1String(c.display));
        EXPECT_EQ(aborted(), boxes.join(QString()).startsWith(QLatin1String("E:")));
        EXPECT_EQ(text(dialog, "LabelStatus"), QStringLiteral(" Idle  "));
    }
    QFile::remove(full("DLD/KH71_KYO.DLD"));
    boxes.clear();
    UpdateMachine::of(*page).tick();
    UpdateDialog dialog(Kind::Hd);
    dialog.activate(*page, Unit{QStringLiteral("KH-71"), {}, "V03.00", {}, 0});
    EXPECT_EQ(boxes, QStringList{"E:Download File Not Found:" + full("DLD/KH71_KYO.DLD")});
    EXPECT_TRUE(aborted());
    tickMachine(1); // the failure step closes the dialog
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST_F(UpdateDialogTest, HdConfirmSendsTheChosenSerialDigits)
{
    writeFile("DLD/KH71_HAN.DLD", "1\r\nV04.05\r\nV04.05\r\n");
    UpdateDialog dialog(Kind::Hd);
    dialog.activate(*page, Unit{QStringLiteral("KH-71"), {}, "V02.18", {}, 0});
    EXPECT_EQ(text(dialog, "FileVersion"), QStringLiteral("V04.05"));
    dialog.findChild<QComboBox *>("ComboBox1")->setCurrentIndex(4);
    dialog.findChild<QComboBox *>("ComboBox2")->setCurrentIndex(5);
    dialog.findChild<QComboBox *>("ComboBox3")->setCurrentIndex(6);
    dialog.grab().save(shotPath(QStringLiteral("update-hd.png")));
    link.answer("PG\r", "READY\r");
    link.answer("S1130000AA\r", "GC\r");
    link.answer("S20800200900040506BF\r", "GC\r");
    button(dialog, "Button1")->click();
    EXPECT_TRUE(dialog.machineRunning());
    EXPECT_FALSE(button(dialog, "Button1")->isEnabled());
    EXPECT_FALSE(button(dialog, "Button3")->isEnabled());
    dialog.reject(); // no way out while the machine runs
    EXPECT_TRUE(dialog.isVisible());
    tickMachine(12);
    EXPECT_TRUE(link.sends().contains("S20800200900040506BF\r"));
    EXPECT_EQ(text(dialog, "LabelStatus"), QStringLiteral("Flashing EEPROM     "));
}

TEST_F(UpdateDialogTest, Kh71DialogChoosesItsFilesByMainVersion)
{
    writeFile("DLD/KH71_KYO.DLD", "7\r\nV04.03\r\nV04.05\r\n");
    writeFile("DLD/KH71_KYOB.DLD", "1\r\nV04.03\r\nV04.05\r\n");
    writeFile("DLD/XPORT.DLD", "2\r\nV06.50\r\n");
    const struct {
        const char *boot, *main;
        int lcd;
        bool lantronix;
        QStringList boxes;
    } cases[] = {
        {"04.03", "04.03", 2, true, {}},
        {"04.02", "04.02", 2, false, {}},
        {"04.02", "04.02", 3, false, {"E:Invaild LCD Type, Please Contact Tolva"}},
        {"4.02", "04.02", 2, false, {"E:Invaild Unit Software Version, Please Contact Tolva"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.main);
        boxes.clear();
        UpdateMachine::of(*page).tick();
        UpdateDialog dialog(Kind::Kh71);
        dialog.activate(*page, Unit{QStringLiteral("KH-71"), c.boot, c.main, "V06.10 ", c.lcd});
        EXPECT_EQ(boxes, c.boxes);
        EXPECT_EQ(button(dialog, "Button2")->isEnabled(), c.lantronix);
        if (!c.boxes.isEmpty())
            continue;
        EXPECT_EQ(text(dialog, "UnitVersion"), QString::fromLatin1(c.boot) + "    " + c.main);
        EXPECT_EQ(text(dialog, "FileVersion"), QStringLiteral("V04.03  V04.05"));
        EXPECT_EQ(text(dialog, "FileLantronix"), QStringLiteral("V06.50"));
        EXPECT_EQ(text(dialog, "LabelDisplay"), QStringLiteral("DISPLAY: KYOCERA"));
        if (c.lantronix)
            dialog.grab().save(shotPath(QStringLiteral("update-kh71.png")));
    }

    // Same BOOT, newer MAIN: one warning, then the "B" file goes with its own count.
    boxes.clear();
    UpdateMachine::of(*page).tick(); // the last abort closes the link
    EXPECT_EQ(page->record().state, state::Error);
    page->openLink();
    UpdateDialog dialog(Kind::Kh71);
    dialog.activate(*page, Unit{QStringLiteral("KH-71"), "04.03", "04.03", "V06.10 ", 2});
    link.answer("PG0001\r", "READY\r");
    link.answer("S1130000AA\r", "BC\r");
    button(dialog, "Button1")->click();
    EXPECT_EQ(boxes, QStringList{"W:Update BOOT Software Version is the same or older then Current Software"});
    EXPECT_EQ(page->record().phase, UpdateMachine::kEepromPhase);
    tickMachine(2);
    EXPECT_EQ(link.sends(), (QList<QByteArray>{"HD\r", "PG0001\r"}));
    tickMachine(4); // READY, the file's start, the line, its first "BC"
    EXPECT_EQ(text(dialog, "LabelStatus"), QStringLiteral("Downloading Program "));
    EXPECT_EQ(text(dialog, "LabelCount"), QStringLiteral("     1 of      1"));
    EXPECT_EQ(text(dialog, "LabelBadChecksums"), QStringLiteral("Bad Checksums:     1"));
    dialog.grab().save(shotPath(QStringLiteral("update-kh71-running.png")));
}

TEST_F(UpdateDialogTest, Kf71DialogAndTheNetworkModule)
{
    writeFile("DLD/KF71.DLD", "3\r\nV01.20\r\nV01.20\r\n");
    writeFile("DLD/XPORT.DLD", "2\r\nV06.50\r\n");
    // 1.17 takes KF71.DLD without the network module (update_button_test);
    // 1.18 takes KF71_B.DLD, which is missing: the error comes at the start.
    UpdateDialog b(Kind::Kf71);
    b.activate(*page, Unit{QStringLiteral("KF-71"), "01.18", "01.18", "V06.10 ", 0});
    EXPECT_TRUE(button(b, "Button2")->isEnabled());
    button(b, "Button1")->click();
    EXPECT_EQ(boxes, QStringList{"E:Download File Not Found:" + full("DLD/KF71_B.DLD")});
    EXPECT_TRUE(aborted());
    tickMachine(1);
    EXPECT_EQ(link.sends(), (QList<QByteArray>{"\r", "EC\r"}));

    // The network module: Cancel asks again another time, OK starts it.
    boxes.clear();
    page->record().phase = 4;
    UpdateDialog net(Kind::Kf71);
    net.activate(*page, Unit{QStringLiteral("KF-71"), "01.18", "01.18", "V06.10 ", 0});
    answer = false;
    button(net, "Button2")->click();
    EXPECT_EQ(page->record().phase, 4);
    answer = true;
    button(net, "Button2")->click();
    EXPECT_EQ(boxes.size(), 2);
    EXPECT_EQ(boxes[0], QStringLiteral("W:") + updatecheck::kLantronixQuestion);
    EXPECT_EQ(page->record().phase, UpdateMachine::kNetworkPhase);
    tickMachine(1);
    EXPECT_TRUE(link.sends().endsWith(QByteArray("PG0002\r")));

    // A missing first file is reported, and the module's file is still read.
    QFile::remove(full("DLD/KF71.DLD"));
    boxes.clear();
    UpdateDialog missing(Kind::Kf71);
    missing.activate(*page, Unit{QStringLiteral("KF-71"), "01.17", "01.17", "V06.10 ", 0});
    EXPECT_EQ(boxes, QStringList{"E:Download File Not Found:" + full("DLD/KF71.DLD")});
    EXPECT_EQ(text(missing, "FileLantronix"), QStringLiteral("V06.50"));
}

} // namespace
