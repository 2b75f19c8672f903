// The one place that knows which session serves which hardware type.
#include "connection/session.h"
#include "protocols/arx/arxsession.h"

std::unique_ptr<Session> createSession(int hardwareType, ConnectionPage &page)
{
    switch (hardwareType) {
    case 0:
        return std::make_unique<ArxSession>(page);
    default:
        return std::make_unique<IdleSession>(page);
    }
}
