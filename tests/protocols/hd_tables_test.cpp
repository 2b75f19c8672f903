// Spot checks of the unit code names: the texts as the units spell them,
// the table sizes, and codes the tables do not name.
#include "protocols/hd/hdtables.h"

#include <gtest/gtest.h>

using hdtables::Table;

TEST(HdTables, TextsAsTheUnitsSpellThem)
{
    struct Case {
        Table table;
        int index;
        const char *text;
    };
    const Case cases[] = {
        {Table::Genre, 33, "Instrumental"},
        {Table::Genre, 46, "Instrumental"},
        {Table::Genre, 47, "Intrumental Rock"},
        {Table::Genre, 56, "Southern Roack"},
        {Table::Genre, 125, "Dance Hall"},
        {Table::TimeValue, 0, "0.25"},
        {Table::TimeValue, 1, "0.5 "},
        {Table::KfTimeValue, 10, "5.0 "},
        {Table::ProgrammeType, 23, "College"},
        {Table::ProgrammeType, 24, "Unassigned"},
        {Table::ProgrammeType, 85, "Private Services C"},
        {Table::ProgrammeType, 89, "Unassigned"},
        {Table::TestSignal, 3, "Left    1Hz     90%"},
        {Table::KfTestSignal, 5, "Left  11kHz   90%"},
        {Table::MonitorSource, 0, " Mute"},
        {Table::MonitorSource, 37, " D1  L"},
        {Table::MonitorSource, 56, "TST -10dB"},
        {Table::AlarmName, 0, "    Not Assigned         "},
        {Table::KfAlarmName, 12, "      CD/NO              "},
        {Table::KfMonitorSource, 2, " Left(*)"},
        {Table::KfMonitorSource, 14, "Test -6 dB"},
        {Table::KfReceptionMode, 4, "HD -50dB MP3"},
        {Table::KfCompositeModeShort, 1, "Stereo+67kHz"},
        {Table::KfCompositeMode, 2, "Stereo + 92 kHz SCA"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(hdtables::text(c.table, c.index), QString::fromLatin1(c.text))
            << int(c.table) << " " << c.index;
}

TEST(HdTables, SizesAndUnnamedCodes)
{
    const std::pair<Table, int> sizes[] = {
        {Table::RfInput, 2}, {Table::TestSignal, 7}, {Table::Timer, 6}, {Table::MonitorSource, 57},
        {Table::AlarmName, 13}, {Table::Genre, 126}, {Table::ProgrammeType, 90},
        {Table::KfReceptionMode, 5}, {Table::KfMonitorSource, 15},
    };
    for (const auto &[table, size] : sizes) {
        EXPECT_EQ(hdtables::size(table), size) << int(table);
        EXPECT_FALSE(hdtables::text(table, size - 1).isEmpty()) << int(table);
        EXPECT_EQ(hdtables::text(table, size), QString()) << int(table);
        EXPECT_EQ(hdtables::text(table, -1), QString()) << int(table);
    }
}
