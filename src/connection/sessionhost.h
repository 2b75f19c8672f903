#pragma once
// The page as a session sees it: the link and the line readers on it, the
// timer, the message log, the record and settings, the link's life, where
// frames go, and the hand-over between sessions. ConnectionPage implements
// it; a session never sees the page itself, so a unit family or an update
// is written, and tested, against this alone.
#include "connection/connectionrecord.h"
#include "connection/relaystore.h"
#include "link/bytelink.h"
#include "link/linereader.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

#include "core/clock.h"
class Session;
struct ConnectionSettings;

class SessionHost {
public:
    // Bytes a network read takes at most per call (a serial read takes what the caller asks).
    static constexpr int kNetworkReadLimit = 64 * 1024;

    virtual ~SessionHost() = default;

    // --- the link ------------------------------------------------------------
    // The open transport; with none open, sends are dropped and reads are empty.
    virtual ByteLink &link() = 0;
    // The line readers on that link; ReceiveText lives here, not in a session.
    virtual LineReader &lines() = 0;
    virtual bool isSerial() const = 0;
    // A serial or modem page whose device path names nothing just now.
    virtual bool serialDeviceMissing() const = 0;
    virtual void openLink() = 0;
    virtual void closeLink() = 0;
    // Closes the transport and nothing else: phase, state and PortOpen stay.
    virtual void releaseLink() = 0;
    // CloseLink() when the port is open, then OpenLink().
    virtual void reconnect() = 0;
    // Switches an open serial port to a serial-library baud code.
    virtual int setSerialBaud(int code) = 0;
    virtual int setModemDtr(bool on) = 0;

    // --- timer, record, settings -----------------------------------------------
    virtual int interval() const = 0;
    virtual void setInterval(int ms) = 0;
    virtual ConnectionRecord &record() = 0;
    virtual ConnectionSettings &settings() = 0;
    virtual bool saveSettings(QString *error = nullptr) = 0;
    virtual bool started() const = 0;
    virtual QString baseDirectory() const = 0;
    virtual const Clock &clock() const = 0;

    // --- what a session produces --------------------------------------------------
    virtual void logMessage(const QString &text, int level) = 0;
    virtual RelayStore &store() = 0;
    virtual void logArxRecord(const QByteArray &frameText, const QDateTime &stamp) = 0;
    virtual void logHdLine(std::optional<qint32> totalLevel) = 0;
    virtual void showConnection() = 0;
    virtual void showHardware() = 0;
    virtual void setUpdateEnabled(bool on) = 0;
    // The unit must be updated before it can be served: the window opens its dialog.
    virtual void requestUpdateDialog() = 0;

    // --- sessions -----------------------------------------------------------------------
    // `session` runs in place of the current one from now on (an update).
    virtual void runSession(std::unique_ptr<Session> session) = 0;
    // A session run in place of the unit's ends: a fresh session of the page's
    // hardware type takes over and, with `reconnect`, its Connect action
    // (Reconnect) runs at once. The ending session lives until the page's
    // next tick, so that it may return from the call.
    virtual Session &endSession(bool reconnect) = 0;

    // --- shorthands on link() and lines() --------------------------------------------------
    void sendText(const QByteArray &bytes) { link().send(bytes); }
    QByteArray readMarked() { return lines().readMarked(); }
    QByteArray readMarkedOrPollEnd() { return lines().readMarkedOrPollEnd(); }
    QByteArray readCrLf() { return lines().readCrLf(); }
    QByteArray readCr() { return lines().readCr(); }
    void clearReceive() { lines().clearReceive(); }
    bool lineComplete() { return lines().lineComplete(); }
    const QByteArray &receiveText() { return lines().receiveText(); }
    int bytesWaiting() { return link().bytesWaiting(); }
    // The frame receivers' read: up to serialMax bytes from a serial port,
    // everything waiting (bounded) from a socket.
    QByteArray readFrameBytes(int serialMax)
    {
        QByteArray bytes = link().readSome(isSerial() ? serialMax : kNetworkReadLimit);
        record().bytesReceived += quint64(bytes.size());
        return bytes;
    }
    // Files one accepted frame in the relay store, and counts it.
    void fileRecord(RecordKind kind, const QByteArray &frame)
    {
        ++record().framesFiled;
        record().lastFrameMs = clock().nowMs();
        store().fileRecord(kind, frame);
    }
};

// Makes the session of a hardware type (0 ARX, 1 KX-71, 2 HD, 3 KF-71) for a
// page; the station gives its pages the one that knows the unit families.
using SessionFactory = std::function<std::unique_ptr<Session>(int hardwareType, SessionHost &host)>;
