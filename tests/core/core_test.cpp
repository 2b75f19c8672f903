#include "support/bytes.h"
#include "core/clock.h"
#include "core/datetime.h"
#include "core/hextext.h"
#include "core/messagelog.h"
#include "core/socketerrors.h"
#include "support/fakeclock.h"

#include <QSignalSpy>
#include <gtest/gtest.h>
#include <ctime>


TEST(DateTime, DaysSince1899AndTheStoredEightBytes)
{
    const QDateTime t(QDate(2026, 12, 6), QTime(14, 5, 9));
    EXPECT_DOUBLE_EQ(datetime::toDays(t), 46362.586909722224);
    EXPECT_EQ(datetime::stampOf(t), bytes({0xd5, 0xe5, 0xf6, 0xc7, 0x52, 0xa3, 0xe6, 0x40}));
    EXPECT_EQ(datetime::encodeStamp(46362.5), bytes({0, 0, 0, 0, 0x50, 0xa3, 0xe6, 0x40}));
    EXPECT_EQ(datetime::fromDays(datetime::decodeStamp(datetime::stampOf(t))), t);
    EXPECT_EQ(datetime::fromDays(0.0), QDateTime(QDate(1899, 12, 30), QTime(0, 0)));
    EXPECT_EQ(datetime::fromDays(-1.25), QDateTime(QDate(1899, 12, 29), QTime(6, 0)));
    EXPECT_DOUBLE_EQ(datetime::decodeStamp(QByteArray(3, '\0')), 0.0); // short input is not read past its end
}

TEST(DateTime, TextsForMessagesAndLogNames)
{
    const QDateTime t(QDate(2026, 12, 6), QTime(14, 5, 9));
    EXPECT_EQ(datetime::messageText(t), QStringLiteral("12/6/2026 14:05:09"));
    EXPECT_EQ(datetime::logFileStamp(t), QStringLiteral("Date..12.06.26 Time..14.05.09"));
}

// The system clock's time of day keeps the zone's offset for a quarter of an
// hour: it must agree with a local date-time to the millisecond, also across
// summer-time changes and in zones half an hour or 45 minutes off.
TEST(SystemClock, TimeOfDayAgreesWithTheLocalDateTimeAcrossZoneChanges)
{
    const QByteArray saved = qgetenv("TZ");
    for (const char *zone : {"UTC", "Europe/Berlin", "America/St_Johns", "Australia/Lord_Howe", "Asia/Kathmandu"}) {
        qputenv("TZ", zone);
        tzset();
        SystemClock::zoneChangedForTests();
        // Around the 2026 changes in March/April and October/November, and a plain day.
        for (const QDate day : {QDate(2026, 3, 29), QDate(2026, 4, 5), QDate(2026, 10, 25), QDate(2026, 11, 1),
                                QDate(2026, 3, 8), QDate(2026, 6, 15)}) {
            const qint64 start = QDateTime(day, QTime(0, 0), Qt::UTC).toMSecsSinceEpoch() - 12 * 3600000LL;
            for (qint64 ms = start; ms < start + 48 * 3600000LL; ms += 7 * 60000 + 1) {
                SCOPED_TRACE(QStringLiteral("%1 %2").arg(QLatin1String(zone)).arg(ms).toStdString());
                ASSERT_EQ(SystemClock::timeOfDayMs(ms), QDateTime::fromMSecsSinceEpoch(ms).time().msecsSinceStartOfDay());
            }
        }
    }
    saved.isNull() ? qunsetenv("TZ") : qputenv("TZ", saved);
    tzset();
    SystemClock::zoneChangedForTests();
}

TEST(HexText, WritesUpperCaseAndReadsLeniently)
{
    EXPECT_EQ(hextext::hex2(0xAF), QByteArray("AF"));
    EXPECT_EQ(hextext::hex2(0x05), QByteArray("05"));
    EXPECT_EQ(hextext::hex4(0x1A2B), QByteArray("1A2B"));
    EXPECT_EQ(hextext::readByte("7F", 0), 0x7F);
    EXPECT_EQ(hextext::readByte("af", 0), 0x00); // lower case counts as 0, as the units read it
    EXPECT_EQ(hextext::readByte("G5", 0), 0x05);
    EXPECT_EQ(hextext::readByte("C", 0), 0xC0); // a missing digit counts as 0
    EXPECT_EQ(hextext::readByte("", 5), 0x00);
}

class MessageLogTest : public ::testing::Test {
protected:
    FakeClock clock;
    MessageLog log{clock};
    void SetUp() override { log.setEchoToStderr(false); }
};

TEST_F(MessageLogTest, LineFormatsToTheByte)
{
    log.log("Connect1", " ARX Succesful Connection", LogLevel::Status);
    EXPECT_EQ(log.line(0), QStringLiteral("STATUS(12/6/2026 14:05:09):   <Connect1>    ARX Succesful Connection"));
    log.log("Server3", "Socket Error(10048): Address already in use", LogLevel::Error);
    EXPECT_EQ(log.line(0),
              QStringLiteral("ERROR (12/6/2026 14:05:09):   <Server3>   Socket Error(10048): Address already in use"));
    log.log("Connect2", "tick", LogLevel::Debug);
    EXPECT_EQ(log.line(0), QStringLiteral("DEBUG <Connect2> tick"));
    log.log("Connect2", "odd", 7);
    EXPECT_EQ(log.line(0), QString());
    EXPECT_EQ(log.count(), 4);
}

TEST_F(MessageLogTest, NewestFirstColouredByContentAndBounded)
{
    log.log("Connect1", "A", LogLevel::Status);
    log.log("Connect1", "B", LogLevel::Status);
    EXPECT_TRUE(log.line(0).endsWith("B"));
    EXPECT_TRUE(log.line(1).endsWith("A"));

    EXPECT_EQ(MessageLog::colourOf("STATUS(x):   <Connect1>   saw ERROR here"), LineColour::Red);
    EXPECT_EQ(MessageLog::colourOf("DEBUG <Connect1> x"), LineColour::Blue);
    EXPECT_EQ(MessageLog::colourOf("STATUS(x):   <Connect1>   fine"), LineColour::Black);

    QSignalSpy added(&log, &MessageLog::lineAdded);
    for (int i = 0; i < MessageLog::kMaxLines + 5; ++i)
        log.log("Connect1", QString::number(i), LogLevel::Status);
    EXPECT_EQ(log.count(), MessageLog::kMaxLines);
    EXPECT_TRUE(log.line(0).endsWith(QString::number(MessageLog::kMaxLines + 4)));
    EXPECT_TRUE(log.line(MessageLog::kMaxLines - 1).endsWith(" 5")); // the oldest ones went first
    EXPECT_EQ(added.count(), MessageLog::kMaxLines + 5);

    log.clear();
    EXPECT_EQ(log.count(), 0);
    log.log("Connect1", "after", LogLevel::Status);
    EXPECT_EQ(log.count(), 1);
}

TEST_F(MessageLogTest, SocketHookNamesTheServerAndRaisesTheFlag)
{
    socketerrors::Hook &hook = socketerrors::Hook::instance();
    hook.install(&log);
    hook.clearFlag();
    hook.setCurrentServerName("Server4");
    hook.report(10048);
    EXPECT_TRUE(hook.errorFlag());
    EXPECT_EQ(log.line(0), QStringLiteral("ERROR (12/6/2026 14:05:09):   <Server4>   Socket Error(10048): ")
                               + socketerrors::systemText(10048));
    hook.setCurrentServerName("Connect1");
    hook.report(10061);
    EXPECT_TRUE(log.line(0).contains("<Server Unknown>   Socket Error(10061): Connection refused"));
    hook.install(nullptr);
}

TEST(SocketErrors, WindowsSocketsNumbersWithTheSystemsText)
{
    EXPECT_EQ(socketerrors::winsockCode(QAbstractSocket::ConnectionRefusedError), 10061);
    EXPECT_EQ(socketerrors::winsockCode(QAbstractSocket::SocketTimeoutError), 10060);
    EXPECT_EQ(socketerrors::winsockCode(QAbstractSocket::NetworkError), 10065);
    EXPECT_EQ(socketerrors::winsockCode(QAbstractSocket::HostNotFoundError), 11001);
    EXPECT_EQ(socketerrors::winsockCode(QAbstractSocket::AddressInUseError), 10048);
    EXPECT_EQ(socketerrors::winsockCode(QAbstractSocket::RemoteHostClosedError), 10054);
    EXPECT_EQ(socketerrors::messageText(10061), QStringLiteral("Socket Error(10061): Connection refused"));
    EXPECT_EQ(socketerrors::messageText(10054), QStringLiteral("Socket Error(10054): Connection reset by peer"));
    EXPECT_EQ(socketerrors::messageText(10060), QStringLiteral("Socket Error(10060): Connection timed out"));
}
