#pragma once
// The eight relay servers of the program, loaded together at start-up (after
// the connection pages) and disabled together when the main window closes.
#include "server/relayserver.h"

#include <array>

class RelayServers : public QObject {
    Q_OBJECT
public:
    static constexpr int kCount = 8;

    RelayServers(const QString &baseDir, MessageLog &log, const Clock &clock, RelayServer::SourceResolver resolver,
                 QObject *parent = nullptr);

    // number 1..8
    RelayServer *server(int number) const;

    struct LoadFailure {
        QString serverName;
        QString error;
    };
    // Server1..Server8 in order. A server whose files cannot be created or
    // read is not started; the others still are. Returns the failures.
    QList<LoadFailure> loadAll();
    void disableAll();

private:
    std::array<RelayServer *, kCount> m_servers{};
};
