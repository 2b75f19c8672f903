#include "connection/settingsapply.h"

#include "connection/connectionpage.h"
#include "connection/measurementlog.h"

#include <QDir>
#include <QFileInfo>

namespace settingsapply {

bool linkSettingsDiffer(const ConnectionSettings &a, const ConnectionSettings &b)
{
    return a.hardwareType != b.hardwareType || a.connectionType != b.connectionType || a.serialPort != b.serialPort
        || a.baudIndex != b.baudIndex || a.modemPort != b.modemPort || a.phoneNumber != b.phoneNumber
        || a.ipAddress != b.ipAddress || a.portNumber != b.portNumber || a.useHostName != b.useHostName
        || a.hostName != b.hostName;
}

bool sameDirectory(const QString &a, const QString &b)
{
    if (a == b)
        return true;
    if (a.isEmpty() || b.isEmpty())
        return false;
    if (QDir::cleanPath(a) == QDir::cleanPath(b))
        return true;
    const QString ca = QFileInfo(a).canonicalFilePath();
    return !ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath();
}

Plan plan(const ConnectionSettings &current, const ConnectionSettings &edited, bool linkOpen, bool logOpen)
{
    Plan p;
    p.closeLink = linkOpen && linkSettingsDiffer(current, edited);
    p.closeLog = logOpen
        && (!sameDirectory(edited.logDirectory, current.logDirectory) || edited.logPrefix != current.logPrefix
            || !edited.logEnabled);
    p.openLog = edited.logEnabled && (!logOpen || p.closeLog);
    const bool openAfterClose = linkOpen && !p.closeLink;
    p.openLink = p.closeLink || (!openAfterClose && edited.autoConnect);
    return p;
}

Plan apply(ConnectionPage &page, const ConnectionSettings &edited)
{
    const ConnectionSettings current = page.settings();
    const Plan p = plan(current, edited, page.record().portOpen, page.measurementLog().isOpen());
    if (p.closeLink)
        page.closeLink();
    // Everything but the log settings first, so a log opened below is named
    // and typed by the new hardware type.
    ConnectionSettings s = edited;
    s.logDirectory = current.logDirectory;
    s.logPrefix = current.logPrefix;
    s.logEnabled = current.logEnabled;
    page.setSettings(s);
    if (p.closeLog)
        page.closeLog();
    s.logDirectory = edited.logDirectory;
    s.logPrefix = edited.logPrefix;
    s.logEnabled = edited.logEnabled;
    page.setSettings(s);
    if (p.openLog)
        page.openLog();
    if (p.openLink)
        page.openLink();
    return p;
}

Choices choices(int hardwareType, const ConnectionSettings &stored)
{
    const QString serial = QStringLiteral("RS-232  - Serial");
    const QString network = QStringLiteral("Network - Ethernet");
    Choices c;
    auto pick = [](int index, qsizetype count) { return index >= 0 && index < count ? index : -1; };
    switch (hardwareType) {
    case 0:
        c.connections = {serial, network, QStringLiteral("MODEM")};
        c.connectionIndex = pick(stored.connectionType, 3);
        c.bauds = {QStringLiteral("1200"), QStringLiteral("2400"), QStringLiteral("4800"), QStringLiteral("9600")};
        c.baudIndex = pick(stored.baudIndex, c.bauds.size());
        break;
    case 1:
    case 2:
    case 3:
        // No modem for these units: a stored MODEM shows as the network.
        c.connections = {serial, network};
        c.connectionIndex = stored.connectionType < 0 ? -1 : qMin(stored.connectionType, 1);
        if (hardwareType == 2) {
            c.bauds = {QStringLiteral("57600"), QStringLiteral("115200")};
            c.baudIndex = pick(stored.baudIndex, c.bauds.size());
            c.hdBaudNotes = true;
        } else {
            c.bauds = {hardwareType == 1 ? QStringLiteral("57600") : QStringLiteral("115200")};
            c.baudIndex = 0;
        }
        break;
    default:
        break;
    }
    return c;
}

} // namespace settingsapply
