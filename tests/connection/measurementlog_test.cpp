#include "connection/connectionpage.h"
#include "connection/measurementlog.h"
#include "core/datetime.h"
#include "core/messagelog.h"
#include "support/fakeclock.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

namespace {

TEST(MeasurementLogRecord, LengthByteFrameTextAndZeroPadding)
{
    QByteArray text(108, 'a');
    text[0] = char(0xFF);
    text[107] = char(0x40);
    QByteArray expected(1, char(0x6C));
    expected += text;
    EXPECT_EQ(MeasurementLog::arxRecord(text), expected);

    const QByteArray shortText("abc");
    QByteArray padded("\x03" "abc", 4);
    padded += QByteArray(105, '\0');
    EXPECT_EQ(MeasurementLog::arxRecord(shortText), padded);

    const QByteArray longText = QByteArray(108, 'b') + "tail";
    EXPECT_EQ(MeasurementLog::arxRecord(longText), QByteArray(1, char(0x6C)) + QByteArray(108, 'b'));
}

TEST(MeasurementLogName, PatternOfTheFileName)
{
    const QDateTime t(QDate(2026, 12, 6), QTime(14, 5, 9));
    EXPECT_EQ(MeasurementLog::fileNameFor(hardware::Arx, 1, QStringLiteral("Connect1-"), t),
              QStringLiteral("Connect1-Date..12.06.26 Time..14.05.09.LW1"));
    EXPECT_EQ(MeasurementLog::fileNameFor(hardware::Arx, 8, QStringLiteral("X"), t),
              QStringLiteral("XDate..12.06.26 Time..14.05.09.LW8"));
    EXPECT_EQ(MeasurementLog::fileNameFor(hardware::Hd, 3, QStringLiteral("H-"), t),
              QStringLiteral("H-Date..12.06.26 Time..14.05.09.TXT"));
}

class ArxLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(base.isValid());
        log.setEchoToStderr(false);
        ConnectionPage::Environment env;
        env.baseDirectory = base.path();
        env.log = &log;
        env.clock = &clock;
        page = std::make_unique<ConnectionPage>(1, env);
        ConnectionSettings s = page->settings();
        s.hardwareType = hardware::Arx;
        s.logDirectory = logDir();
        s.logPrefix = QStringLiteral("P-");
        s.logEnabled = true;
        page->setSettings(s);
    }

    QString logDir() const { return base.path() + QStringLiteral("/LOG"); }

    // A frame as the session files it, its stamp the clock's time.
    QByteArray frameText(char fill) const
    {
        QByteArray f(100, fill);
        f[0] = char(0xFF);
        f[1] = char(0xFE);
        f[2] = char(0xFD);
        return f + datetime::stampOf(clock.now());
    }

    // Logs one frame a second from `from` for `count` seconds.
    void frames(const QTime &from, int count, QDate date = QDate(2026, 12, 6))
    {
        clock.set(QDateTime(date, from));
        for (int i = 0; i < count; ++i) {
            page->logArxRecord(frameText(char('A' + i)), clock.now());
            clock.advanceMs(1000);
        }
    }

    QStringList files() const { return QDir(logDir()).entryList(QDir::Files, QDir::Name); }
    qint64 size(const QString &name) const { return QFileInfo(logDir() + QLatin1Char('/') + name).size(); }
    int errorLines() const
    {
        int n = 0;
        for (const QString &line : log.lines())
            n += line.startsWith(QStringLiteral("ERROR ("));
        return n;
    }

    FakeClock clock;
    MessageLog log{clock};
    QTemporaryDir base;
    std::unique_ptr<ConnectionPage> page;
};

TEST_F(ArxLogTest, NewFileAtFourInTheMorning)
{
    QDir().mkpath(logDir());
    clock.set(QDateTime(QDate(2026, 12, 6), QTime(3, 59, 58)));
    page->openLog();
    frames(QTime(3, 59, 58), 5); // 03:59:58 ... 04:00:02
    const QStringList expected = {QStringLiteral("P-Date..12.06.26 Time..03.59.58.LW1"),
                                  QStringLiteral("P-Date..12.06.26 Time..04.00.00.LW1")};
    ASSERT_EQ(files(), expected);
    EXPECT_EQ(size(expected[0]), 2 * 109);
    EXPECT_EQ(size(expected[1]), 3 * 109);

    // The records are the frame texts as filed: the 04:00:00 one ('C') leads the new file.
    QFile f(logDir() + QLatin1Char('/') + expected[1]);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_EQ(quint8(bytes[0]), 0x6C);
    EXPECT_EQ(bytes.mid(1, 3), QByteArray("\xFF\xFE\xFD"));
    EXPECT_EQ(bytes[4], 'C');
    EXPECT_EQ(datetime::decodeStamp(bytes.mid(101, 8)),
              datetime::toDays(QDateTime(QDate(2026, 12, 6), QTime(4, 0, 0))));
}

TEST_F(ArxLogTest, MidnightIsNoBoundary)
{
    QDir().mkpath(logDir());
    clock.set(QDateTime(QDate(2026, 12, 6), QTime(23, 59, 58)));
    page->openLog();
    frames(QTime(23, 59, 58), 5);
    ASSERT_EQ(files().size(), 1);
    EXPECT_EQ(size(files()[0]), 5 * 109);
}

TEST_F(ArxLogTest, FileOpenedAtTwoLastsUntilFour)
{
    QDir().mkpath(logDir());
    clock.set(QDateTime(QDate(2026, 12, 6), QTime(2, 0, 0)));
    page->openLog();
    frames(QTime(2, 0, 0), 2);
    frames(QTime(3, 0, 0), 2);
    frames(QTime(3, 59, 59), 1);
    EXPECT_EQ(files().size(), 1);
    frames(QTime(4, 0, 1), 1);
    EXPECT_EQ(files(), (QStringList{QStringLiteral("P-Date..12.06.26 Time..02.00.00.LW1"),
                                    QStringLiteral("P-Date..12.06.26 Time..04.00.01.LW1")}));
}

TEST_F(ArxLogTest, FailureIsReportedOnceAndLoggingResumesWhenReopened)
{
    QSignalSpy raised(page.get(), &ConnectionPage::errorRaised);
    clock.set(QDateTime(QDate(2026, 12, 6), QTime(10, 0, 0)));
    page->openLog(); // the directory does not exist
    EXPECT_EQ(raised.count(), 1);
    EXPECT_EQ(errorLines(), 1);
    EXPECT_FALSE(page->measurementLog().isOpen());
    frames(QTime(10, 0, 0), 3);
    EXPECT_EQ(raised.count(), 1);
    EXPECT_EQ(errorLines(), 1);

    QDir().mkpath(logDir());
    page->openLog();
    frames(QTime(10, 0, 10), 2);
    ASSERT_EQ(files().size(), 1);
    EXPECT_EQ(size(files()[0]), 2 * 109);
    EXPECT_EQ(raised.count(), 1);
}

TEST_F(ArxLogTest, RolloverThatCannotCreateItsFileIsReportedOnce)
{
    QDir().mkpath(logDir());
    clock.set(QDateTime(QDate(2026, 12, 6), QTime(3, 59, 59)));
    page->openLog();
    frames(QTime(3, 59, 59), 1);
    QDir(logDir()).removeRecursively();
    QSignalSpy raised(page.get(), &ConnectionPage::errorRaised);
    frames(QTime(4, 0, 0), 4);
    EXPECT_EQ(raised.count(), 1);
    EXPECT_EQ(errorLines(), 1);
    EXPECT_FALSE(page->measurementLog().isOpen());
}

TEST_F(ArxLogTest, NothingIsWrittenWhenLoggingIsOff)
{
    QDir().mkpath(logDir());
    ConnectionSettings s = page->settings();
    s.logEnabled = false;
    page->setSettings(s);
    clock.set(QDateTime(QDate(2026, 12, 6), QTime(14, 0, 0)));
    page->openLog();
    frames(QTime(14, 0, 0), 3);
    ASSERT_EQ(files().size(), 1);
    EXPECT_EQ(size(files()[0]), 0);
}

} // namespace
