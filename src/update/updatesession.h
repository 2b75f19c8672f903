#pragma once
// An update as the page's session: while the page is in an update phase
// each tick is one step of the update machine. The update ends by handing
// the page back to a fresh session of its hardware type (through Reconnect
// on success); anything else the page asks of it (a button, a link opened
// again, a phase left) hands the page back first and passes the request on.
#include "connection/session.h"
#include "update/updatemachine.h"

#include <QPointer>

class UpdateSession : public Session {
public:
    UpdateSession(SessionHost &page, UpdateMachine &machine);
    ~UpdateSession() override;

    void tick() override;
    void connectButton() override;
    void disconnectButton() override;
    void requestShutdown() override;
    void linkOpening() override;

    // The page's fresh unit session, which runs from now on.
    Session &handBack(bool reconnect);

private:
    void detach();

    QPointer<UpdateMachine> m_machine;
};
