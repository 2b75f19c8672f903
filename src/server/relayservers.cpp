#include "server/relayservers.h"

RelayServers::RelayServers(const QString &baseDir, MessageLog &log, const Clock &clock,
                           RelayServer::SourceResolver resolver, QObject *parent)
    : QObject(parent)
{
    for (int i = 0; i < kCount; ++i)
        m_servers[size_t(i)] = new RelayServer(i + 1, baseDir, log, clock, resolver, this);
}

RelayServer *RelayServers::server(int number) const
{
    return number >= 1 && number <= kCount ? m_servers[size_t(number - 1)] : nullptr;
}

QList<RelayServers::LoadFailure> RelayServers::loadAll()
{
    QList<LoadFailure> failures;
    for (RelayServer *s : m_servers) {
        QString error;
        if (!s->loadSettings(error))
            failures.append({s->objectName(), error});
    }
    return failures;
}

void RelayServers::disableAll()
{
    for (RelayServer *s : m_servers)
        s->disable();
}
