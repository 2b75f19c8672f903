#include "connection/connectionpage.h"
#include "connection/measurementlog.h"
#include "core/datetime.h"
#include "core/messagelog.h"
#include "support/scriptedpage.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <unistd.h>

namespace {

TEST(MeasurementLogRecord, LengthByteFrameTextAndZeroPadding)
{
    const QByteArray text = "\xFF\xFE\xFD" + QByteArray(105, 'a');
    EXPECT_EQ(MeasurementLog::arxRecord(text), "\x6C" + text);
    EXPECT_EQ(MeasurementLog::arxRecord(text + "tail"), "\x6C" + text);
    EXPECT_EQ(MeasurementLog::arxRecord("abc"), QByteArray("\x03" "abc", 4) + QByteArray(105, '\0'));
}

class ArxLogTest : public ScriptedPageTest {
protected:
    void SetUp() override
    {
        page = freshPage(1, link);
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

    const QString dir = base.path() + QStringLiteral("/LOG");
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

TEST_F(ArxLogTest, FullDiskLeavesWholeRecordsNamesTheReasonAndResumesWithinAMinute)
{
    QDir().mkpath(dir);
    // A disk with room for 112 records and 80 bytes, as a full disk tears a write.
    qint64 room = 112 * 109 + 80;
    page->measurementLog().setWriteFunction([&room](int fd, const void *data, size_t size) -> ssize_t {
        if (room <= 0) {
            errno = ENOSPC;
            return -1;
        }
        const ssize_t n = ::write(fd, data, size_t(std::min<qint64>(qint64(size), room)));
        room -= n;
        return n;
    });
    QSignalSpy raised(page.get(), &ConnectionPage::errorRaised);
    run(QTime(10, 0, 0), 185); // 10:00:00 .. 10:03:04, the disk full at 10:01:52
    const QString name = QStringLiteral("P-Date..12.06.26 Time..10.00.00.LW1");
    ASSERT_EQ(raised.count(), 1);
    EXPECT_TRUE(raised.at(0).at(0).toString().endsWith(name + QStringLiteral(": No space left on device")));
    ASSERT_EQ(log.lines().filter(QStringLiteral("ERROR (")).size(), 1);
    // Retried at 10:02:52 and failing again: no further report.
    EXPECT_EQ(files(), QStringList{name + QStringLiteral(": ") + QString::number(112 * 109)});

    room = 1 << 20; // space freed
    for (int i = 0; i < 60; ++i) {
        page->logArxRecord(QByteArray("\xFF\xFE\xFD") + QByteArray(105, 'z'), clock.now());
        clock.advanceMs(1000);
    }
    // Back at the next retry, 10:03:52, with one STATUS line; whole records only.
    EXPECT_EQ(raised.count(), 1);
    const QStringList resumed = log.lines().filter(QStringLiteral("Log file resumed: "));
    ASSERT_EQ(resumed.size(), 1);
    EXPECT_TRUE(resumed[0].startsWith(QStringLiteral("STATUS(")));
    EXPECT_EQ(files(), QStringList{name + QStringLiteral(": ") + QString::number((112 + 13) * 109)});
    QFile f(dir + QLatin1Char('/') + name);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    for (qsizetype at = 0; at < bytes.size(); at += 109)
        ASSERT_EQ(bytes.mid(at, 4), QByteArray("\x6C\xFF\xFE\xFD")) << "record at " << at;
}

} // namespace

namespace {

TEST(HdLog, FileCreatedOnAFullDiskGetsItsHeaderWhenWritingResumes)
{
    QTemporaryDir dir;
    MeasurementLog log(2);
    bool full = true;
    log.setWriteFunction([&full](int fd, const void *data, size_t size) -> ssize_t {
        if (full) {
            errno = ENOSPC;
            return -1;
        }
        return ::write(fd, data, size);
    });
    QDateTime t(QDate(2026, 12, 6), QTime(10, 0, 0));
    QString error;
    EXPECT_FALSE(log.open(hardware::Hd, dir.path(), QStringLiteral("H-"), t, &error));
    EXPECT_TRUE(error.endsWith(QStringLiteral(": No space left on device"))) << qPrintable(error);
    EXPECT_TRUE(log.logHdLine(t.addSecs(1), 5, true, &error)); // suspended until the retry
    full = false;
    EXPECT_TRUE(log.logHdLine(t.addSecs(61), 7, true, &error));
    EXPECT_TRUE(log.takeResumed());
    EXPECT_TRUE(log.logHdLine(t.addSecs(62), 9, true, &error));
    QFile f(log.fileName());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("DATE,TIME,TOTAL PEAK,TOTAL AVE,TOTAL MIN\r\n"
                                      "12/6/2026,10:01:01,7,7.0,7\r\n"
                                      "12/6/2026,10:01:02,9,9.0,9\r\n"));
}

} // namespace
