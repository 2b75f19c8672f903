// "Reconnect automatically": the pause before each try, the tries on the
// page's clock, a device that comes back, a session that fails, Disconnect.
#include "connection/connectionpage.h"
#include "connection/reconnector.h"
#include "support/pageenv.h"
#include "support/queuelink.h"

#include <QFile>
#include <gtest/gtest.h>

#include <pty.h>
#include <unistd.h>

namespace {

class ReconnectTest : public ::testing::Test, protected PageEnvironment {
protected:
    void SetUp() override { map.setDevicePath(0, device()); }
    QString device() const { return dir.filePath("ttyUSB0"); }
    // A page on COM1 that connects at start-up, with the switch as given.
    std::unique_ptr<ConnectionPage> startPage(bool reconnect)
    {
        ConnectionSettings s = ConnectionSettings::defaults(1, dir.path());
        s.autoConnect = true;
        s.autoReconnect = reconnect;
        EXPECT_TRUE(connectionsettings::save(dir.path(), 1, s, nullptr));
        auto page = std::make_unique<ConnectionPage>(1, env);
        EXPECT_TRUE(page->loadSettings());
        return page;
    }
    int linesWith(const QString &text) const
    {
        int n = 0;
        for (const QString &l : log.lines())
            n += l.contains(text);
        return n;
    }
    int tries() const { return linesWith(QStringLiteral("Reconnecting automatically (try")); }
    // Moves the clock by ms and lets the page run one tick.
    void after(ConnectionPage &page, qint64 ms)
    {
        clock.advanceMs(ms);
        page.tick();
    }
};

} // namespace

TEST(ReconnectWait, DoublesFromTenSecondsUpToFiveMinutes)
{
    const int expected[] = {10, 20, 40, 80, 160, 300, 300};
    for (int n = 0; n < 7; ++n)
        EXPECT_EQ(Reconnector::waitSeconds(n), expected[n]) << n;
    EXPECT_EQ(Reconnector::waitSeconds(1000), 300);
}

TEST_F(ReconnectTest, MissingDeviceIsTriedAfterGrowingPausesOnThePagesClock)
{
    auto page = startPage(true);
    ASSERT_EQ(page->record().state, int(state::Error));
    int expectedTries = 0;
    for (int wait : {10, 20, 40, 80, 160, 300, 300}) {
        after(*page, wait * 1000 - 100);
        EXPECT_EQ(tries(), expectedTries) << "too early before the " << wait << " s try";
        after(*page, 100);
        EXPECT_EQ(tries(), ++expectedTries) << "no try after " << wait << " s";
        EXPECT_EQ(log.line(1), QStringLiteral("STATUS(12/6/2026 %1):   <Connect1>   Reconnecting automatically (try %2)")
                                   .arg(clock.now().toString(QStringLiteral("hh:mm:ss")))
                                   .arg(expectedTries));
        EXPECT_TRUE(log.line(0).endsWith(QStringLiteral("COM Port Error(1): No Such Port")));
    }
}

TEST_F(ReconnectTest, DeviceThatComesBackIsOpenedAtOnceAndSuccessIsReportedOnce)
{
    auto page = startPage(true);
    after(*page, 10000);
    ASSERT_EQ(tries(), 1);

    int master = -1, slave = -1;
    char name[128] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    ::close(slave);
    ASSERT_TRUE(QFile::link(QString::fromLocal8Bit(name), device()));
    after(*page, 1000); // well before the 20 s pause is over
    EXPECT_EQ(tries(), 2);
    EXPECT_TRUE(page->record().portOpen);
    EXPECT_TRUE(serial.isOpen(0));

    page->record().state = state::Data; // the session's first frame
    page->reconnector().check();
    page->reconnector().check();
    EXPECT_EQ(linesWith(QStringLiteral("Reconnected automatically after 2 tries")), 1);
    EXPECT_EQ(page->reconnector().tries(), 0);
    page->closeLink();
    ::close(master);
}

TEST_F(ReconnectTest, SessionThatEndsInErrorIsTriedAgain)
{
    QueueLink silent; // the unit never answers
    ConnectionSettings s = ConnectionSettings::defaults(1, dir.path());
    s.autoReconnect = true;
    ASSERT_TRUE(connectionsettings::save(dir.path(), 1, s, nullptr));
    ConnectionPage page(1, env);
    page.setTestLink(&silent);
    ASSERT_TRUE(page.loadSettings());
    page.connectButton();
    for (int i = 0; i < 5000 && page.record().state != state::Error; ++i)
        after(page, 50);
    ASSERT_EQ(page.record().state, int(state::Error)) << log.lines().join('\n').toStdString();
    EXPECT_EQ(tries(), 0);
    after(page, 10000);
    EXPECT_EQ(tries(), 1);
    EXPECT_EQ(page.record().phase, 1); // opened again, waiting for the session
    EXPECT_TRUE(page.record().portOpen);
}

TEST_F(ReconnectTest, DisconnectAndTheSwitchOffMeanNoTries)
{
    auto page = startPage(true);
    page->disconnectButton();
    for (int i = 0; i < 20; ++i)
        after(*page, 60000);
    EXPECT_EQ(tries(), 0);

    auto off = startPage(false);
    for (int i = 0; i < 20; ++i)
        after(*off, 60000);
    EXPECT_EQ(tries(), 0);

    // Connect starts over with the shortest pause.
    page->connectButton();
    for (int i = 0; i < 3; ++i)
        after(*page, 60000);
    EXPECT_EQ(tries(), 3);
    page->connectButton();
    after(*page, 10000);
    EXPECT_EQ(tries(), 4);
}
