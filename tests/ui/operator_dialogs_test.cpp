// The operator's dialogs and the Log page under the off-screen platform:
// "Configure Connection" filled from a page and applied back, the path and
// change-password dialogs, the About box, and the Log page playing a file.
// Each saves a screenshot for people to look at.
#include "connection/connectionpage.h"
#include "connection/measurementlog.h"
#include "core/datetime.h"
#include "core/messagelog.h"
#include "link/comportmap.h"
#include "playback/logplayer.h"
#include "station/station.h"
#include "support/fakeclock.h"
#include "support/scriptedpage.h"
#include "ui/configuredialog.h"
#include "ui/logpageview.h"
#include "ui/mainwindow.h"
#include "ui/pathdialog.h"
#include "ui/smalldialogs.h"
#include "ui/windowtest.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

QStringList radioTexts(const QGroupBox *box)
{
    QStringList out;
    for (const QRadioButton *r : box->findChildren<QRadioButton *>())
        out << r->text();
    return out;
}

class Dialogs : public ScriptedPageTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir(base.path()).mkpath("LOG"));
        page = freshPage(1, link);
        ports.setDevicePath(2, QStringLiteral("/dev/ttyUSB0"));
    }
    ComPortMap ports;
    PathDialog pathDialog;
    PasswordDialog passwordDialog;
    ConfigureDialog dialog{&pathDialog, &passwordDialog};
};

TEST_F(Dialogs, ConfigureShowsThePageAndRebuildsChoicesByHardware)
{
    ConnectionSettings s = page->settings();
    s.hardwareType = 2;
    s.connectionType = 2; // MODEM, which an HD unit cannot use
    s.baudIndex = 3;
    s.serialPort = 2;
    s.password = "KELPO4";
    page->setSettings(s);
    dialog.activate(page.get(), &ports);
    EXPECT_EQ(dialog.notebook()->tabText(5), QString("Logging"));
    EXPECT_EQ(dialog.checkedConnection(), 1); // choices as the engine gives them
    EXPECT_TRUE(dialog.hdNotesShown());
    EXPECT_EQ(dialog.comPortBox()->currentText(), QString("COM3   /dev/ttyUSB0"));
    EXPECT_FALSE(dialog.changePasswordButton()->isEnabled()); // not an ARX page
    dialog.show();
    dialog.notebook()->setCurrentIndex(0);
    dialog.grab().save(shotPath("configure-hardware.png"));
    dialog.notebook()->setCurrentIndex(2);
    dialog.grab().save(shotPath("configure-rs232-hd.png"));

    // Choosing "Arxon System": its own choices, selected from the stored values.
    dialog.hardwareGroup()->findChildren<QRadioButton *>().at(0)->click();
    EXPECT_EQ(radioTexts(dialog.connectionGroup()).size(), 3);
    EXPECT_FALSE(dialog.hdNotesShown());
    for (int i : {1, 3, 4, 5}) {
        dialog.notebook()->setCurrentIndex(i);
        QApplication::processEvents(); // the rebuilt choices are laid out and drawn
        const char *names[] = {"", "configure-connection.png", "", "configure-modem.png", "configure-network.png",
                               "configure-logging.png"};
        dialog.grab().save(shotPath(names[i]));
    }
    dialog.reject();
    EXPECT_EQ(page->settings().hardwareType, 2); // Cancel changes nothing
}

TEST_F(Dialogs, ApplyAndSaveWriteThePageBack)
{
    dialog.activate(page.get(), &ports);
    QSignalSpy captions(&dialog, &ConfigureDialog::captionsChanged);
    dialog.passwordEdit()->setText("newpass");
    dialog.nameEdit()->setText("Studio A");
    dialog.portEdit()->setText(""); // no port on a serial page: kept as 0
    dialog.loggingBox()->setChecked(true);
    dialog.reconnectBox()->setChecked(true);
    dialog.apply();
    EXPECT_EQ(dialog.result(), int(QDialog::Accepted));
    EXPECT_EQ(captions.count(), 1);
    EXPECT_EQ(page->settings().password, QString("NEWPASS"));
    EXPECT_EQ(page->settings().connectionName, QString("Studio A"));
    EXPECT_EQ(page->settings().portNumber, 0);
    EXPECT_TRUE(page->settings().autoReconnect);
    EXPECT_TRUE(page->measurementLog().isOpen());

    ASSERT_TRUE(QDir(base.path()).mkdir("CONFIG"));
    dialog.activate(page.get(), &ports);
    dialog.prefixEdit()->setText("StudioA-");
    dialog.save();
    ConnectionSettings back;
    ASSERT_TRUE(connectionsettings::load(base.path(), 1, back, nullptr));
    EXPECT_EQ(back.logPrefix, QString("StudioA-"));
    EXPECT_EQ(back.password, QString("NEWPASS"));
}

// The refusal shown over a dialog, closed again so the next case starts clean.
QString takeRefusal(QWidget *dialog, const QString &shot)
{
    auto *box = dialog->findChild<QMessageBox *>("Refusal");
    const QString text = box && box->isVisible() ? box->text() : QString();
    if (box && !shot.isEmpty())
        box->grab().save(shotPath(shot));
    delete box;
    return text;
}

void typeInto(QLineEdit *edit, const QString &text)
{
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    typeText(edit, text);
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// One case per kind of field, typed into the windows: the message names the
// field, the dialog stays open with what was typed, and nothing is applied,
// saved or sent.
TEST_F(Dialogs, RefusalsNameTheFieldAndKeepTheDialog)
{
    ASSERT_TRUE(QDir(base.path()).mkdir("CONFIG"));
    ASSERT_TRUE(page->saveSettings(nullptr));
    const QString file = connectionsettings::filePath(base.path(), 1);
    const QByteArray bytesBefore = fileBytes(file);
    const ConnectionSettings before = page->settings();
    QPushButton *save = dialog.findChild<QPushButton *>("ButtonSave");
    QPushButton *change = passwordDialog.findChildren<QPushButton *>().at(0);
    ASSERT_EQ(change->text(), QString("Change"));
    const struct {
        const char *kind;
        QDialog *shown;
        QLineEdit *edit;
        QString typed;
        QPushButton *button;
        QString named;
        int tab; // the notebook page shown with the message; -1: not checked
    } cases[] = {
        {"text beyond 8 bits", &dialog, dialog.nameEdit(), QString::fromUtf8("St\u00FAdio \u03A9x"), save,
         QString::fromUtf8("Connection Name holds characters the settings file cannot store: \"\u03A9\""), 1},
        {"password beyond 8 bits in upper case", &dialog, dialog.passwordEdit(), QString::fromUtf8("\u00FFes"), save,
         "The Password holds characters", 0},
        {"port with a letter", &dialog, dialog.portEdit(), "8O91", save, "PORT on the \"Network\" page must be a number "
         "from 1 to 65535, not \"8O91\"", 4},
        {"change password, link closed", &dialog, dialog.nameEdit(), "Renamed", dialog.changePasswordButton(),
         "The unit must be connected", -1},
        {"new password empty", &passwordDialog, passwordDialog.edit(), "", change, "New Password", -1},
        {"new password beyond 8 bits", &passwordDialog, passwordDialog.edit(), QString::fromUtf8("p\u03A9ss"), change,
         "New Password holds characters", -1},
    };
    for (const auto &c : cases) {
        if (c.shown == &dialog)
            dialog.activate(page.get(), &ports);
        c.shown->setResult(0);
        c.shown->show();
        typeInto(c.edit, c.typed);
        c.button->click();
        EXPECT_TRUE(c.shown->isVisible() && c.shown->result() != QDialog::Accepted) << c.kind;
        EXPECT_FALSE(c.shown == &dialog && passwordDialog.isVisible()) << c.kind;
        EXPECT_TRUE(c.tab < 0 || dialog.notebook()->currentIndex() == c.tab) << c.kind;
        const QString shot = "refusal-" + QString(c.kind).replace(' ', '-').remove(',') + ".png";
        const QString text = takeRefusal(c.shown, shot);
        EXPECT_TRUE(text.contains(c.named)) << c.kind << ": " << text.toStdString();
        EXPECT_FALSE(text.contains(QChar(0x178))) << "a password is not repeated";
        EXPECT_EQ(c.edit->text(), c.typed) << c.kind;
        EXPECT_TRUE(page->settings() == before && fileBytes(file) == bytesBefore) << c.kind;
    }
    EXPECT_TRUE(passwordDialog.newPassword().isEmpty());
    EXPECT_NE(page->record().phase, 5);

    // What the file can hold is saved byte for byte, as it always was.
    dialog.activate(page.get(), &ports);
    typeInto(dialog.nameEdit(), QString::fromUtf8("St\u00FAdio"));
    dialog.connectionGroup()->findChildren<QRadioButton *>().at(1)->click(); // "Network - Ethernet"
    typeInto(dialog.portEdit(), "8091");
    save->click();
    EXPECT_EQ(dialog.result(), int(QDialog::Accepted));
    EXPECT_TRUE(fileBytes(file).contains("\r\nSt\xFA" "dio\r\n"));
    EXPECT_TRUE(fileBytes(file).contains("\r\n  8091\r\n"));
}

TEST_F(Dialogs, ChangePasswordStartsTheChangeWithoutApplyingTheRest)
{
    page->openLink(); // the test link opens at once
    page->record().phase = 4;
    dialog.activate(page.get(), &ports);
    EXPECT_TRUE(dialog.changePasswordButton()->isVisible() || !dialog.isVisible());
    EXPECT_TRUE(dialog.changePasswordButton()->isEnabled());
    dialog.nameEdit()->setText("Renamed");
    QTimer::singleShot(0, &passwordDialog, [this] {
        QTest::keyClicks(passwordDialog.edit(), "abc123def456xyz"); // 12 characters at most
        passwordDialog.grab().save(shotPath("change-password.png"));
        passwordDialog.change();
    });
    dialog.changePassword();
    EXPECT_EQ(passwordDialog.newPassword(), QString("ABC123DEF456"));
    EXPECT_EQ(page->record().phase, 5);
    EXPECT_EQ(dialog.result(), int(QDialog::Accepted));
    EXPECT_NE(page->settings().connectionName, QString("Renamed"));

    // A page reached through another station has no button for it.
    page->record().viaRelay = true;
    dialog.activate(page.get(), &ports);
    EXPECT_TRUE(dialog.changePasswordButton()->isHidden());
}

TEST_F(Dialogs, ChangePathUsesTheTreeAndFallsBackToTheLogDirectory)
{
    const QString target = base.path() + "/LOG/deeper";
    ASSERT_TRUE(QDir().mkpath(target));
    EXPECT_TRUE(pathDialog.setDirectory(target));
    EXPECT_EQ(pathDialog.pathEdit()->text(), QDir::cleanPath(target));
    EXPECT_EQ(pathDialog.mountList()->itemText(0), QString("/"));
    // A mount table without the root (a chroot) still offers it first.
    EXPECT_EQ(PathDialog::mountChoices({"/srv", "/boot", "/srv"}), QStringList({"/", "/boot", "/srv"}));
    ConnectionSettings s = page->settings();
    s.logDirectory = base.path() + "/absent";
    page->setSettings(s);
    dialog.activate(page.get(), &ports);
    QTimer::singleShot(0, &pathDialog, [&] {
        pathDialog.grab().save(shotPath("select-path.png"));
        pathDialog.accept();
    });
    dialog.changePath();
    EXPECT_EQ(dialog.logPathEdit()->text(), base.path() + "/LOG/"); // the default, spelled as it is
}

TEST(LogPage, PlaysAFileShownInTheMainWindow)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath("CONFIG"));
    ASSERT_TRUE(QDir(dir.path()).mkpath("LOG"));
    const QString path = dir.path() + "/LOG/Connect1-Date..12.06.26 Time..10.00.00.LW1";
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        for (int i = 0; i < 20; ++i) {
            QByteArray r(LogPlayer::kRecordSize, char(0x11));
            r[0] = char(108);
            r.replace(101, 8, datetime::stampOf(QDateTime(QDate(2026, 12, 6), QTime(10, 0, 0)).addMSecs(500 * i)));
            f.write(r);
        }
    }
    FakeClock clock;
    Station station(dir.path(), clock);
    station.messageLog().setEchoToStderr(false);
    station.logPlayer().setTimerRunning(false);
    MainWindow window(station);
    window.show();
    window.connectionTabs()->setCurrentIndex(8);
    EXPECT_EQ(window.currentConnection(), 9);
    LogPageView *view = window.logView();
    EXPECT_EQ(LogPageView::nameFilters().at(1), QString("Connect #1 (*.LW1 *.LC1 *.lw1 *.lc1)"));
    ASSERT_TRUE(view->loadPath(path));
    EXPECT_EQ(view->fileLabel()->text(), "  Filename:   " + QFileInfo(path).fileName());
    EXPECT_EQ(view->startLabel()->text(), QString("Start Time:   10:00:00"));
    EXPECT_EQ(view->dateLabel()->text(), QString("   Date:      12/6/2026"));

    view->findChild<QPushButton *>("ButtonForward")->click();
    for (int i = 0; i < 10; ++i)
        station.logPlayer().tick();
    view->findChild<QPushButton *>("ButtonPause")->click();
    EXPECT_EQ(view->slider()->value(), 47); // record 9 of 0..19 shown: 9/19
    EXPECT_EQ(view->timeField()->text(), QString("12/6/2026 10:00:04"));
    // A stop time after the file's last one is set back to it on the picker.
    view->stopPicker()->setTime(QTime(11, 0, 0));
    EXPECT_EQ(view->stopPicker()->time(), QTime(10, 0, 9, 500));
    window.grab().save(shotPath("log-page.png"));
}

// A day file over midnight (22:00 to 02:00): "23" typed in the stop picker's
// hour is 23:00 of the first day, "01" in the start picker's 01:00 of the
// second, each only once it is after the start.
TEST(LogPage, PickersTakeTimesOverMidnight)
{
    QTemporaryDir dir;
    QFile f(dir.path() + "/night.LW1");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    const QDateTime evening(QDate(2026, 12, 6), QTime(22, 0));
    for (int i = 0; i < 9; ++i) // each half hour
        f.write(QByteArray(1, char(108)) + QByteArray(100, char(0x11)) + datetime::stampOf(evening.addSecs(1800 * i)));
    f.close();
    LogPlayer player(nullptr);
    player.setTimerRunning(false);
    LogPageView view(player, dir.path());
    ASSERT_TRUE(view.loadPath(f.fileName()));
    const struct { QDateTimeEdit *picker; const char *hour; QDateTime taken; } steps[] = {
        {view.stopPicker(), "23", evening.addSecs(3600)},
        {view.startPicker(), "01", evening.addSecs(3600)}, // not after the stop picker
        {view.stopPicker(), "01", evening.addSecs(3 * 3600)},
        {view.startPicker(), "01", evening.addSecs(3 * 3600)},
        {view.stopPicker(), "03", evening.addSecs(4 * 3600)}, // after the file: its last time
    };
    for (const auto &st : steps) {
        st.picker->setFocus();
        st.picker->setSelectedSection(QDateTimeEdit::HourSection);
        QTest::keyClicks(st.picker, st.hour);
        QTest::keyClick(st.picker, Qt::Key_Return);
        EXPECT_EQ(st.picker == view.stopPicker() ? player.stopPicker() : player.startPicker(), st.taken) << st.hour;
        EXPECT_EQ(st.picker->time(), st.taken.time()) << st.hour;
    }
    EXPECT_EQ(std::make_pair(player.rangeStart(), player.rangeEnd()), std::make_pair(6, 8));
}

} // namespace
