// Download files: heads and lines, versions, the file each unit takes, and
// the serial-number record.
#include "update/downloadfile.h"
#include "update/firmwarefiles.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using downloadfile::LineRead;

std::unique_ptr<QIODevice> buffer(const QByteArray &content)
{
    auto b = std::make_unique<QBuffer>();
    b->setData(content);
    b->open(QIODevice::ReadOnly);
    return b;
}

TEST(DownloadFile, HeadThenLinesThenEnd)
{
    downloadfile::File f(buffer("12 records\r\nV04.05 BOOT\r\nV04.06\r\nS00600004844521B\r\nS9030000FC"), "X.DLD");
    downloadfile::Head head;
    ASSERT_TRUE(downloadfile::readHead(f, 2, &head));
    EXPECT_EQ(head.count, 12);
    EXPECT_EQ(head.version1, "V04.05 BOOT");
    EXPECT_EQ(head.version2, "V04.06");
    QByteArray line;
    EXPECT_EQ(f.readLine(&line), LineRead::Ok);
    EXPECT_EQ(line, "S00600004844521B");
    EXPECT_EQ(f.readLine(&line), LineRead::Ok); // the last line needs no line end
    EXPECT_EQ(line, "S9030000FC");
    EXPECT_EQ(f.readLine(&line), LineRead::End);
}

TEST(DownloadFile, BrokenHeadsAndLines)
{
    const struct {
        QByteArray content;
        int versionLines;
        bool headOk;
    } cases[] = {
        {"count\r\n", 0, false},         // line 1 is no number
        {"99999999999\r\n", 0, false},   // out of range
        {"  -7 x\r\n", 0, true},         // blanks, sign, rest ignored
        {"5\r\nV01.00\r\n", 2, false},   // a version line missing
        {"", 0, false},
    };
    for (const auto &c : cases) {
        downloadfile::File f(buffer(c.content), "X.DLD");
        downloadfile::Head head;
        EXPECT_EQ(downloadfile::readHead(f, c.versionLines, &head), c.headOk) << c.content.constData();
    }
    downloadfile::File longLine(buffer("1\r\n" + QByteArray(downloadfile::kMaxLine + 1, 'S') + "\r\n"), "X.DLD");
    downloadfile::Head head;
    ASSERT_TRUE(downloadfile::readHead(longLine, 0, &head));
    QByteArray line;
    EXPECT_EQ(longLine.readLine(&line), LineRead::Broken);
    downloadfile::File closed;
    EXPECT_EQ(closed.readLine(&line), LineRead::Broken);
}

TEST(DownloadFile, NamesResolveAsNamedOrWhateverTheirCase)
{
    QTemporaryDir base;
    QDir(base.path()).mkpath(QStringLiteral("DLD"));
    for (const char *name : {"DLD/KH71_KYO.DLD", "DLD/kf71_b.dld"}) {
        QFile f(base.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("1\r\n");
    }
    const QString kyo = downloadfile::fullName(base.path(), QString::fromLatin1(downloadfile::kKh71Kyocera));
    EXPECT_EQ(kyo, base.path() + QStringLiteral("/DLD/KH71_KYO.DLD"));
    EXPECT_EQ(downloadfile::existingFile(kyo), kyo);
    EXPECT_EQ(downloadfile::existingFile(downloadfile::fullName(base.path(), QString::fromLatin1(downloadfile::kKf71B))),
              base.filePath(QStringLiteral("DLD/kf71_b.dld")));
    EXPECT_TRUE(downloadfile::existingFile(downloadfile::fullName(base.path(), QString::fromLatin1(downloadfile::kXport))).isEmpty());
    EXPECT_TRUE(downloadfile::existingFile(base.filePath(QStringLiteral("DLD/*.DLD"))).isEmpty());
    EXPECT_TRUE(downloadfile::open(kyo));
    downloadfile::File opened = downloadfile::File::open(downloadfile::fullName(base.path(), QStringLiteral("DLD/KF71_B.DLD")));
    EXPECT_TRUE(opened.isOpen());
    EXPECT_EQ(opened.name(), base.path() + QStringLiteral("/DLD/KF71_B.DLD"));
}

// Version texts and the file a unit takes, as the dialogs decide them.
TEST(FirmwareFiles, VersionsAndFileChoice)
{
    const struct {
        const char *text;
        std::optional<double> version;   // parseVersion
        std::optional<double> hdVersion; // the HD dialog's reading
    } versions[] = {
        {"2.18", std::nullopt, std::nullopt},
        {"02.18", 2.18, 2.18},
        {"V02.18 extra", 2.18, 2.18},
        {"SW 4.03", 4.03, 4.03},
        {"BETA", std::nullopt, 2.18},
        {"1.0BETA", std::nullopt, 2.18},
        {"XX.YY BETA", std::nullopt, std::nullopt}, // a point, but no number
        {"", std::nullopt, std::nullopt},
        {"AB.CD", std::nullopt, std::nullopt},
        {"12.3", 12.3, 12.3},
    };
    for (const auto &v : versions) {
        EXPECT_EQ(firmware::parseVersion(v.text), v.version) << v.text;
        EXPECT_EQ(firmware::hdUnitVersion(v.text), v.hdVersion) << v.text;
    }

    // HD units by version.
    EXPECT_EQ(firmware::hdFiles(2.18)->file, QStringLiteral("DLD/KH71_HAN.DLD"));
    EXPECT_EQ(firmware::hdFiles(2.15)->display, firmware::Display::Hantronix);
    EXPECT_EQ(firmware::hdFiles(3.0)->file, QStringLiteral("DLD/KH71_KYO.DLD"));
    EXPECT_FALSE(firmware::hdFiles(2.14));
    // KH-71 by display type; KF-71.
    EXPECT_EQ(firmware::kh71Files(1)->fileB, QStringLiteral("DLD/KH71_HANB.DLD"));
    EXPECT_EQ(firmware::kh71Files(2)->file, QStringLiteral("DLD/KH71_KYO.DLD"));
    EXPECT_EQ(firmware::displayName(firmware::kh71Files(2)->display), QStringLiteral("KYOCERA"));
    EXPECT_FALSE(firmware::kh71Files(0));
    EXPECT_FALSE(firmware::kh71Files(3));
    EXPECT_EQ(firmware::kf71Files().fileB, QStringLiteral("DLD/KF71_B.DLD"));
    // The "B" thresholds, exactly.
    EXPECT_GE(*firmware::parseVersion("04.03"), firmware::kKh71BVersion);
    EXPECT_LT(*firmware::parseVersion("04.02"), firmware::kKh71BVersion);
    EXPECT_GE(*firmware::parseVersion("01.18"), firmware::kKf71BVersion);
    EXPECT_LT(*firmware::parseVersion("01.17"), firmware::kKf71BVersion);
    // Same is not newer.
    EXPECT_FALSE(firmware::isNewer(*firmware::parseVersion("04.03"), *firmware::parseVersion("V04.03")));
    EXPECT_TRUE(firmware::isNewer(*firmware::parseVersion("04.04"), 4.03));
}

TEST(FirmwareFiles, SerialNumberRecord)
{
    EXPECT_EQ(firmware::serialRecord(1, 2, 3), QByteArray("S20800200900010203C8"));
    EXPECT_EQ(firmware::serialRecord(0, 0, 0), QByteArray("S20800200900000000CE"));
    EXPECT_EQ(firmware::serialRecord(4, 5, 6), QByteArray("S20800200900040506BF"));
}

} // namespace
