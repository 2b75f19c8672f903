#include "arx_testpage.h"

#include "connection/measurementlog.h"
#include "core/datetime.h"

#include <QBuffer>
#include <QDir>
#include <QFile>

namespace {

class ArxDetectTest : public ArxPageTest {
protected:
    // Opens the link and runs phase 1, step 0 and step 1: the prompt request is out.
    void openToPrompt()
    {
        page->openLink();
        ticks(3);
        ASSERT_EQ(record().detectStep, 2);
    }
};

TEST_F(ArxDetectTest, UnitLogsInIdentifiesAndStarts)
{
    scriptLogin("KS71");
    page->openLink();
    tick(); // phase 1 sees the open port
    EXPECT_EQ(record().phase, 3);
    tick(); // step 0
    EXPECT_EQ(link.sends().value(0), arxBytes({0x03, 0xFE}));
    EXPECT_EQ(page->interval(), 250);
    EXPECT_EQ(record().savedInterval, ConnectionPage::kStartInterval);
    EXPECT_EQ(record().state, state::Connecting);
    ASSERT_TRUE(tickUntilPhase(4));

    const QList<QByteArray> expected = {
        arxBytes({0x03, 0xFE}), arxBytes({0x01, 0xFE}), QByteArray("SECRET\xFE"),
        arxBytes({0x07, 0xFE}), arxBytes({0x04, 0xFE}),
    };
    EXPECT_EQ(link.sends(), expected);
    EXPECT_FALSE(record().viaRelay);
    EXPECT_EQ(record().modelId, QByteArray("KS71"));
    EXPECT_EQ(record().unitType, 2);
    EXPECT_EQ(record().unitFamily, 0);
    EXPECT_EQ(page->interval(), 50);
    EXPECT_TRUE(logged(QStringLiteral(" ARX Succesful Connection"), LogLevel::Status));
    EXPECT_EQ(errorCount(), 0);
}

TEST_F(ArxDetectTest, RelayWordsAreTestedBeforeTheUnitWords)
{
    scriptLogin("KM71", "SPASSWORD");
    page->openLink();
    ASSERT_TRUE(tickUntilPhase(4));
    // 00, password, FE; and a relay's KM71 needs no download check.
    EXPECT_TRUE(link.sends().contains(QByteArray(1, '\0') + "SECRET\xFE"));
    EXPECT_FALSE(link.sends().contains(QByteArray("SECRET\xFE")));
    EXPECT_TRUE(record().viaRelay);
    EXPECT_EQ(record().modelId, QByteArray("KM71"));
    EXPECT_EQ(record().unitFamily, 0);
}

TEST_F(ArxDetectTest, ValidWithoutPromptSkipsThePassword)
{
    link.answer(arxBytes({0x01, 0xFE}), marked("SVALID"));
    link.answer(arxBytes({0x07, 0xFE}), marked("KA72"));
    openToPrompt();
    tick();
    EXPECT_EQ(record().detectStep, 4);
    EXPECT_EQ(page->interval(), 100);
    EXPECT_TRUE(record().viaRelay);
    ASSERT_TRUE(tickUntilPhase(4));
    EXPECT_EQ(record().unitType, 34);
    EXPECT_EQ(record().unitFamily, 3);
    EXPECT_EQ(session().amSubType(), 2);

    // A plain "VALID" on the next connection clears ViaRelay again.
    link.clearRules();
    link.answer(arxBytes({0x01, 0xFE}), marked("VALID"));
    page->reconnect();
    ticks(4);
    EXPECT_EQ(record().detectStep, 4);
    EXPECT_FALSE(record().viaRelay);
}

TEST_F(ArxDetectTest, SilentUnitIsAskedAgainAtTick25AndGivenUpAt31)
{
    openToPrompt();
    link.takeSent();
    ticks(24);
    EXPECT_TRUE(link.sent().isEmpty());
    EXPECT_EQ(page->interval(), 250);
    tick(); // 25
    EXPECT_EQ(link.takeSent(), arxBytes({0xFE, 0x01, 0xFE}));
    EXPECT_EQ(page->interval(), 1000);
    ticks(5); // 30
    EXPECT_EQ(record().phase, 3);
    EXPECT_EQ(errorCount(), 0);
    tick(); // 31
    EXPECT_EQ(record().phase, 0);
    EXPECT_EQ(record().state, state::Error);
    EXPECT_EQ(link.takeSent(), arxBytes({0xFE, 0x02, 0xFE}));
    EXPECT_TRUE(logged(QStringLiteral(" ARX Hardware not responding check settings ")));
    ticks(5);
    EXPECT_EQ(errorCount(), 1);
    EXPECT_TRUE(link.sent().isEmpty());
}

TEST_F(ArxDetectTest, PromptInTheTwentyFifthTickIsTakenWithoutAskingAgain)
{
    openToPrompt();
    link.takeSent();
    link.queue(marked("PASSWORD"), 25);
    ticks(25);
    EXPECT_EQ(link.takeSent(), QByteArray("SECRET\xFE"));
    EXPECT_EQ(record().detectStep, 3);
    EXPECT_EQ(page->interval(), 250);
}

TEST_F(ArxDetectTest, RejectedPasswordLogsOff)
{
    link.answer(arxBytes({0x01, 0xFE}), marked("PASSWORD"));
    link.answer(QByteArray("SECRET\xFE"), marked("INVAILD PASSWORD"));
    openToPrompt();
    ticks(3);
    EXPECT_EQ(record().phase, 0);
    EXPECT_EQ(record().state, state::Error);
    EXPECT_TRUE(link.sent().endsWith(arxBytes({0xFE, 0x02, 0xFE})));
    EXPECT_TRUE(logged(QStringLiteral(" ARX INVAILD PASSWORD             ")));
    EXPECT_EQ(errorCount(), 1);
}

TEST_F(ArxDetectTest, NoLevelAnswerFailsAfterElevenTicks)
{
    link.answer(arxBytes({0x01, 0xFE}), marked("PASSWORD"));
    openToPrompt();
    tick(); // the prompt: password sent, step 3
    ASSERT_EQ(record().detectStep, 3);
    ticks(10);
    EXPECT_EQ(record().phase, 3);
    tick();
    EXPECT_EQ(record().phase, 0);
    EXPECT_TRUE(logged(QStringLiteral(" ARX password verification failed ")));
}

TEST_F(ArxDetectTest, IdentifyIsRepeatedAt25AndFailsAt51)
{
    link.answer(arxBytes({0x01, 0xFE}), marked("VALID"));
    openToPrompt();
    ticks(2); // step 2 answered, step 4 sends 07 FE
    ASSERT_EQ(record().detectStep, 5);
    link.takeSent();
    ticks(24);
    EXPECT_TRUE(link.sent().isEmpty());
    tick();
    EXPECT_EQ(link.takeSent(), arxBytes({0xFE, 0x07, 0xFE}));
    ticks(25);
    EXPECT_EQ(record().phase, 3);
    tick();
    EXPECT_EQ(record().phase, 0);
    EXPECT_TRUE(logged(QStringLiteral(" ARX hardware not responding")));
}

// --- download --------------------------------------------------------------------

class ArxDownloadTest : public ArxDetectTest {
protected:
    void writeDownload(const QByteArray &text, const char *name = "KM71.DLD")
    {
        QDir(base.path()).mkpath(QStringLiteral("DLD"));
        QFile f(base.path() + QStringLiteral("/DLD/") + QLatin1String(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    static QByteArray line(const char *text) { return QByteArray(1, '\t') + text + '\xFE'; }
    static QByteArray check() { return arxBytes({0x05, '1', 'A', '2', 'B', 0xFE}); } // 6699
    int count(const QByteArray &send) const { return int(link.sends().count(send)); }
};

TEST_F(ArxDownloadTest, GoodChecksumSkipsTheDownload)
{
    writeDownload("6699\r\nS1LINE\r\n");
    scriptLogin("KM71");
    link.answer(check(), marked("GOOD CHECKSUM"));
    page->openLink();
    ASSERT_TRUE(tickUntilPhase(4));
    EXPECT_EQ(count(check()), 1);
    EXPECT_EQ(count(line("S1LINE")), 0);
    EXPECT_EQ(session().downloadValue(), 6699);
    EXPECT_TRUE(logged(QStringLiteral(" ARX Succesful Connection"), LogLevel::Status));
}

TEST_F(ArxDownloadTest, ThreeBadAnswersThenGoodContinue)
{
    writeDownload("6699 program checksum\r\nS1AAA\r\nS1BBB\r\n");
    scriptLogin("KM71");
    link.answerInTurn(check(), {marked("BAD CHECKSUM"), marked("GOOD CHECKSUM")});
    link.answerInTurn(line("S1AAA"), {marked("BAD CHECKSUM"), marked("BAD CHECKSUM"), marked("BAD CHECKSUM"),
                                      marked("GOOD CHECKSUM")});
    link.answer(line("S1BBB"), marked("GOOD CHECKSUM"));
    page->openLink();
    bool sawDownloading = false;
    for (int i = 0; i < 200 && record().phase != 4; ++i) {
        tick();
        sawDownloading |= record().state == state::Downloading;
    }
    ASSERT_EQ(record().phase, 4);
    EXPECT_TRUE(sawDownloading);
    EXPECT_EQ(count(line("S1AAA")), 4);
    EXPECT_EQ(count(line("S1BBB")), 1);
    EXPECT_EQ(count(check()), 2);
    EXPECT_EQ(session().linesSent(), 2);
    // The lines go in order, the final check after the last one, then the start.
    const QList<QByteArray> &s = link.sends();
    EXPECT_LT(s.lastIndexOf(line("S1AAA")), s.indexOf(line("S1BBB")));
    EXPECT_LT(s.indexOf(line("S1BBB")), s.lastIndexOf(check()));
    EXPECT_EQ(s.last(), arxBytes({0x04, 0xFE}));
    EXPECT_EQ(errorCount(), 0);
}

TEST_F(ArxDownloadTest, FourthBadAnswerFailsAndRestoresTheInterval)
{
    writeDownload("6699\r\nS1AAA\r\n");
    scriptLogin("KM71");
    link.answer(check(), marked("BAD CHECKSUM"));
    link.answer(line("S1AAA"), marked("BAD CHECKSUM"));
    page->openLink();
    for (int i = 0; i < 100 && record().phase != 0; ++i)
        tick();
    EXPECT_EQ(record().phase, 0);
    EXPECT_EQ(record().state, state::Error);
    EXPECT_EQ(count(line("S1AAA")), 4);
    EXPECT_EQ(session().badChecksums(), 4);
    EXPECT_TRUE(link.sent().endsWith(arxBytes({0xFE, 0x02, 0xFE})));
    EXPECT_TRUE(logged(QStringLiteral(" ARX Download Failed - BAD CHECKSUMS")));
    EXPECT_EQ(page->interval(), ConnectionPage::kStartInterval);
    EXPECT_EQ(errorCount(), 1);
}

TEST_F(ArxDownloadTest, BadAnswerForTheLastLineSendsItAgain)
{
    writeDownload("6699\r\nS1LAST\r\n");
    scriptLogin("KM71");
    link.answerInTurn(check(), {marked("BAD CHECKSUM"), marked("GOOD CHECKSUM")});
    link.answerInTurn(line("S1LAST"), {marked("BAD CHECKSUM"), marked("GOOD CHECKSUM")});
    page->openLink();
    ASSERT_TRUE(tickUntilPhase(4));
    EXPECT_EQ(count(line("S1LAST")), 2);
    EXPECT_EQ(errorCount(), 0);
}

TEST_F(ArxDownloadTest, UnansweredLineGoesAgainAt25AndFailsAt51)
{
    writeDownload("6699\r\nS1AAA\r\n");
    scriptLogin("KM71");
    link.answer(check(), marked("BAD CHECKSUM"));
    page->openLink();
    for (int i = 0; i < 100 && record().detectStep != 8; ++i)
        tick();
    ASSERT_EQ(record().detectStep, 8);
    link.takeSent();
    ticks(24);
    EXPECT_TRUE(link.sent().isEmpty());
    tick(); // 25: FE, then step 7 sends the line again
    tick();
    EXPECT_EQ(link.takeSent(), QByteArray("\xFE") + line("S1AAA"));
    ticks(25); // the count went on: 50
    EXPECT_EQ(record().phase, 3);
    tick(); // 51
    EXPECT_EQ(record().phase, 0);
    EXPECT_TRUE(logged(QStringLiteral(" ARX download failed")));
    EXPECT_EQ(page->interval(), ConnectionPage::kStartInterval);
}

TEST_F(ArxDownloadTest, FinalCheckNotGoodFails)
{
    writeDownload("6699\r\nS1AAA\r\n");
    scriptLogin("KM71");
    link.answer(check(), marked("BAD CHECKSUM"));
    link.answer(line("S1AAA"), marked("GOOD CHECKSUM"));
    page->openLink();
    for (int i = 0; i < 100 && record().phase != 0; ++i)
        tick();
    EXPECT_EQ(record().phase, 0);
    EXPECT_EQ(count(check()), 2);
    EXPECT_TRUE(logged(QStringLiteral(" ARX download failed")));
}

TEST_F(ArxDownloadTest, MissingFileEndsWithoutLogOff)
{
    scriptLogin("KM71");
    page->openLink();
    for (int i = 0; i < 50 && record().phase != 0; ++i)
        tick();
    EXPECT_EQ(record().phase, 0);
    EXPECT_EQ(record().state, state::Error);
    EXPECT_TRUE(logged(QStringLiteral(" ARX download file not found KM71.dld")));
    EXPECT_FALSE(link.sends().contains(arxBytes({0x02, 0xFE})));
    EXPECT_EQ(record().modelId, QByteArray("KM71"));
}

TEST_F(ArxDownloadTest, UnknownIdIsLookedUpButNeverOutsideTheDirectory)
{
    QStringList opened;
    session().setDownloadOpener([&](const QString &path) -> std::unique_ptr<QIODevice> {
        opened << path;
        return nullptr;
    });
    scriptLogin("../../etc/passwd");
    page->openLink();
    for (int i = 0; i < 50 && record().phase != 0; ++i)
        tick();
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_TRUE(logged(QStringLiteral(" ARX download file not found ../../etc/passwd.dld")));
    EXPECT_TRUE(record().modelId.isEmpty());

    link.clearRules();
    scriptLogin("KX99");
    page->reconnect();
    for (int i = 0; i < 50 && record().phase != 0; ++i)
        tick();
    EXPECT_EQ(opened, QStringList{ArxSession::downloadPath(base.path(), "KX99")});
    EXPECT_TRUE(opened.value(0).endsWith(QStringLiteral("/DLD/KX99.DLD")));
}

TEST_F(ArxDownloadTest, NonNumericFirstLineIsRefused)
{
    writeDownload("checksum\r\nS1AAA\r\n");
    scriptLogin("KM71");
    page->openLink();
    for (int i = 0; i < 50 && record().phase != 0; ++i)
        tick();
    EXPECT_EQ(record().state, state::Error);
    EXPECT_TRUE(logged(QStringLiteral(" ARX download file invalid KM71.dld")));
    EXPECT_FALSE(link.sends().contains(arxBytes({0x05, '0', '0', '0', '0', 0xFE})));
    EXPECT_TRUE(link.sent().endsWith(arxBytes({0xFE, 0x02, 0xFE})));
}

TEST_F(ArxDownloadTest, OverlongLineFailsTheDownload)
{
    writeDownload("6699\r\n" + QByteArray(ArxSession::kMaxDownloadLine + 10, 'S') + "\r\nS1BBB\r\n");
    scriptLogin("KM71");
    link.answer(check(), marked("BAD CHECKSUM"));
    page->openLink();
    for (int i = 0; i < 100 && record().phase != 0; ++i)
        tick();
    EXPECT_EQ(record().phase, 0);
    EXPECT_TRUE(logged(QStringLiteral(" ARX download failed")));
    EXPECT_TRUE(link.sent().endsWith(arxBytes({0xFE, 0x02, 0xFE})));
    for (const QByteArray &s : link.sends())
        EXPECT_LE(s.size(), ArxSession::kMaxDownloadLine + 2);
}

// A download file whose reads fail after its first bytes.
class FailingDevice : public QIODevice {
public:
    explicit FailingDevice(QByteArray good) : m_good(std::move(good)) {}
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return m_good.size() + 100 + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char *data, qint64 max) override
    {
        if (m_good.isEmpty()) {
            setErrorString(QStringLiteral("Input/output error"));
            return -1;
        }
        const qint64 n = qMin<qint64>(max, m_good.size());
        std::copy_n(m_good.constData(), n, data);
        m_good.remove(0, n);
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_good;
};

TEST_F(ArxDownloadTest, ReadErrorMidDownloadFailsInsteadOfHanging)
{
    session().setDownloadOpener([](const QString &) -> std::unique_ptr<QIODevice> {
        auto d = std::make_unique<FailingDevice>("6699\r\nS1AAA\r\n");
        d->open(QIODevice::ReadOnly);
        return d;
    });
    scriptLogin("KM71");
    link.answer(check(), marked("BAD CHECKSUM"));
    link.answer(line("S1AAA"), marked("GOOD CHECKSUM"));
    page->openLink();
    for (int i = 0; i < 100 && record().phase != 0; ++i)
        tick();
    EXPECT_EQ(record().phase, 0);
    EXPECT_EQ(count(line("S1AAA")), 1);
    EXPECT_TRUE(logged(QStringLiteral(" ARX download failed")));
    EXPECT_TRUE(link.sent().endsWith(arxBytes({0xFE, 0x02, 0xFE})));
}

} // namespace
