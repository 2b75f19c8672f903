#pragma once
// What the update dialogs decide from version texts: the version numbers,
// which download file a unit takes, and the one record the server composes
// itself (the serial number of an HD unit).
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace firmware {

// "V02.18 ..." reads 2.18: the five characters that start two before the
// first point. A text whose first point is at its first or second character,
// or whose five characters are no decimal number, has no version.
std::optional<double> parseVersion(QByteArrayView text);
// The HD dialog's reading of the unit's text: one without a usable point
// that says "BETA" is a 2.18 unit.
std::optional<double> hdUnitVersion(QByteArrayView text);

// A file is worth loading only when strictly newer than the unit's.
inline bool isNewer(double file, double unit) { return file > unit; }

enum class Display { None, Hantronix, Kyocera };
QString displayName(Display d); // "HANTRONIX", "KYOCERA"

// The units from these MAIN versions on take the "B" files, and may update
// their network module.
constexpr double kKh71BVersion = 4.03;
constexpr double kKf71BVersion = 1.18;
// HD units: KYOCERA displays from 3.0, HANTRONIX from 2.15; older ones are
// updated in the factory only.
constexpr double kHdKyoceraVersion = 3.0;
constexpr double kHdFieldVersion = 2.15;

struct FileChoice {
    Display display = Display::None;
    QString file;  // relative to the base directory
    QString fileB; // KH-71 and KF-71: the file for units from the "B" version on
};
// HD unit (no display report) by its software version; nothing below 2.15.
std::optional<FileChoice> hdFiles(double unitVersion);
// KH-71 by its reported display type (1 HANTRONIX, 2 KYOCERA); nothing else.
std::optional<FileChoice> kh71Files(int lcdType);
FileChoice kf71Files();

// "S20800200900" + hundreds, tens, units as hex bytes + checksum: an S2
// record at 0x002009 whose checksum is the ones' complement of the sum of
// the count, address and data bytes.
QByteArray serialRecord(int hundreds, int tens, int units);

} // namespace firmware
