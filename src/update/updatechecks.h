#pragma once
// What an update dialog finds when it is shown and when an update starts:
// the unit's and the files' versions, the file to load, the warnings and the
// errors, in the order the operator meets them. The windows only show the
// result and act on it.
#include "update/downloadfile.h"
#include "update/updatemachine.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace updatecheck {

enum class Dialog { Hd, Kh71, Kf71 };

// What identification reported of the unit.
struct UnitReport {
    QString modelText;
    QByteArray boot, main; // HD units report one version: `main`
    QByteArray lanVersion;
    int lcdType = 0;
};

struct Activation {
    // Each error is shown, then the update is aborted (the page's
    // connection ends through the machine's failure step).
    QStringList errors;
    QStringList warnings; // shown at once (HD dialog)
    QString unitVersionText; // unit row
    QString fileVersionText; // file row
    QString lanFileVersion;  // XPORT.DLD
    QString displayText;     // "DISPLAY: KYOCERA"; empty for KF-71
    QString file;            // chosen file, relative to the base directory
    bool bootNotNewer = false;
    bool mainNotNewer = false;
    bool eepromEnabled = false;
    bool lantronixEnabled = false;
    qint32 count = 0;
};

Activation activate(Dialog dialog, const UnitReport &unit, const QString &baseDirectory,
                    const downloadfile::Opener &opener = {});
// The warnings "Update EEPROM" shows before it starts (KH-71, KF-71).
QStringList eepromWarnings(const Activation &a);

// A file opened for a machine, past its head.
struct Start {
    QString error; // non-empty: show it and abort
    downloadfile::File file;
    qint32 count = 0;
};
// `relative` under the base directory; `versionLines` skipped after line 1;
// `invalidText` names an unreadable head.
Start open(const QString &baseDirectory, const QString &relative, int versionLines, const QString &invalidText,
           const downloadfile::Opener &opener = {});

UpdateMachine::Kind machineOf(Dialog dialog);

inline const QString kInvalidUnit = QStringLiteral("Invaild Unit Software Version, Please Contact Tolva");
inline const QString kInvalidFile = QStringLiteral("Invaild File Software Version, Please Contact Tolva");
inline const QString kNotInField = QStringLiteral("Unit Cannot Be Updated In Field, Please Contact Tolva");
inline const QString kInvalidLcd = QStringLiteral("Invaild LCD Type, Please Contact Tolva");
inline const QString kNotFound = QStringLiteral("Download File Not Found:");
inline const QString kHdNotNewer = QStringLiteral("Update Software Version is the same or older then Current Software");
inline const QString kBootNotNewer =
    QStringLiteral("Update BOOT Software Version is the same or older then Current Software");
inline const QString kMainNotNewer =
    QStringLiteral("Update MAIN Software Version is the same or older then Current Software");
inline const QString kLantronixQuestion = QStringLiteral(
    "Updating the Lantronix Network Device will take 20 minutes. During this process the network connection will "
    "be lost. If DHCP is being used the IP address may change.");

} // namespace updatecheck
