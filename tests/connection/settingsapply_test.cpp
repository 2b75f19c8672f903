// The "Configure Connection" dialog's rules without the window: the Apply
// plan as one table, the plan carried out on a page, and the choices by
// hardware type.
#include "connection/connectionpage.h"
#include "connection/measurementlog.h"
#include "connection/settingsapply.h"
#include "core/messagelog.h"
#include "support/scriptedpage.h"

#include <QDir>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

namespace {

using settingsapply::Plan;

struct ApplyCase {
    const char *name;
    bool linkOpen;
    bool logOpen;
    std::function<void(ConnectionSettings &)> edit;
    Plan want; // closeLink, closeLog, openLog, openLink
};

ConnectionSettings stored()
{
    ConnectionSettings s = ConnectionSettings::defaults(1, QStringLiteral("/base"));
    s.connectionType = 1;
    s.ipAddress = QStringLiteral("10.0.0.5");
    s.portNumber = 2101;
    s.logEnabled = true;
    return s;
}

const ApplyCase kApplyCases[] = {
    {"PasswordOnlyLeavesTheLinkOpen", true, true, [](auto &s) { s.password = "NEWPASS"; }, {false, false, false, false}},
    {"NamesAndStartupAreNoLinkSettings", true, true,
     [](auto &s) { s.connectionName = "Studio A"; s.rackName = "R2"; s.autoConnect = true; s.autoReconnect = true; },
     {false, false, false, false}},
    {"IpChangeReopens", true, true, [](auto &s) { s.ipAddress = "10.0.0.6"; }, {true, false, false, true}},
    {"IpChangeOnClosedPageDoesNothing", false, true, [](auto &s) { s.ipAddress = "10.0.0.6"; }, {false, false, false, false}},
    {"ClosedPageWithConnectOnStartupOpens", false, true, [](auto &s) { s.autoConnect = true; }, {false, false, false, true}},
    {"HardwareTypeIsALinkSetting", true, true, [](auto &s) { s.hardwareType = 2; }, {true, false, false, true}},
    {"BaudIsALinkSetting", true, true, [](auto &s) { s.baudIndex = -1; }, {true, false, false, true}},
    {"LoggingOffClosesTheLog", true, true, [](auto &s) { s.logEnabled = false; }, {false, true, false, false}},
    {"PrefixChangeOpensANewFile", true, true, [](auto &s) { s.logPrefix = "StudioA-"; }, {false, true, true, false}},
    {"LoggingOnOpensTheLog", false, false, [](auto &) {}, {false, false, true, false}},
    // The path dialog gives "/base/LOG" for "/base/LOG/": the same directory, the same file.
    {"SameLogDirectoryOtherSpellingKeepsTheLog", true, true, [](auto &s) { s.logDirectory = "/base//LOG"; },
     {false, false, false, false}},
    {"OtherLogDirectoryOpensANewFile", true, true, [](auto &s) { s.logDirectory = "/base/LOG2/"; },
     {false, true, true, false}},
};

class ApplyRules : public ::testing::TestWithParam<ApplyCase> {};

TEST_P(ApplyRules, Plan)
{
    const ApplyCase &c = GetParam();
    ConnectionSettings edited = stored();
    c.edit(edited);
    EXPECT_EQ(settingsapply::plan(stored(), edited, c.linkOpen, c.logOpen), c.want);
}

INSTANTIATE_TEST_SUITE_P(Table, ApplyRules, ::testing::ValuesIn(kApplyCases),
                         [](const auto &info) { return std::string(info.param.name); });

struct ChoiceCase {
    int hardwareType;
    int storedConnection, storedBaud;
    QStringList connections;
    int connectionIndex;
    QStringList bauds;
    int baudIndex;
    bool notes;
};

TEST(DialogChoices, ByHardwareTypeFromTheStoredValues)
{
    const QString rs = "RS-232  - Serial", net = "Network - Ethernet";
    const ChoiceCase cases[] = {
        {0, 2, 3, {rs, net, "MODEM"}, 2, {"1200", "2400", "4800", "9600"}, 3, false},
        {0, 0, 7, {rs, net, "MODEM"}, 0, {"1200", "2400", "4800", "9600"}, -1, false},
        {1, 2, 3, {rs, net}, 1, {"57600"}, 0, false},
        {2, 2, 3, {rs, net}, 1, {"57600", "115200"}, -1, true}, // beyond the choices: none selected
        {2, 0, 1, {rs, net}, 0, {"57600", "115200"}, 1, true},
        {3, 2, 0, {rs, net}, 1, {"115200"}, 0, false},
    };
    for (const ChoiceCase &c : cases) {
        ConnectionSettings s;
        s.connectionType = c.storedConnection;
        s.baudIndex = c.storedBaud;
        const settingsapply::Choices got = settingsapply::choices(c.hardwareType, s);
        SCOPED_TRACE(c.hardwareType);
        EXPECT_EQ(got.connections, c.connections);
        EXPECT_EQ(got.connectionIndex, c.connectionIndex);
        EXPECT_EQ(got.bauds, c.bauds);
        EXPECT_EQ(got.baudIndex, c.baudIndex);
        EXPECT_EQ(got.hdBaudNotes, c.notes);
    }
}

// The plan carried out on a page with a link that opens at once.
class ApplyOnPage : public ScriptedPageTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir(base.path()).mkpath("LOG"));
        page = freshPage(1, link);
    }
    QStringList logFiles() const { return QDir(base.path() + "/LOG").entryList(QDir::Files, QDir::Name); }
};

TEST_F(ApplyOnPage, LinkAndLogFollowThePlan)
{
    ConnectionSettings s = page->settings();
    s.autoConnect = true;
    s.logEnabled = true;
    Plan p = settingsapply::apply(*page, s);
    EXPECT_TRUE(p.openLink && p.openLog);
    EXPECT_TRUE(page->record().portOpen);
    EXPECT_EQ(page->record().phase, 1);
    EXPECT_EQ(logFiles().size(), 1);

    s.logPrefix = "StudioA-";
    clock.advanceMs(2000); // a new file name
    settingsapply::apply(*page, s);
    EXPECT_EQ(logFiles().size(), 2);
    EXPECT_TRUE(page->measurementLog().fileName().contains("StudioA-"));


    // A baud left without a selection stores -1 and keeps the baud code.
    const int code = page->baudCode();
    s.hardwareType = 2;
    s.baudIndex = -1;
    p = settingsapply::apply(*page, s);
    EXPECT_TRUE(p.closeLink && p.openLink);
    EXPECT_EQ(page->settings().baudIndex, -1);
    EXPECT_EQ(page->baudCode(), code);
    EXPECT_TRUE(page->record().portOpen);
}

} // namespace
