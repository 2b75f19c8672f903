#include "protocols/hd/linefamily.h"

#include "core/hextext.h"

namespace linefamily {

QByteArray after(const QByteArray &line, const char *marker, int length, int skip)
{
    const qsizetype at = line.indexOf(marker);
    if (at < 0)
        return {};
    return line.mid(at + qsizetype(qstrlen(marker)) + skip, length);
}

namespace {

// The two software texts: five characters after "SW(" and five more after
// one separator.
void readSoftware(const QByteArray &line, QByteArray software[2])
{
    if (!line.contains("SW("))
        return;
    software[0] = after(line, "SW(", 5);
    software[1] = after(line, "SW(", 5, 6);
}

IdentOutcome identifyHd(const QByteArray &line, LineIdentity &id, quint32 &unitsChanged)
{
    if (line.contains("KH-71")) {
        id.model = 1;
        id.modelText = "KH-71";
        id.present = true;
        unitsChanged = 1;
        id.software[0].clear();
        id.software[1].clear();
        id.lanVersion.clear();
        id.serial = after(line, "SN(", 6);
        if (!line.contains("LCD")) {
            id.hasLcd = false;
            id.software[1] = after(line, "SW(", 7); // the MAIN version
            return IdentOutcome::UpdateNeeded;
        }
        id.hasLcd = true;
        const QByteArray digit = after(line, "LCD(", 1);
        id.lcdType = quint8(digit.isEmpty() ? 0 : hextext::digitValue(digit[0]));
        readSoftware(line, id.software);
        id.lanVersion = after(line, "LAN(", 7);
        return IdentOutcome::Poll;
    }
    if (line.contains("KH-72")) {
        id.model = 2;
        id.modelText = line;
        unitsChanged = 2;
        return IdentOutcome::Poll;
    }
    return IdentOutcome::Unknown;
}

IdentOutcome identifyKf71(const QByteArray &line, LineIdentity &id, quint32 &unitsChanged)
{
    if (!line.contains("KF-71"))
        return IdentOutcome::Unknown;
    id.model = 1;
    id.software[0].clear();
    id.software[1].clear();
    id.lanVersion.clear();
    id.present = true;
    unitsChanged = 1;
    id.modelText = "KF-71";
    id.serial = after(line, "SN(", 6);
    readSoftware(line, id.software);
    // Without "OPT(" the unit's own software looked at the fourth character.
    const qsizetype opt = line.indexOf("OPT(");
    const qsizetype at = opt >= 0 ? opt + 4 : 3;
    id.option = at < line.size() && line[at] == '0' ? "Basic" : "Complete";
    id.lanVersion = after(line, "LAN(", 7);
    return IdentOutcome::Poll;
}

QString latin1(const QByteArray &text)
{
    return QString::fromLatin1(text);
}

QList<HardwareRow> hdRows(const LineIdentity &id)
{
    if (!id.present)
        return {};
    return {HardwareRow{hardware::caption(hardware::Hd), QStringLiteral(" KH-71 "),
                        QStringLiteral("N/A"), latin1(id.serial)}};
}

QList<HardwareRow> kf71Rows(const LineIdentity &id)
{
    if (!id.present)
        return {};
    return {HardwareRow{hardware::caption(hardware::Kf71), latin1(id.modelText), latin1(id.option),
                        latin1(id.serial)}};
}

QString padded(const char *text)
{
    return QLatin1String(text) + QString(13, QLatin1Char(' '));
}

} // namespace

const LineFamily &hd()
{
    static const LineFamily family{
        hardware::Hd,
        RecordKind::Hd,
        "VALID",
        QStringLiteral(" HD Hardware not responding check settings "),
        padded(" HD INVAILD PASSWORD"),
        QStringLiteral(" HD password verification failed "),
        QStringLiteral(" HD hardware not responding"),
        QStringLiteral(" HD Succesful Connection"),
        false,
        true,
        true,
        QStringLiteral("ID"),
        identifyHd,
        hdRows,
    };
    return family;
}

const LineFamily &kf71()
{
    static const LineFamily family{
        hardware::Kf71,
        RecordKind::Kf,
        "VALID SUPERVISOR",
        QStringLiteral(" KF71 Hardware not responding check settings "),
        padded(" KF71 INVAILD PASSWORD"),
        QStringLiteral(" KF-71 password verification failed "),
        QStringLiteral(" KF71 hardware not responding"),
        QStringLiteral(" KF71 Succesful Connection"),
        true,
        false,
        false,
        QStringLiteral("Option"),
        identifyKf71,
        kf71Rows,
    };
    return family;
}

} // namespace linefamily
