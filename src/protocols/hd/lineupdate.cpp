#include "protocols/hd/lineupdate.h"

#include "connection/connectionpage.h"
#include "protocols/hd/linesession.h"

namespace updatecheck {

std::optional<Dialog> dialogFor(const ConnectionPage &page)
{
    // A unit not identified yet (the fresh session of a page reconnecting
    // after an update) has no dialog until it is.
    const auto *line = dynamic_cast<const LineSession *>(page.session());
    if (!line || !line->identity().present)
        return std::nullopt;
    if (page.hardwareType() == hardware::Kf71)
        return Dialog::Kf71;
    if (page.hardwareType() == hardware::Hd)
        return line->identity().hasLcd ? Dialog::Kh71 : Dialog::Hd;
    return std::nullopt;
}

UnitReport reportOf(const ConnectionPage &page)
{
    UnitReport r;
    const auto *line = dynamic_cast<const LineSession *>(page.session());
    if (!line)
        return r;
    const LineIdentity &id = line->identity();
    r.modelText = QString::fromLatin1(id.modelText);
    r.boot = id.software[0];
    r.main = id.software[1];
    r.lanVersion = id.lanVersion;
    r.lcdType = id.lcdType;
    return r;
}

} // namespace updatecheck
