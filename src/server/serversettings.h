#pragma once
// A relay server's two files under CONFIG/: "ServerN.CFG" (source, start-up
// switch, port, authentication switch; a fifth line with the address to
// listen on and a sixth with the allowed client networks, when chosen, which
// older readers do not read) and "ServerN.USR" (accounts). Both are
// CR LF text; numbers right-aligned in fixed widths, as the files stations
// already have hold them.
#include "server/useraccounts.h"

#include <QString>
#include <QStringList>

struct ServerSettings {
    int source = 0;       // 0 none, 1..8 connection page, 9 log playback page
    bool enableOnStartup = false;
    int listenPort = 0;
    bool requireAuth = false;
    QString bindAddress = {}; // empty: every interface
    // Addresses and CIDR prefixes ("192.168.1.0/24", "2001:db8::/64") that
    // may connect; empty: every address.
    QStringList allowedClients = {};

    bool operator==(const ServerSettings &) const = default;
};

namespace serverfiles {

QString settingsPath(const QString &baseDir, const QString &pageName);
QString usersPath(const QString &baseDir, const QString &pageName);

// The four lines as written to the settings file, and the bind address as a
// fifth only when there is one.
QByteArray settingsText(const ServerSettings &settings);
// Count line, then name, password and authorization of every row.
QByteArray usersText(const UserTable &users);

// Reads the settings file into `settings` (fields whose switch line holds
// neither 0 nor 1 keep their value). A missing file is first created with the
// page's defaults. Returns false with `error` set when the file cannot be
// created or read, a number line holds no number, or the port is not one from
// 1 to 65535 (0 would listen where no viewer looks).
bool loadSettings(const QString &baseDir, const QString &pageName, ServerSettings &settings, QString &error);
// Appends the rows of the user file to `users`; a missing file is created
// holding no users.
bool loadUsers(const QString &baseDir, const QString &pageName, UserTable &users, QString &error);

// Both files are written readable by their owner only (passwords are stored
// in clear text).
bool saveSettings(const QString &baseDir, const QString &pageName, const ServerSettings &settings, QString &error);
bool saveUsers(const QString &baseDir, const QString &pageName, const UserTable &users, QString &error);

// The allowed client networks as written on line 6 and in the dialog:
// comma-separated addresses or prefixes. Returns false with `error` naming
// the first entry that is neither.
bool parseNetworks(const QString &text, QStringList &networks, QString &error);
QString networksText(const QStringList &networks);
// True when `networks` is empty or one of them holds `address`.
bool clientAllowed(const QStringList &networks, const QString &address);

// Parsing of the file contents, apart from the file system. On failure
// `line` (when given) is the 1-based line that holds no number.
bool parseSettings(const QByteArray &text, ServerSettings &settings, QString &error, int *line = nullptr);
UserTable parseUsers(const QByteArray &text);

} // namespace serverfiles
