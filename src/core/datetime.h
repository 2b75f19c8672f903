#pragma once
// Date-time values as the units' software and stored files know them: days
// since 30 December 1899 (local time) with the time of day as the fraction.
#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace datetime {

// Days since 1899-12-30 00:00 local time, time of day as fraction.
double toDays(const QDateTime &t);
QDateTime fromDays(double days);

// Time of day as a fraction of a day (0 <= f < 1), from the milliseconds
// since midnight (QTime::msecsSinceStartOfDay, Clock::msecsSinceStartOfDay).
double timeOfDay(int msecsSinceStartOfDay);

// The 8-byte little-endian IEEE 754 form used in relay records and log files.
QByteArray encodeStamp(double days);
double decodeStamp(const QByteArray &eightBytes);
inline QByteArray stampOf(const QDateTime &t) { return encodeStamp(toDays(t)); }

// Date-time as shown in message lines: short date, a blank, long time
// (e.g. "12/6/2026 14:05:09").
QString messageText(const QDateTime &t);

// "Date..12.06.26 Time..14.05.09" as used in measurement log file names.
QString logFileStamp(const QDateTime &t);

} // namespace datetime
