#pragma once
// The run-time part of a connection page: what the sessions, the windows and
// the relay servers share. Settings live in ConnectionSettings; what a
// session has received but not yet cut into frames is the session's own.
#include <QByteArray>
#include <QString>

namespace hardware {
enum Type { Arx = 0, Kx71 = 1, Hd = 2, Kf71 = 3 };
// The caption of the type in the hardware list ("Arxon System", ...).
QString caption(int hardwareType);
}

namespace connection {
enum Type { Serial = 0, Network = 1, Modem = 2 };
}

// Connection states shown in the Status column.
namespace state {
enum Code {
    Disconnected = 0,
    Connecting = 1,
    Downloading = 2,
    Data = 3, // "InActive" / " Active "
    Initializing = 10,
    Dialing = 11,
    Password = 13,
    Updating = 14,
    Error = 99,
};
}

// One unit command handed over by a relay client, sent by the session at its
// next opportunity. Kind 99 marks a line to send exactly as stored (HD, KF-71);
// the line session builds kinds 0 (parameter `number`) and 1 (button `number`
// with `value`; for the indexed parameter `value` is the slot index).
struct PendingCommand {
    bool pending = false;
    int kind = 0;
    QByteArray text;
    int number = 0;
    quint8 value = 0;
};

struct ConnectionRecord {
    int phase = 0;
    int detectStep = 0;
    int dialStep = 0;
    int passwordStep = 0;
    int tickCount = 0;
    int state = state::Disconnected;
    int framesSinceShown = 0;
    int savedInterval = 125;
    bool portOpen = false;
    bool socketConnected = false;
    QString localHost, localAddress, localPort, remoteAddress, remotePort;

    bool newData = false;
    QByteArray lastSent, lastReply;
    PendingCommand pendingCommand;

    bool viaRelay = false;
    int unitType = 0;
    QByteArray modelId;
    int unitFamily = 0;

    quint32 unitsChanged = 0;
    quint16 unitsShown = 0xFFFF;

    bool exitDone = false;

    // Identity replies kept for the relay servers.
    QByteArray identLine;       // HD / KF-71 reply to "UI\r"
    QByteArray kxTypeReply;     // KX-71 reply to "T\r"
    QByteArray kxVersionReply;  // KX-71 reply to "U\r"

    // Since the page was loaded, for the console and the metrics.
    quint64 framesFiled = 0;
    quint64 bytesReceived = 0;   // taken by the frame receivers
    quint64 badFrames = 0;       // failed their check, or dropped incomplete
    qint64 lastFrameMs = 0;      // clock time of the last frame filed; 0 none
    quint64 logFailures = 0;     // measurement log failures reported
};

struct ConnectionRow {
    QString connection, info, status;
};

struct HardwareRow {
    QString hardware, unit, id, serial;
    bool operator==(const HardwareRow &) const = default;
};
