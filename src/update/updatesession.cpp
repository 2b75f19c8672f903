#include "update/updatesession.h"

#include "connection/connectionpage.h"

UpdateMachine &UpdateMachine::of(ConnectionPage &page)
{
    auto *machine = page.findChild<UpdateMachine *>(QString(), Qt::FindDirectChildrenOnly);
    if (!machine)
        machine = new UpdateMachine(page, &page);
    return *machine;
}

UpdateSession::UpdateSession(SessionHost &page, UpdateMachine &machine) : Session(page), m_machine(&machine)
{
    machine.m_session = this;
}

UpdateSession::~UpdateSession()
{
    detach();
}

void UpdateSession::detach()
{
    if (m_machine && m_machine->m_session == this)
        m_machine->m_session = nullptr;
    m_machine = nullptr;
}

Session &UpdateSession::handBack(bool reconnect)
{
    detach();
    return m_page.endSession(reconnect);
}

void UpdateSession::tick()
{
    const int phase = m_page.record().phase;
    if (m_machine && (phase == UpdateMachine::kEepromPhase || phase == UpdateMachine::kNetworkPhase)) {
        m_machine->tick();
        return;
    }
    // The link failed or was opened again: the unit's session takes the phase it finds.
    handBack(false).tick();
}

void UpdateSession::connectButton()
{
    handBack(true);
}

void UpdateSession::disconnectButton()
{
    handBack(false).disconnectButton();
}

void UpdateSession::requestShutdown()
{
    handBack(false).requestShutdown();
}

void UpdateSession::linkOpening()
{
    handBack(false).linkOpening();
}
