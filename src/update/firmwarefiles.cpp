#include "update/firmwarefiles.h"

#include "core/hextext.h"
#include "update/downloadfile.h"

namespace firmware {

// Blanks around, an optional sign, digits with at most one point.
static std::optional<double> decimal(QByteArrayView text)
{
    const QByteArray t = text.toByteArray().trimmed();
    qsizetype i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-'))
        ++i;
    int digits = 0, points = 0;
    for (; i < t.size(); ++i) {
        if (t[i] >= '0' && t[i] <= '9')
            ++digits;
        else if (t[i] == '.' && points == 0)
            ++points;
        else
            return std::nullopt;
    }
    if (digits == 0)
        return std::nullopt;
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return v;
}

std::optional<double> parseVersion(QByteArrayView text)
{
    const qsizetype point = text.indexOf('.');
    if (point < 2)
        return std::nullopt;
    return decimal(text.sliced(point - 2, qMin<qsizetype>(5, text.size() - (point - 2))));
}

std::optional<double> hdUnitVersion(QByteArrayView text)
{
    if (text.indexOf('.') < 2 && text.toByteArray().contains("BETA"))
        return 2.18;
    return parseVersion(text);
}

QString displayName(Display d)
{
    switch (d) {
    case Display::Hantronix: return QStringLiteral("HANTRONIX");
    case Display::Kyocera: return QStringLiteral("KYOCERA");
    default: return QString();
    }
}

std::optional<FileChoice> hdFiles(double unitVersion)
{
    if (unitVersion >= kHdKyoceraVersion)
        return FileChoice{Display::Kyocera, QString::fromLatin1(downloadfile::kKh71Kyocera), {}};
    if (unitVersion >= kHdFieldVersion)
        return FileChoice{Display::Hantronix, QString::fromLatin1(downloadfile::kKh71Hantronix), {}};
    return std::nullopt;
}

std::optional<FileChoice> kh71Files(int lcdType)
{
    if (lcdType == 1)
        return FileChoice{Display::Hantronix, QString::fromLatin1(downloadfile::kKh71Hantronix),
                          QString::fromLatin1(downloadfile::kKh71HantronixB)};
    if (lcdType == 2)
        return FileChoice{Display::Kyocera, QString::fromLatin1(downloadfile::kKh71Kyocera),
                          QString::fromLatin1(downloadfile::kKh71KyoceraB)};
    return std::nullopt;
}

FileChoice kf71Files()
{
    return FileChoice{Display::None, QString::fromLatin1(downloadfile::kKf71), QString::fromLatin1(downloadfile::kKf71B)};
}

QByteArray serialRecord(int hundreds, int tens, int units)
{
    const quint8 digits[] = {quint8(hundreds), quint8(tens), quint8(units)};
    // Count, address 00 20 09, first data byte 00.
    unsigned sum = 0x08 + 0x00 + 0x20 + 0x09 + 0x00;
    QByteArray out("S20800200900");
    for (quint8 d : digits) {
        out += hextext::hex2(d);
        sum += d;
    }
    out += hextext::hex2(quint8(255 - (sum % 256)));
    return out;
}

} // namespace firmware
