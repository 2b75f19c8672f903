#pragma once
// The settings of one connection page and their text file
// CONFIG/ConnectN.CFG: 17 CRLF lines, integers right-aligned in fixed
// widths, Booleans "0"/"1", texts as they stand; an 18th line "1" when the
// page reconnects by itself (older readers ignore lines 18 to 49).
#include <QString>

struct ConnectionSettings {
    int hardwareType = 0;   // 0 ARX family, 1 KX-71, 2 HD, 3 KF-71
    QString password;
    int connectionType = 0; // 0 RS-232, 1 network, 2 modem
    bool autoConnect = false;
    int serialPort = 0;     // 0 = COM1
    int baudIndex = 1;
    int modemPort = 0;
    QString phoneNumber;
    QString ipAddress;
    int portNumber = 0;
    QString logDirectory;
    QString logPrefix;
    bool logEnabled = false;
    QString connectionName;
    QString rackName;
    QString hostName;
    bool useHostName = false;
    // Line 18, "Reconnect automatically": retry a failed link with a growing
    // pause. A missing line (every older file) means off.
    bool autoReconnect = false;

    // The defaults of page n (1..8) under the base directory.
    static ConnectionSettings defaults(int pageNumber, const QString &baseDirectory);

    bool operator==(const ConnectionSettings &) const = default;
};

namespace connectionsettings {

constexpr int kLines = 17;
constexpr int kReconnectLine = 18;
constexpr int kSlots = 49;
constexpr int kMaxPort = 65535;

QString pageName(int pageNumber);                       // "Connect3"
QString filePath(const QString &baseDirectory, int pageNumber);

// The 17 lines as written, each ended by CR LF, and line 18 "1" only when
// autoReconnect is on, so that a file without it stays as it always was.
QByteArray serialize(const ConnectionSettings &s);

// Reads the file's text into the settings: defaults first, then up to 49
// lines of which the first 17 are used, and line 18 when it holds 1 (anything
// else there, which an older program may have left, means off). Returns false
// with the conversion error's text (and its line number, from 1) at the first
// numeric line that is not a decimal integer, or at a port beyond 65535 (or 0
// on a network page); the fields before it are taken, the rest keep their
// defaults.
bool parse(const QByteArray &text, ConnectionSettings &s, QString *error, int *errorLine = nullptr);

// Reads or (when missing) creates the file. False with the system's text
// when it can be neither read nor created, or with the conversion text
// preceded by "<file> line <n>: ".
bool load(const QString &baseDirectory, int pageNumber, ConnectionSettings &s, QString *error);
// Written readable and writable by its owner only (it holds the password).
bool save(const QString &baseDirectory, int pageNumber, const ConnectionSettings &s, QString *error);

// The serial library's baud code for the settings (2..9); connectionType
// matters only when a modem port is opened (ARX over a modem: 2400 baud).
int baudCode(int hardwareType, int baudIndex, int current, bool openingModem = false);
QString baudText(int baudCode);

} // namespace connectionsettings
