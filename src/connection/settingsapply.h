#pragma once
// What the "Configure Connection" dialog does to a page on "Apply": which
// settings count as link settings, when the link and the measurement log are
// closed and opened again, and the choices its drop-downs offer by hardware
// type. Kept apart from the window so the rules are tested without one.
#include "connection/connectionsettings.h"

#include <QStringList>

class ConnectionPage;

namespace settingsapply {

struct Plan {
    bool closeLink = false; // a link setting changed while the link is open
    bool closeLog = false;  // the log is open and its file changes or logging stops
    bool openLog = false;   // logging is on and no log is open after closeLog
    bool openLink = false;  // reopen what closeLink closed, or "Connect on Startup" on a closed page
    bool operator==(const Plan &) const = default;
};

// Hardware type, connection type, ports, baud, phone number, address, port
// number and host name; not the password, start-up switch or names.
bool linkSettingsDiffer(const ConnectionSettings &a, const ConnectionSettings &b);

// The same directory however it is spelled ("/x/LOG/" and "/x/LOG", or a
// link to it): a log is moved only when its directory really changes.
bool sameDirectory(const QString &a, const QString &b);

Plan plan(const ConnectionSettings &current, const ConnectionSettings &edited, bool linkOpen, bool logOpen);

// Carries the plan out on the page: close, store, reopen.
Plan apply(ConnectionPage &page, const ConnectionSettings &edited);

// The dialog's choices for a hardware type, selected from the page's stored
// values (never from what the dialog shows at the moment); -1 = no selection.
struct Choices {
    QStringList connections;
    int connectionIndex = -1;
    QStringList bauds;
    int baudIndex = -1;
    bool hdBaudNotes = false;
};
Choices choices(int hardwareType, const ConnectionSettings &stored);

} // namespace settingsapply
