// The ARX detect machine and module-program download, step by step.
#include "arx_testpage.h"

#include <QDir>
#include <QFile>

namespace {

using ArxDetectTest = ArxPageTest;

TEST_F(ArxDetectTest, UnitLogsInIdentifiesAndStarts)
{
    scriptLogin("KS71");
    page->openLink();
    ticks(2); // phase 1, step 0
    EXPECT_EQ(page->interval(), 250);
    EXPECT_EQ(record().savedInterval, ConnectionPage::kStartInterval);
    EXPECT_EQ(record().state, state::Connecting);
    tickWhile(3);
    ASSERT_EQ(record().phase, 4);
    const QList<QByteArray> expected = {bytes({0x03, 0xFE}), bytes({0x01, 0xFE}), "SECRET\xFE",
                                        bytes({0x07, 0xFE}), bytes({0x04, 0xFE})};
    EXPECT_EQ(link.sends(), expected);
    EXPECT_FALSE(record().viaRelay);
    EXPECT_EQ(record().modelId, QByteArray("KS71"));
    EXPECT_EQ(record().unitType, 2);
    EXPECT_EQ(page->interval(), 50);
    EXPECT_TRUE(logged(QStringLiteral(" ARX Succesful Connection"), LogLevel::Status));
}

TEST_F(ArxDetectTest, RelayWordsComeBeforeTheUnitWords)
{
    connectUnit("KM71", "SPASSWORD"); // a relay's KM71 needs no download check
    EXPECT_TRUE(record().viaRelay);
    EXPECT_EQ(record().modelId, QByteArray("KM71"));

    link.answer(bytes({0x01, 0xFE}), marked("VALID"));
    page->reconnect();
    ticks(4);
    EXPECT_EQ(record().detectStep, 4);
    EXPECT_FALSE(record().viaRelay);

    link.clearRules();
    link.answer(bytes({0x01, 0xFE}), marked("SVALID"));
    page->reconnect();
    ticks(4);
    EXPECT_EQ(record().detectStep, 4);
    EXPECT_EQ(page->interval(), 100);
    EXPECT_TRUE(record().viaRelay);
}

TEST_F(ArxDetectTest, SilentUnitIsAskedAgainAtTick25AndGivenUpAt31)
{
    openToPrompt();
    ticks(24);
    EXPECT_TRUE(link.sent().isEmpty());
    tick();
    EXPECT_EQ(link.takeSent(), bytes({0xFE, 0x01, 0xFE}));
    EXPECT_EQ(page->interval(), 1000);
    ticks(5);
    EXPECT_EQ(record().phase, 3);
    tick();
    EXPECT_EQ(record().phase, 0);
    EXPECT_EQ(record().state, state::Error);
    EXPECT_EQ(link.takeSent(), bytes({0xFE, 0x02, 0xFE}));
    EXPECT_TRUE(logged(QStringLiteral(" ARX Hardware not responding check settings ")));
    ticks(5);
    EXPECT_EQ(errorCount(), 1);
}

TEST_F(ArxDetectTest, PromptInTheTwentyFifthTickIsTakenWithoutAskingAgain)
{
    openToPrompt();
    link.queue(marked("PASSWORD"), 25);
    ticks(25);
    EXPECT_EQ(link.takeSent(), QByteArray("SECRET\xFE"));
    EXPECT_EQ(page->interval(), 250);
}

TEST_F(ArxDetectTest, RejectedPasswordLogsOff)
{
    link.answer(bytes({0x01, 0xFE}), marked("PASSWORD"));
    link.answer("SECRET\xFE", marked("INVAILD PASSWORD"));
    openToPrompt();
    ticks(3);
    EXPECT_EQ(record().phase, 0);
    EXPECT_TRUE(link.sent().endsWith(bytes({0xFE, 0x02, 0xFE})));
    EXPECT_TRUE(logged(QStringLiteral(" ARX INVAILD PASSWORD             ")));
    EXPECT_EQ(errorCount(), 1);
}

// --- download --------------------------------------------------------------------

class ArxDownloadTest : public ArxPageTest {
protected:
    void writeDownload(const QByteArray &text, const QString &name = QStringLiteral("KM71.DLD"))
    {
        QDir(base.path()).mkpath(QStringLiteral("DLD"));
        QFile f(base.path() + QStringLiteral("/DLD/") + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    // Opens the link to a KM71 whose first check answers "BAD CHECKSUM", and
    // runs until the page leaves detection.
    void run(QList<QByteArray> checkAnswers = {marked("BAD CHECKSUM")})
    {
        scriptLogin("KM71");
        link.answerInTurn(check, checkAnswers);
        page->openLink();
        tickWhile(1);
        tickWhile(3);
    }
    static QByteArray line(const char *text) { return '\t' + QByteArray(text) + '\xFE'; }
    int count(const QByteArray &send) const { return int(link.sends().count(send)); }
    bool loggedOff() const { return link.sent().endsWith(bytes({0xFE, 0x02, 0xFE})); }

    const QByteArray check = bytes({0x05, '1', 'A', '2', 'B', 0xFE}); // 6699
};

TEST_F(ArxDownloadTest, GoodChecksumSkipsTheDownload)
{
    // Named as a Windows machine may have saved it: found all the same.
    writeDownload("6699\r\nS1AAA\r\n", QStringLiteral("km71.dld"));
    run({marked("GOOD CHECKSUM")});
    EXPECT_EQ(record().phase, 4);
    EXPECT_EQ(count(check), 1);
    EXPECT_EQ(count(line("S1AAA")), 0);
}

TEST_F(ArxDownloadTest, BadAnswersBelowFourSendTheLineAgain)
{
    writeDownload("6699 program checksum\r\nS1AAA\r\nS1BBB\r\n");
    const QByteArray bad = marked("BAD CHECKSUM"), good = marked("GOOD CHECKSUM");
    link.answerInTurn(line("S1AAA"), {bad, bad, bad, good});
    link.answerInTurn(line("S1BBB"), {bad, good}); // the last line, too, goes again
    run({bad, good});
    ASSERT_EQ(record().phase, 4);
    EXPECT_EQ(count(line("S1AAA")), 4);
    EXPECT_EQ(count(line("S1BBB")), 2);
    EXPECT_EQ(count(check), 2);
    EXPECT_EQ(session().linesSent(), 2);
    const QList<QByteArray> &s = link.sends();
    EXPECT_LT(s.lastIndexOf(line("S1AAA")), s.indexOf(line("S1BBB")));
    EXPECT_LT(s.lastIndexOf(line("S1BBB")), s.lastIndexOf(check));
    EXPECT_EQ(s.last(), bytes({0x04, 0xFE}));
    EXPECT_EQ(errorCount(), 0);
}

TEST_F(ArxDownloadTest, FourthBadAnswerFailsAndRestoresTheInterval)
{
    writeDownload("6699\r\nS1AAA\r\n");
    link.answer(line("S1AAA"), marked("BAD CHECKSUM"));
    run();
    EXPECT_EQ(record().state, state::Error);
    EXPECT_EQ(count(line("S1AAA")), 4);
    EXPECT_TRUE(loggedOff());
    EXPECT_TRUE(logged(QStringLiteral(" ARX Download Failed - BAD CHECKSUMS")));
    EXPECT_EQ(page->interval(), ConnectionPage::kStartInterval);
}

TEST_F(ArxDownloadTest, MissingFileEndsWithoutLogOffAndIdsStayInTheDirectory)
{
    run();
    EXPECT_EQ(record().state, state::Error);
    EXPECT_TRUE(logged(QStringLiteral(" ARX download file not found KM71.dld")));
    EXPECT_FALSE(link.sends().contains(bytes({0x02, 0xFE})));

    QStringList opened;
    session().setDownloadOpener([&](const QString &path) -> std::unique_ptr<QIODevice> {
        opened << path;
        return nullptr;
    });
    for (const char *id : {"../../etc/passwd", "KX99"}) {
        link.clearRules();
        scriptLogin(id);
        page->reconnect();
        tickWhile(1);
        tickWhile(3);
    }
    EXPECT_TRUE(logged(QStringLiteral(" ARX download file not found ../../etc/passwd.dld")));
    EXPECT_EQ(opened, QStringList{base.path() + QStringLiteral("/DLD/KX99.DLD")});
}

// A download file whose reads fail after its first bytes.
class FailingDevice : public QIODevice {
public:
    explicit FailingDevice(QByteArray good) : m_good(std::move(good)) { open(QIODevice::ReadOnly); }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return m_good.size() + 100 + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char *data, qint64 max) override
    {
        if (m_good.isEmpty())
            return -1;
        const qint64 n = qMin<qint64>(max, m_good.size());
        std::copy_n(m_good.constData(), n, data);
        m_good.remove(0, n);
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_good;
};

TEST_F(ArxDownloadTest, BrokenFilesFailWithoutHanging)
{
    // A first line that is no number: nothing is checked against it.
    writeDownload("checksum\r\nS1AAA\r\n");
    run();
    EXPECT_TRUE(logged(QStringLiteral(" ARX download file invalid KM71.dld")));
    EXPECT_EQ(count(bytes({0x05, '0', '0', '0', '0', 0xFE})), 0);
    EXPECT_TRUE(loggedOff());

    // A line far longer than any program record.
    link.clearRules();
    writeDownload("6699\r\n" + QByteArray(ArxSession::kMaxDownloadLine + 10, 'S') + "\r\n");
    run();
    EXPECT_EQ(errorCount(), 2);
    EXPECT_TRUE(logged(QStringLiteral(" ARX download failed")));
    for (const QByteArray &s : link.sends())
        EXPECT_LE(s.size(), ArxSession::kMaxDownloadLine + 2);

    // A read error in the middle of the download.
    link.clearRules();
    link.takeSent();
    session().setDownloadOpener(
        [](const QString &) { return std::make_unique<FailingDevice>("6699\r\nS1AAA\r\n"); });
    link.answer(line("S1AAA"), marked("GOOD CHECKSUM"));
    run();
    EXPECT_EQ(record().phase, 0);
    EXPECT_EQ(count(line("S1AAA")), 1);
    EXPECT_EQ(errorCount(), 3);
    EXPECT_TRUE(loggedOff());
}

} // namespace
