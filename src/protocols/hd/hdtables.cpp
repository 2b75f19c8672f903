// The texts are the units' own, blanks and misspellings included.
#include "protocols/hd/hdtables.h"

#include <span>
#include <string_view>

namespace hdtables {

namespace {

constexpr const char *rfInput[] = {
    "Antenna", "High Level",
};

constexpr const char *testSignal[] = {
    "Off", "Zero", "Mono 1kHz 100%", "Left    1Hz     90%", "Left    5kHz   90%",
    "Left  11kHz   90%", "Left  15kHz   90%",
};

constexpr const char *displayMode[] = {
    "Realtime", "Pastime",
};

constexpr const char *timeValue[] = {
    "0.25", "0.5 ", "1.0 ", "1.5 ", "2.0 ", "2.5 ", "3.0 ", "3.5 ", "4.0 ", "4.5 ", "5.0 ",
};

constexpr const char *offOn[] = {
    "OFF", "ON",
};

constexpr const char *timer[] = {
    "OFF", "1 hr", "2 hr", "3 hr", "4 hr", "5 hr",
};

constexpr const char *compositeMode[] = {
    "Stereo + RDS", "Stereo + 67 kHz SCA", "Stereo + 92 kHz SCA",
};

constexpr const char *monitorSource[] = {
    " Mute", "ANL  L", "ANL  R", "ANL  L+R", "ANL  L-R", "HD1  L", "HD1  R", "HD1  L+R", "HD1  L-R",
    "HD2  L", "HD2  R", "HD2  L+R", "HD2  L-R", "HD3  L", "HD3  R", "HD3  L+R", "HD3  L-R",
    "HD4  L", "HD4  R", "HD4  L+R", "HD4  L-R", "HD5  L", "HD5  R", "HD5  L+R", "HD5  L-R",
    "HD6  L", "HD6  R", "HD6  L+R", "HD6  L-R", "HD7  L", "HD7  R", "HD7  L+R", "HD7  L-R",
    "HD8  L", "HD8  R", "HD8  L+R", "HD8  L-R", " D1  L", " D1  R", " D1  L+R", " D1  L-R",
    " D2  L", " D2  R", " D2  L+R", " D2  L-R", " D3  L", " D3  R", " D3  L+R", " D3  L-R",
    " D4  L", " D4  R", " D4  L+R", " D4  L-R", "TST  0 dB", "TST -3 dB", "TST -6 dB", "TST -10dB",
};

constexpr const char *alarmName[] = {
    "    Not Assigned         ", " Audio Failure: HD1      ", " Audio Failure: HD2      ",
    " Audio Failure: Analog   ", "     Total Peak          ", "Analog Modulation Failure",
    "Analog Carrier Failure   ", "     HD Station          ", "   Digital Audio         ",
    "     SIS CRC             ", "   Time Alignment        ", "  Quality Indicator      ",
    "      CD/NO              ",
};

constexpr const char *genre[] = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz",
    "Metal", "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno",
    "Industrial", "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno",
    "Ambient", "Trip-Hop", "Vocal", "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental",
    "Acid", "House", "Game", "Sound Clip", "Gospel", "Noise", "AlternRock", "Bass", "Soul", "Punk",
    "Space", "Meditative", "Instrumental", "Intrumental Rock", "Ethnic", "Gothic", "Darkwave",
    "Techno-Industrial", "Electronic", "Pop-Folk", "Eurodance", "Dream", "Southern Roack", "Comedy",
    "Cult", "Gangsta", "Top 40", "Christian Rap", "Pop/Funk", "Jungle", "Native American",
    "Cabaret", "New Wave", "Psychadelic", "Rave", "Showtunes", "Trailer", "Lo-Fi", "Tribal",
    "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical", "Rock & Roll", "Hard Rock", "Folk",
    "Folk-Rock", "National Folk", "Swing", "Fast Fusion", "Bebob", "Latin", "Revival", "Celtic",
    "Bluegrass", "Avantgarde", "Gothic Rock", "Progressive Rock", "Psychedelic Rock",
    "Symphonic Rock", "Slow Rock", "Big Band", "Chorus", "Easy Listening", "Acoustic", "Humour",
    "Speech", "Chanson", "Opera", "Chamber Music", "Sonata", "Symphony", "Booty Bass", "Primus",
    "Porn Groove", "Satire", "Slow Jam", "Club", "Tango", "Samba", "Folklore", "Ballad",
    "Power Ballad", "Rhythmic Soul", "Freestyle", "Duet", "Punk Rock", "Drum Solo", "Acapella",
    "Euro-House", "Dance Hall",
};

constexpr const char *programmeType[] = {
    "Non Specific", "News", "Information", "Sports", "Talk", "Rock", "Classic Rock", "Adult Hits",
    "Soft Rock", "Top 40", "Country", "Oldies", "Soft", "Nostalgia", "Jazz", "Classical", "R & B",
    "Soft R & B", "Foreign Language", "Religious Music", "Religious Talk", "Personality", "Public",
    "College", "Unassigned", "Unassigned", "Unassigned", "Unassigned", "Unassigned", "Weather",
    "Emergency Test", "Emergency", "Unassigned", "Unassigned", "Unassigned", "Unassigned",
    "Unassigned", "Unassigned", "Unassigned", "Unassigned", "Unassigned", "Unassigned",
    "Unassigned", "Unassigned", "Unassigned", "Unassigned", "Unassigned", "Unassigned",
    "Unassigned", "Unassigned", "Unassigned", "Unassigned", "Unassigned", "Unassigned",
    "Unassigned", "Unassigned", "Unassigned", "Unassigned", "Unassigned", "Unassigned",
    "Unassigned", "Unassigned", "Unassigned", "Unassigned", "Weather B", "Traffic A", "Traffic B",
    "Traffic C", "Unassigned", "Unassigned", "Unassigned", "Unassigned", "Unassigned", "Government",
    "Emergency B", "Emergency C", "Reading Services", "Unassigned", "Unassigned", "Unassigned",
    "Unassigned", "Unassigned", "Unassigned", "Private Services A", "Private Services B",
    "Private Services C", "Unassigned", "Unassigned", "Unassigned", "Unassigned",
};

constexpr const char *kfReceptionMode[] = {
    "Wideband", "HD -25dB MP1", "HD -25dB MP3", "HD -50dB MP1", "HD -50dB MP3",
};

constexpr const char *kfCompositeModeShort[] = {
    "Stereo+RDS", "Stereo+67kHz", "Stereo+92kHz",
};

constexpr const char *kfMonitorSource[] = {
    " Mute", " Left  ", " Left(*)", " Right ", " Right(*)", " L+R ", " L+R(*)", " L-R", " L-R(*)",
    " SCA #1", " SCA #2", " Pilot", "Test 0 dB", "Test -3 dB", "Test -6 dB",
};

constexpr bool allLength(std::span<const char *const> texts, std::size_t length)
{
    for (const char *t : texts)
        if (std::string_view(t).size() != length)
            return false;
    return true;
}

static_assert(std::size(testSignal) == 7 && std::size(timeValue) == 11 && std::size(timer) == 6);
static_assert(std::size(monitorSource) == 57 && std::size(genre) == 126 && std::size(programmeType) == 90);
static_assert(std::size(kfReceptionMode) == 5 && std::size(kfMonitorSource) == 15);
static_assert(std::size(alarmName) == 13 && allLength(alarmName, 25), "alarm names are 25 characters");

std::span<const char *const> texts(Table table)
{
    switch (table) {
    case Table::RfInput:
    case Table::KfRfInput:
        return rfInput;
    case Table::TestSignal:
    case Table::KfTestSignal:
        return testSignal;
    case Table::DisplayMode:
        return displayMode;
    case Table::TimeValue:
    case Table::KfTimeValue:
        return timeValue;
    case Table::OffOn:
        return offOn;
    case Table::Timer:
        return timer;
    case Table::CompositeMode:
    case Table::KfCompositeMode:
        return compositeMode;
    case Table::MonitorSource:
        return monitorSource;
    case Table::AlarmName:
    case Table::KfAlarmName:
        return alarmName;
    case Table::Genre:
        return genre;
    case Table::ProgrammeType:
        return programmeType;
    case Table::KfReceptionMode:
        return kfReceptionMode;
    case Table::KfCompositeModeShort:
        return kfCompositeModeShort;
    case Table::KfMonitorSource:
        return kfMonitorSource;
    }
    return {};
}

} // namespace

QString text(Table table, int index)
{
    const std::span<const char *const> t = texts(table);
    if (index < 0 || std::size_t(index) >= t.size())
        return QString();
    return QString::fromLatin1(t[std::size_t(index)]);
}

int size(Table table)
{
    return int(texts(table).size());
}

} // namespace hdtables
