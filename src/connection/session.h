#pragma once
// What a page runs, one at a time, driven by its timer: the protocol session
// of its hardware type, or a session run in its place (an update). A step
// either sends or counts ticks; nothing waits. A session reaches its page
// only through the SessionHost.
#include "connection/connectionrecord.h"
#include "connection/sessionhost.h"

#include <QList>
#include <memory>

class Session {
public:
    explicit Session(SessionHost &page) : m_page(page) {}
    virtual ~Session() = default;

    // One step of the machine of the current phase.
    virtual void tick() = 0;
    // Right after a tick: for how many ms the coming ticks would do nothing,
    // unless the link delivers bytes (onSocketRead) or the page is given
    // work. The page skips the ticks that fall inside; 0 means tick on.
    virtual qint64 quietMs() const { return 0; }
    // The link delivered bytes: a socket's read event, or a serial or modem
    // port's. Sessions that file frames take them here, at once, instead of
    // waiting for the next tick; the tick still runs the protocol's steps.
    virtual void onSocketRead() {}

    // Buttons. Connect closes an open link and opens it again; Disconnect
    // closes it (sessions send their log-off first).
    virtual void connectButton();
    virtual void disconnectButton();
    // The main window is closing.
    virtual void requestShutdown();

    // OpenLink() is starting a new connection: forget what the unit reported.
    virtual void linkOpening() {}

    // Rows of the hardware list for the units found present, in display order.
    virtual QList<HardwareRow> hardwareRows() const { return {}; }
    virtual QString hardwareThirdColumn() const;

    // A relay client's unit command; see RelaySource::queueUnitCommand.
    virtual bool queueUnitCommand(const QByteArray &text);
    virtual QByteArray kxStoredFrame(char selector) const;

    // The password-change machine (ARX only): the new password from the
    // change-password dialog, then the start.
    virtual void setNewPassword(const QByteArray &password) { Q_UNUSED(password); }
    virtual void startPasswordChange() {}

protected:
    // Nothing waits to be sent (a queued command), decoded or read from the
    // link, and the session's frame cutter holds nothing (`cutterEmpty`): a
    // polling tick would find no work.
    bool nothingWaiting(bool cutterEmpty) const;

    SessionHost &m_page;
};

// A session that does nothing on a tick: for a hardware type whose protocol
// is not available in this build. Opening its link says so, so that an
// operator is not left waiting for a unit that will never be served.
class IdleSession : public Session {
public:
    using Session::Session;
    void tick() override {}
    void linkOpening() override;
};
