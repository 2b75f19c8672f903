#include "core/datetime.h"

#include <QtEndian>
#include <cmath>
#include <cstring>

namespace datetime {

static const QDate kEpoch(1899, 12, 30);

double toDays(const QDateTime &t)
{
    const qint64 day = kEpoch.daysTo(t.date());
    const double fraction = t.time().msecsSinceStartOfDay() / 86400000.0;
    // Before the epoch the fraction still counts forward in the stored form's
    // own convention (negative whole part, positive fraction); no unit sends such dates.
    return day >= 0 ? day + fraction : day - fraction;
}

QDateTime fromDays(double days)
{
    double whole = std::trunc(days);
    double fraction = std::fabs(days - whole);
    qint64 ms = std::llround(fraction * 86400000.0);
    if (ms >= 86400000) {
        ms = 0;
        whole += days >= 0 ? 1 : -1;
    }
    return QDateTime(kEpoch.addDays(static_cast<qint64>(whole)), QTime::fromMSecsSinceStartOfDay(int(ms)));
}

double timeOfDay(int msecsSinceStartOfDay)
{
    return msecsSinceStartOfDay / 86400000.0;
}

QByteArray encodeStamp(double days)
{
    quint64 bits;
    static_assert(sizeof bits == sizeof days);
    std::memcpy(&bits, &days, sizeof bits);
    QByteArray out(8, '\0');
    qToLittleEndian(bits, out.data());
    return out;
}

double decodeStamp(const QByteArray &eightBytes)
{
    if (eightBytes.size() < 8)
        return 0.0;
    const quint64 bits = qFromLittleEndian<quint64>(eightBytes.constData());
    double days;
    std::memcpy(&days, &bits, sizeof days);
    return days;
}

QString messageText(const QDateTime &t)
{
    return t.toString(QStringLiteral("M/d/yyyy HH:mm:ss"));
}

QString logFileStamp(const QDateTime &t)
{
    return t.toString(QStringLiteral("'Date..'MM'.'dd'.'yy' Time..'HH'.'mm'.'ss"));
}

} // namespace datetime
