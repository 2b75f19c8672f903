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
    const QByteArray text = "\xFF\xFE\xFD" + QByteArray(105, 'a');
    EXPECT_EQ(MeasurementLog::arxRecord(text), "\x6C" + text);
    EXPECT_EQ(MeasurementLog::arxRecord(text + "tail"), "\x6C" + text);
    EXPECT_EQ(MeasurementLog::arxRecord("abc"), QByteArray("\x03" "abc", 4) + QByteArray(105, '\0'));
}

class ArxLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        log.setEchoToStderr(false);
        page = std::make_unique<ConnectionPage>(1, ConnectionPage::Environment{base.path(), &log, &clock, nullptr});
        ConnectionSettings s = page->settings();
        s.logDirectory = dir;
        s.logPrefix = QStringLiteral("P-");
        s.logEnabled = true;
        page->setSettings(s);
    }

    // Opens the log at `from`, then logs one frame a second, stamped with the clock.
    void run(const QTime &from, int count)
    {
        clock.set(QDateTime(QDate(2026, 12, 6), from));
        page->openLog();
        for (int i = 0; i < count; ++i) {
            const QByteArray frame = "\xFF\xFE\xFD" + QByteArray(97, char('A' + i));
            page->logArxRecord(frame + datetime::stampOf(clock.now()), clock.now());
            clock.advanceMs(1000);
        }
    }
    // "file name: size" of each file, in name order.
    QStringList files() const
    {
        QStringList out;
        for (const QFileInfo &f : QDir(dir).entryInfoList(QDir::Files, QDir::Name))
            out << f.fileName() + QStringLiteral(": ") + QString::number(f.size());
        return out;
    }

    FakeClock clock;
    MessageLog log{clock};
    QTemporaryDir base;
    const QString dir = base.path() + QStringLiteral("/LOG");
    std::unique_ptr<ConnectionPage> page;
};

TEST_F(ArxLogTest, NewFileAtFourInTheMorningOnly)
{
    QDir().mkpath(dir);
    run(QTime(3, 59, 58), 5); // 03:59:58 ... 04:00:02
    EXPECT_EQ(files(), (QStringList{QStringLiteral("P-Date..12.06.26 Time..03.59.58.LW1: 218"),
                                    QStringLiteral("P-Date..12.06.26 Time..04.00.00.LW1: 327")}));
    // The new file begins with the 04:00:00 frame, its stamp as filed.
    QFile f(dir + QStringLiteral("/P-Date..12.06.26 Time..04.00.00.LW1"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.read(109);
    EXPECT_EQ(bytes.left(5), QByteArray("\x6C\xFF\xFE\xFD" "C"));
    EXPECT_EQ(bytes.mid(101), datetime::stampOf(QDateTime(QDate(2026, 12, 6), QTime(4, 0, 0))));

    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
    run(QTime(23, 59, 58), 5); // midnight is no boundary
    EXPECT_EQ(files(), QStringList{QStringLiteral("P-Date..12.06.26 Time..23.59.58.LW1: 545")});
}

TEST_F(ArxLogTest, FailureIsReportedOnceAndLoggingResumesWhenReopened)
{
    QSignalSpy raised(page.get(), &ConnectionPage::errorRaised);
    run(QTime(10, 0, 0), 3); // the directory does not exist
    EXPECT_EQ(raised.count(), 1);
    EXPECT_EQ(log.lines().filter(QStringLiteral("ERROR (")).size(), 1);

    QDir().mkpath(dir);
    run(QTime(3, 59, 58), 2);
    EXPECT_EQ(files(), QStringList{QStringLiteral("P-Date..12.06.26 Time..03.59.58.LW1: 218")});

    // The 04:00 file cannot be created: one report, then silence.
    QDir(dir).removeRecursively();
    for (int i = 0; i < 3; ++i)
        page->logArxRecord(QByteArray(108, 'x'), clock.now());
    EXPECT_EQ(raised.count(), 2);
    EXPECT_FALSE(page->measurementLog().isOpen());
}

} // namespace
