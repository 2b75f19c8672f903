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
#include <functional>
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
QString takeRefusal(QWidget *dialog, const QString &shot = {})
{
    auto *box = dialog->findChild<QMessageBox *>("Refusal");
    if (!box)
        return {};
    const QString text = box->isVisible() ? box->text() : QString();
    if (!shot.isEmpty())
        box->grab().save(shotPath(shot));
    box->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return text;
}

void typeInto(QLineEdit *edit, const QString &text)
{
    edit->setFocus();
    edit->selectAll();
    if (text.isEmpty())
        QTest::keyClick(edit, Qt::Key_Delete);
    else
        typeText(edit, text);
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// One case per kind of field: a text the 8-bit settings file cannot hold, a
// password that cannot once in upper case, a port that is no port. Each is
// refused by "Save" with a message naming the field, on the field's page;
// the dialog stays open and neither the page nor its file changes.
TEST_F(Dialogs, RefusalsNameTheFieldAndChangeNothing)
{
    ASSERT_TRUE(QDir(base.path()).mkdir("CONFIG"));
    ASSERT_TRUE(page->saveSettings(nullptr));
    const QString file = connectionsettings::filePath(base.path(), 1);
    const QByteArray bytesBefore = fileBytes(file);
    const ConnectionSettings before = page->settings();
    auto chooseNetwork = [this] {
        for (QRadioButton *r : dialog.connectionGroup()->findChildren<QRadioButton *>())
            if (r->text() == "Network - Ethernet")
                r->click();
    };
    const struct {
        const char *kind;
        std::function<void()> type;
        QString field, shown;
        int tab;
    } cases[] = {
        {"text beyond 8 bits", [&] { typeInto(dialog.nameEdit(), QString::fromUtf8("St\u00FAdio \u03A9x")); },
         "Connection Name", QString::fromUtf8("\u03A9"), 1},
        {"password beyond 8 bits in upper case", [&] { typeInto(dialog.passwordEdit(), QString::fromUtf8("\u00FFes")); },
         "Password", {}, 0},
        {"port with a letter", [&] { typeInto(dialog.portEdit(), "8O91"); }, "PORT", "8O91", 4},
        {"port beyond 65535", [&] { typeInto(dialog.portEdit(), "99999"); }, "PORT", "99999", 4},
        {"port 0 on a network link", [&] { chooseNetwork(); typeInto(dialog.portEdit(), "0"); }, "PORT", "\"0\"", 4},
    };
    bool first = true;
    for (const auto &c : cases) {
        dialog.activate(page.get(), &ports);
        dialog.setResult(0);
        dialog.show();
        dialog.notebook()->setCurrentIndex(5);
        c.type();
        dialog.findChild<QPushButton *>("ButtonSave")->click();
        EXPECT_TRUE(dialog.isVisible()) << c.kind;
        EXPECT_NE(dialog.result(), int(QDialog::Accepted)) << c.kind;
        EXPECT_EQ(dialog.notebook()->currentIndex(), c.tab) << c.kind;
        const QString text = takeRefusal(&dialog, first ? "configure-refusal.png" : QString());
        first = false;
        EXPECT_EQ(text, dialog.lastRefusal()) << c.kind;
        EXPECT_TRUE(text.contains(c.field)) << c.kind << ": " << text.toStdString();
        if (!c.shown.isEmpty())
            EXPECT_TRUE(text.contains(c.shown)) << c.kind << ": " << text.toStdString();
        else
            EXPECT_FALSE(text.contains(QChar(0x178)) || text.contains(QChar(0xFF))) << "a password is not repeated";
        EXPECT_EQ(page->settings(), before) << c.kind;
        EXPECT_EQ(fileBytes(file), bytesBefore) << c.kind;
    }
    dialog.reject();

    // What the file can hold is saved byte for byte, as it always was.
    dialog.activate(page.get(), &ports);
    typeInto(dialog.nameEdit(), QString::fromUtf8("St\u00FAdio"));
    chooseNetwork();
    typeInto(dialog.portEdit(), "8091");
    dialog.findChild<QPushButton *>("ButtonSave")->click();
    EXPECT_EQ(dialog.result(), int(QDialog::Accepted));
    EXPECT_TRUE(fileBytes(file).contains("\r\nSt\xFA" "dio\r\n"));
    EXPECT_TRUE(fileBytes(file).contains("\r\n  8091\r\n"));
}

// "Change Password" needs the unit: with the link closed the dialog says so
// and keeps its edits. The new password is refused empty or beyond 8 bits.
TEST_F(Dialogs, ChangePasswordRefusals)
{
    dialog.activate(page.get(), &ports);
    dialog.show();
    typeInto(dialog.nameEdit(), "Renamed");
    dialog.changePasswordButton()->click();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_NE(dialog.result(), int(QDialog::Accepted));
    EXPECT_FALSE(passwordDialog.isVisible());
    EXPECT_TRUE(takeRefusal(&dialog).contains("must be connected"));
    EXPECT_EQ(dialog.nameEdit()->text(), QString("Renamed"));
    EXPECT_NE(page->record().phase, 5);
    dialog.reject();

    passwordDialog.show();
    QPushButton *change = nullptr;
    for (QPushButton *b : passwordDialog.findChildren<QPushButton *>())
        if (b->text() == "Change")
            change = b;
    ASSERT_NE(change, nullptr);
    const struct {
        QString typed;
        const char *why;
    } refused[] = {{"", "empty"}, {QString::fromUtf8("p\u03A9ss"), "cannot store"}};
    for (const auto &r : refused) {
        typeInto(passwordDialog.edit(), r.typed);
        change->click();
        EXPECT_TRUE(passwordDialog.isVisible()) << r.why;
        EXPECT_TRUE(passwordDialog.newPassword().isEmpty()) << r.why;
        const QString text = takeRefusal(&passwordDialog, r.typed.isEmpty() ? "change-password-refusal.png" : "");
        EXPECT_TRUE(text.contains(r.why)) << text.toStdString();
        EXPECT_TRUE(text.contains("New Password")) << text.toStdString();
    }
    typeInto(passwordDialog.edit(), QString::fromUtf8("j\u00F6rg"));
    change->click();
    EXPECT_FALSE(passwordDialog.isVisible());
    EXPECT_EQ(passwordDialog.newPassword(), QString::fromUtf8("J\u00D6RG"));
}

// OK in the path dialog on the directory already chosen keeps its spelling.
TEST_F(Dialogs, ChangePathKeepsTheSpellingOfTheSameDirectory)
{
    ConnectionSettings s = page->settings();
    s.logDirectory = base.path() + "/LOG/";
    page->setSettings(s);
    dialog.activate(page.get(), &ports);
    QTimer::singleShot(0, &pathDialog, [&] { pathDialog.accept(); });
    dialog.changePath();
    EXPECT_EQ(dialog.logPathEdit()->text(), base.path() + "/LOG/");
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
    EXPECT_TRUE(pathDialog.mountList()->findText("/") >= 0);
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

// A day file over midnight: "23" typed in the stop picker's hour stays 23:00
// (of the file's first day), "01" in the start picker's stays 01:00 (of its second).
TEST(LogPage, PickersTakeTimesOverMidnight)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/night.LW1";
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        for (int i = 0; i < 9; ++i) { // 22:00 .. 02:00, each half hour
            QByteArray r(LogPlayer::kRecordSize, char(0x11));
            r[0] = char(108);
            r.replace(101, 8, datetime::stampOf(QDateTime(QDate(2026, 12, 6), QTime(22, 0)).addSecs(1800 * i)));
            f.write(r);
        }
    }
    FakeClock clock;
    MessageLog log(clock);
    log.setEchoToStderr(false);
    LogPlayer player(&log);
    player.setTimerRunning(false);
    LogPageView view(player, dir.path());
    view.show();
    ASSERT_TRUE(view.loadPath(path));
    auto typeHour = [](QDateTimeEdit *picker, const char *hour) {
        picker->setFocus();
        picker->setSelectedSection(QDateTimeEdit::HourSection);
        QTest::keyClicks(picker, hour);
        QTest::keyClick(picker, Qt::Key_Return);
    };
    typeHour(view.stopPicker(), "23");
    EXPECT_EQ(view.stopPicker()->time(), QTime(23, 0));
    EXPECT_EQ(player.stopPicker(), QDateTime(QDate(2026, 12, 6), QTime(23, 0)));
    EXPECT_EQ(player.rangeEnd(), 2);
    typeHour(view.startPicker(), "01");
    // After the stop picker's 23:00: set back to it, on the picker too.
    EXPECT_EQ(player.startPicker(), QDateTime(QDate(2026, 12, 6), QTime(23, 0)));
    EXPECT_EQ(view.startPicker()->time(), QTime(23, 0));
    typeHour(view.stopPicker(), "01");
    typeHour(view.startPicker(), "01");
    EXPECT_EQ(player.startPicker(), QDateTime(QDate(2026, 12, 7), QTime(1, 0)));
    EXPECT_EQ(std::make_pair(player.rangeStart(), player.rangeEnd()), std::make_pair(6, 6));
    view.grab().save(shotPath("log-page-midnight.png"));
}

} // namespace
