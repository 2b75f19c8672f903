// Finding the KX-71 and its programming phase, tick by tick.
#include "kx71_testpage.h"

namespace {

TEST_F(Kx71PageTest, SilentAnalyzerIsAskedAgainOnTheFourthAndEighthTickAndGivenUpAtTwelve)
{
    // A type with a blank after the model name is no match.
    link.answer("T\r", kxMarked("KX-71 "));
    page->openLink();
    tick(); // the link is open: detection
    EXPECT_EQ(record().phase, 2);
    tick();
    EXPECT_EQ(page->interval(), Kx71Session::kSlowTick);
    EXPECT_EQ(record().state, state::Connecting);
    EXPECT_EQ(link.takeSent(), QByteArray("D0\r"));
    tick();
    EXPECT_EQ(link.takeSent(), QByteArray("T\r"));
    for (int t = 1; t <= 12; ++t) {
        tick();
        EXPECT_EQ(link.takeSent(), (t == 4 || t == 8) ? QByteArray("T\r") : QByteArray()) << "tick " << t;
        EXPECT_EQ(record().phase, t < 12 ? 2 : 0) << "tick " << t;
    }
    EXPECT_EQ(record().state, state::Error);
    EXPECT_EQ(record().kxTypeReply, QByteArray("KX-71 "));
    EXPECT_TRUE(logged(QStringLiteral(" KX-71 not responding check settings ")));
}

TEST_F(Kx71PageTest, ProgrammingTakesThreeTicksAndKeepsHeadsAndVersion)
{
    // Found whatever the case of the name.
    writeFile(QStringLiteral("kxhc11.dld"), "1234 records\r\nKXHC11 uP\r\n01.23 rel\r\nS1...\r\n");
    writeFile(QStringLiteral("KXDSP.DLD"), "77\r\nKXDSP\r\nxx.45\r\n");
    link.answer("T\r", kxMarked("KX-71"), 5);
    link.answer("U\r", kxMarked("KX HC11 01.23    DSP  04.56"));
    page->openLink();
    for (int i = 0; i < 20 && record().phase != 3; ++i)
        tick();
    ASSERT_EQ(record().phase, 3);
    EXPECT_EQ(record().kxTypeReply, QByteArray("KX-71"));
    link.takeSent();
    ticks(2);
    EXPECT_EQ(record().phase, 3);
    EXPECT_EQ(link.takeSent(), QByteArray("U\r"));
    tick();
    EXPECT_EQ(record().phase, 4);
    EXPECT_EQ(link.takeSent(), QByteArray("D1\r"));
    EXPECT_TRUE(logged(QStringLiteral(" KX-71 Succesful Connection")));

    const Kx71Session::ProgramHead &hc = session().microHead(), &dsp = session().dspHead();
    EXPECT_EQ(hc.recordCount, 1234);
    EXPECT_EQ(hc.text, QStringLiteral("KXHC11 uP 01.23 rel"));
    EXPECT_EQ(hc.major, 1);
    EXPECT_EQ(hc.minor, 23);
    EXPECT_EQ(dsp.text, QStringLiteral("KXDSP xx.45"));
    EXPECT_FALSE(dsp.major.has_value());
    EXPECT_EQ(dsp.minor, 45);
    EXPECT_EQ(record().kxVersionReply, QByteArray("KX HC11 01.23    DSP  04.56"));
    EXPECT_EQ(session().versionParts().first, QByteArray("HC11 01.23"));
    EXPECT_EQ(session().versionParts().second, QByteArray("DSP  04.56"));
    EXPECT_EQ(session().versionParts().numbers[3], 56);
    ASSERT_EQ(page->hardwareRows().size(), 1);
    EXPECT_EQ(page->hardwareRows()[0],
              (HardwareRow{QStringLiteral(" KX-71  "), QStringLiteral(" KX-71 "), QStringLiteral("N/A"),
                           QStringLiteral("340000")}));
}

TEST(Kx71Version, ShortOrNonNumericRepliesGiveNoParts)
{
    const char *bad[] = {"", "KX HC11 01.23    DSP  04.5", "KX HC11 0x.23    DSP  04.56",
                         "KX HC11 01.23    DSP  04.5 ", "KX HC11 01.23    DSP  -4.56"};
    for (const char *reply : bad) {
        const Kx71Session::VersionParts p = Kx71Session::parseVersion(reply);
        EXPECT_TRUE(p.first.isEmpty() && p.second.isEmpty()) << reply;
        for (const auto &n : p.numbers)
            EXPECT_FALSE(n.has_value()) << reply;
    }
    const Kx71Session::VersionParts p = Kx71Session::parseVersion("KX HC11 01.23    DSP  04.56 and more");
    EXPECT_EQ(p.numbers, (std::array<std::optional<int>, 4>{1, 23, 4, 56}));
}

TEST_F(Kx71PageTest, MissingFilesAndVersionAreReportedAndTheStreamStarts)
{
    link.answer("T\r", kxMarked("KX-71"));
    link.answer("U\r", "KX 1"); // short, and never ended
    page->openLink();
    for (int i = 0; i < 20 && record().phase != 4; ++i)
        tick();
    ASSERT_EQ(record().phase, 4);
    EXPECT_TRUE(link.sent().endsWith("D1\r"));
    EXPECT_TRUE(logged(QStringLiteral("File not found:") + base.path() + QStringLiteral("/DLD/KXHC11.DLD")));
    EXPECT_TRUE(logged(QStringLiteral("File not found:") + base.path() + QStringLiteral("/DLD/KXDSP.DLD")));
    EXPECT_EQ(record().kxVersionReply, QByteArray("KX 1"));
    EXPECT_TRUE(session().versionParts().first.isEmpty());
    EXPECT_TRUE(session().microHead().text.isEmpty());
}

TEST_F(Kx71PageTest, DisconnectStopsTheStreamAndCloses)
{
    connectUnit();
    page->disconnectButton();
    EXPECT_EQ(link.takeSent(), QByteArray("D0\r"));
    EXPECT_EQ(record().phase, 0);
    EXPECT_EQ(record().state, state::Disconnected);
}

} // namespace
