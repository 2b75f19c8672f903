#include "connection/connectionpage.h"
#include "core/messagelog.h"
#include "station/station.h"
#include "support/fakeclock.h"
#include "ui/connectionpageview.h"
#include "ui/mainwindow.h"
#include "ui/messageview.h"
#include "ui/smalldialogs.h"
#include "ui/windowtest.h"

#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {
class MainWindowTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    FakeClock clock;
    std::unique_ptr<Station> station;
    std::unique_ptr<MainWindow> window;

    void SetUp() override
    {
        QDir(dir.path()).mkdir("CONFIG");
        station = std::make_unique<Station>(dir.path(), clock);
        station->messageLog().setEchoToStderr(false);
        window = std::make_unique<MainWindow>(*station);
    }
    void TearDown() override
    {
        window.reset();
        station.reset();
    }
};

} // namespace

TEST_F(MainWindowTest, LayoutCaptionsAndColumns)
{
    EXPECT_EQ(window->windowTitle(), QStringLiteral(" Tolva Electronics Server"));
    EXPECT_EQ(window->size(), QSize(918, 603));
    EXPECT_EQ(window->maximumSize(), QSize(918, 603));
    EXPECT_EQ(MainWindow::fittedSize(800), QSize(800, 537)); // 603 x 800/918, rounded, + 12
    EXPECT_EQ(MainWindow::fittedSize(1920), QSize(918, 603));
    QTabWidget *connections = window->connectionTabs();
    ASSERT_EQ(connections->count(), 9);
    EXPECT_EQ(connections->tabText(0), QStringLiteral("Connect #1"));
    EXPECT_EQ(connections->tabText(1), QStringLiteral("     #2     "));
    EXPECT_EQ(connections->tabText(7), QStringLiteral("     #8   "));
    EXPECT_EQ(connections->tabText(8), QStringLiteral("    Log  "));
    QTabWidget *servers = window->serverTabs();
    ASSERT_EQ(servers->count(), 8);
    EXPECT_EQ(servers->tabText(0), QStringLiteral("Server #1"));
    EXPECT_EQ(servers->tabText(2), QStringLiteral("  #3"));
    EXPECT_EQ(servers->widget(4)->objectName(), QStringLiteral("Server5"));
    EXPECT_EQ(connections->widget(2)->objectName(), QStringLiteral("Connect3"));
    EXPECT_EQ(connections->widget(8)->objectName(), QStringLiteral("Log1"));

    ConnectionPageView *view = window->pageView(1);
    EXPECT_EQ(headers(view->connectionList()), (QStringList{"Connection", "Info", "Status"}));
    EXPECT_EQ(headers(view->hardwareList()), (QStringList{"Hardware", "Unit", "ID", "Serial #"}));
    EXPECT_TRUE(view->findChild<QWidget *>("ButtonC1"));
    EXPECT_FALSE(view->findChild<QWidget *>("ButtonC3")->isEnabled());

    const QList<QAction *> menus = window->menuBar()->actions();
    ASSERT_EQ(menus.size(), 2);
    EXPECT_EQ(menus[0]->text(), QStringLiteral("&File"));
    EXPECT_EQ(menus[1]->text(), QStringLiteral("Help"));
}

TEST_F(MainWindowTest, StartUpNamesTheTabsAndRefreshesStates)
{
    ConnectionSettings s = ConnectionSettings::defaults(2, dir.path());
    s.connectionName = QStringLiteral("Studio A");
    ASSERT_TRUE(connectionsettings::save(dir.path(), 2, s, nullptr));
    window->startUp();
    EXPECT_FALSE(window->startPending());
    EXPECT_EQ(window->connectionTabs()->tabText(1), QStringLiteral("Studio A"));
    EXPECT_EQ(window->connectionTabs()->tabText(0), QStringLiteral("Connect #1"));
    EXPECT_TRUE(QFile::exists(dir.path() + "/CONFIG/Connect8.CFG"));

    window->mainTimerTick();
    EXPECT_EQ(window->mainTicks(), 1);
    QTreeWidgetItem *row = window->pageView(1)->connectionList()->topLevelItem(0);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->text(0), QStringLiteral("RS-232"));
    EXPECT_EQ(row->text(2), QStringLiteral("Disconnected"));

    window->connectionTabs()->setCurrentIndex(8);
    EXPECT_EQ(window->currentConnection(), 9);
    EXPECT_EQ(station->page(window->currentConnection()), nullptr); // the Log tab has no connection page
}

TEST_F(MainWindowTest, LogFileFailureReachesTheErrorDialog)
{
    ConnectionPage *page = station->page(2);
    ConnectionSettings s = page->settings();
    s.logDirectory = dir.path() + "/no-such-dir";
    page->setSettings(s);
    page->openLog();
    QMessageBox *box = window->findChild<QMessageBox *>();
    ASSERT_TRUE(box);
    EXPECT_TRUE(box->text().contains("no-such-dir"));
    EXPECT_TRUE(station->messageLog().line(0).contains("<Connect2>   Log file error: "));
}

TEST_F(MainWindowTest, MissingConfigDirectoryIsReportedOnce)
{
    window.reset();
    station.reset();
    QTemporaryDir empty;
    station = std::make_unique<Station>(empty.path(), clock);
    station->messageLog().setEchoToStderr(false);
    window = std::make_unique<MainWindow>(*station);
    window->startUp();
    EXPECT_EQ(station->messageLog().count(), 1);
    EXPECT_TRUE(station->messageLog().line(0).contains("CONFIG directory not found"));
    window->startUp(); // start-up runs once
    EXPECT_EQ(station->messageLog().count(), 1);
}

TEST_F(MainWindowTest, MessageWindowAppendsNewestFirstAndClears)
{
    MessageLog &log = station->messageLog();
    log.log("Connect1", "A", LogLevel::Status);
    log.log("Connect1", "B went ERROR", LogLevel::Status);
    QStringList shown = window->messageView()->toPlainText().split('\n');
    ASSERT_EQ(shown.size(), 2);
    EXPECT_TRUE(shown[0].endsWith("B went ERROR"));
    EXPECT_TRUE(shown[1].endsWith("A"));
    EXPECT_EQ(MessageView::colourFor(shown[0]), QColor(Qt::red));

    window->expandedWindow()->show();
    EXPECT_EQ(window->expandedWindow()->view()->toPlainText(), window->messageView()->toPlainText());
    log.clear();
    EXPECT_TRUE(window->messageView()->toPlainText().isEmpty());
    EXPECT_TRUE(window->expandedWindow()->view()->toPlainText().isEmpty());
    log.log("Connect1", "C", LogLevel::Status);
    EXPECT_EQ(window->messageView()->document()->blockCount(), 1);
    window->expandedWindow()->hide();
}

TEST_F(MainWindowTest, Screenshot)
{
    ConnectionSettings s = ConnectionSettings::defaults(1, dir.path());
    s.connectionName = QStringLiteral("Studio A");
    ASSERT_TRUE(connectionsettings::save(dir.path(), 1, s, nullptr));
    window->show();
    window->startUp();
    MessageLog &log = station->messageLog();
    log.log("Connect1", " ARX Succesful Connection", LogLevel::Status);
    log.log("Connect2", "COM Port Error(1): No Such Port", LogLevel::Error);
    window->mainTimerTick();
    QApplication::processEvents();
    const QPixmap shot = window->grab();
    EXPECT_EQ(shot.size(), QSize(918, 603));
    EXPECT_TRUE(shot.save(shotPath("main-window.png")));
    // The About box says who to call.
    AboutBox about(window.get());
    about.show();
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About"));
    const QLabel *contact = about.findChild<QLabel *>("Contact");
    ASSERT_NE(contact, nullptr);
    EXPECT_TRUE(contact->text().contains("Tolva Electronics dealer"));
    EXPECT_TRUE(about.grab().save(shotPath("about.png")));
    window->expandedWindow()->show();
    EXPECT_EQ(window->expandedWindow()->windowTitle(), QStringLiteral("Message Window - Expanded"));
    EXPECT_TRUE(window->expandedWindow()->grab().save(shotPath("message-window-expanded.png")));
    window->expandedWindow()->hide();
}

// Every connection tab, the Log tab included, is in view at the window's
// default size: with the default captions and with ten-letter names, and
// whichever tab is selected (its caption is bold).
TEST_F(MainWindowTest, EveryConnectionTabIsInView)
{
    window->show();
    window->startUp();
    QTabBar *bar = window->connectionTabs()->tabBar();
    for (const char *shot : {"main-window-tabs.png", "main-window-long-names.png"}) {
        for (int current : {8, 0}) {
            window->connectionTabs()->setCurrentIndex(current);
            QApplication::processEvents();
            for (int i = 0; i < bar->count(); ++i)
                EXPECT_TRUE(bar->tabRect(i).left() >= 0 && bar->tabRect(i).right() < bar->width()) << shot << i;
            for (const QToolButton *arrow : bar->findChildren<QToolButton *>())
                EXPECT_FALSE(arrow->isVisible()) << shot;
        }
        EXPECT_TRUE(window->grab().save(shotPath(shot)));
        for (int i = 1; i <= 8; ++i)
            bar->setTabText(i - 1, QStringLiteral("Studio AAA"));
    }
}
