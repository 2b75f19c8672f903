// The one place that knows which session serves which hardware type.
#include "connection/session.h"

std::unique_ptr<Session> createSession(int hardwareType, ConnectionPage &page)
{
    switch (hardwareType) {
    default:
        return std::make_unique<IdleSession>(page);
    }
}
