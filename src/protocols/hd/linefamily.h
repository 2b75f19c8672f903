#pragma once
// What tells the HD monitors and the KF-71 system apart inside the one line
// session: the acceptance word, the message texts, how the identification
// line is read, what a button command carries, the hardware list and the
// measurement log. Everything else is the same machine.
#include "connection/connectionrecord.h"
#include "connection/relaystore.h"

#include <QByteArray>
#include <QList>
#include <QString>

// What the identification line said. HD: model 1 KH-71, 2 KH-72; KF-71: 1.
struct LineIdentity {
    bool present = false; // the unit-present flag of the hardware list
    int model = 0;
    QByteArray modelText;
    QByteArray serial;
    QByteArray software[2];
    QByteArray lanVersion;
    QByteArray option;    // KF-71: "Basic" or "Complete"
    bool hasLcd = false;  // KH-71
    quint8 lcdType = 0;
};

enum class IdentOutcome {
    Unknown,      // not a line of this family: keep waiting
    Poll,         // start the data stream
    UpdateNeeded, // a KH-71 without LCD: no stream until its firmware is updated
};

struct LineFamily {
    int hardwareType;
    RecordKind recordKind;
    // Plain acceptance of "SC" (the relay's "SVALID" is tested before it).
    const char *validWord;
    QString notResponding, invalidPassword, passwordFailed, identNotResponding, succesful;
    // The KF-71 clears the receive text before asking "UI", the HD monitors after.
    bool clearBeforeIdentRequest;
    // HD buttons 205..208 carry the stored value; KF-71 buttons never do.
    bool buttonValues;
    // HD pages write a text log line after each decoded frame.
    bool textLog;
    QString thirdColumn;
    // Reads an identification line; sets `unitsChanged` when it names a unit.
    IdentOutcome (*identify)(const QByteArray &line, LineIdentity &id, quint32 &unitsChanged);
    QList<HardwareRow> (*rows)(const LineIdentity &id);
};

namespace linefamily {

const LineFamily &hd();
const LineFamily &kf71();

// `length` characters after the first `marker`; empty when there is none.
QByteArray after(const QByteArray &line, const char *marker, int length, int skip = 0);

} // namespace linefamily
