// Finding the KX-71 and its programming phase, tick by tick.
#include "kx71_testpage.h"

#include <QDir>
#include <QFile>

namespace {

TEST_F(Kx71PageTest, SilentAnalyzerIsAskedAgainOnTheFourthAndEighthTickAndGivenUpAtTwelve)
{
    // A type with a blank after the model name is no match.
    link.answer("T\r", kxMarked("KX-71 "));
    page->openLink();
    ticks(2); // the link is open; step 0
    EXPECT_EQ(page->interval(), Kx71Session::kSlowTick);
    EXPECT_EQ(record().state, state::Connecting);
    EXPECT_EQ(link.takeSent(), QByteArray("D0\r"));
    ticks();
    EXPECT_EQ(link.takeSent(), QByteArray("T\r"));
    for (int t = 1; t <= 12; ++t) {
        ticks();
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
    QDir(base.path()).mkpath(QStringLiteral("DLD"));
    for (const auto &[name, text] : {std::pair{"kxhc11.dld", "1234 records\r\nKXHC11 uP\r\n01.23 rel\r\nS1..\r\n"},
                                     std::pair{"KXDSP.DLD", "77\r\nKXDSP\r\nxx.45\r\n"}}) {
        QFile f(base.path() + QStringLiteral("/DLD/") + QLatin1String(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(text) > 0);
    }
    link.answer("T\r", kxMarked("KX-71"), 5);
    link.answer("U\r", kxMarked("KX HC11 01.23    DSP  04.56"));
    page->openLink();
    for (int i = 0; i < 20 && record().phase != 3; ++i)
        ticks();
    ASSERT_EQ(record().phase, 3);
    link.takeSent();
    ticks(2);
    EXPECT_EQ(record().phase, 3);
    EXPECT_EQ(link.takeSent(), QByteArray("U\r"));
    ticks();
    EXPECT_EQ(record().phase, 4);
    EXPECT_EQ(link.takeSent(), QByteArray("D1\r"));
    EXPECT_TRUE(logged(QStringLiteral(" KX-71 Succesful Connection")));

    const Kx71Session::ProgramHead &hc = session().microHead(), &dsp = session().dspHead();
    EXPECT_EQ(hc.recordCount, 1234);
    EXPECT_EQ(hc.text, QStringLiteral("KXHC11 uP 01.23 rel"));
    EXPECT_TRUE(hc.major == 1 && hc.minor == 23);
    EXPECT_EQ(dsp.text, QStringLiteral("KXDSP xx.45"));
    EXPECT_TRUE(!dsp.major && dsp.minor == 45);
    EXPECT_EQ(session().versionParts().first, QByteArray("HC11 01.23"));
    EXPECT_EQ(session().versionParts().second, QByteArray("DSP  04.56"));
    EXPECT_EQ(page->hardwareRows(), (QList<HardwareRow>{{QStringLiteral(" KX-71  "), QStringLiteral(" KX-71 "),
                                                         QStringLiteral("N/A"), QStringLiteral("340000")}}));
}

TEST(Kx71Version, ShortOrNonNumericRepliesGiveNoParts)
{
    for (const char *reply : {"", "KX HC11 01.23    DSP  04.5", "KX HC11 0x.23    DSP  04.56",
                              "KX HC11 01.23    DSP  04.5 ", "KX HC11 01.23    DSP  -4.56"}) {
        const Kx71Session::VersionParts p = Kx71Session::parseVersion(reply);
        EXPECT_TRUE(p.first.isEmpty() && p.second.isEmpty()) << reply;
        EXPECT_EQ(p.numbers, Kx71Session::VersionParts().numbers) << reply;
    }
    EXPECT_EQ(Kx71Session::parseVersion("KX HC11 01.23    DSP  04.56 and more").numbers,
              (std::array<std::optional<int>, 4>{1, 23, 4, 56}));
}

TEST_F(Kx71PageTest, MissingFilesAndVersionAreReportedAndTheStreamStarts)
{
    connectUnit("KX 1"); // short, and never ended
    EXPECT_TRUE(logged(QStringLiteral("File not found:") + base.path() + QStringLiteral("/DLD/KXHC11.DLD")));
    EXPECT_TRUE(logged(QStringLiteral("File not found:") + base.path() + QStringLiteral("/DLD/KXDSP.DLD")));
    EXPECT_EQ(record().kxVersionReply, QByteArray("KX 1"));
    EXPECT_TRUE(session().versionParts().first.isEmpty() && session().microHead().text.isEmpty());

    page->disconnectButton();
    EXPECT_EQ(link.takeSent(), QByteArray("D0\r"));
    EXPECT_EQ(record().state, state::Disconnected);
}

} // namespace
