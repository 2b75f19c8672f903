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

    // Server1..Server8 in order; stops at the first server whose files cannot
    // be created or read and returns false with `error` set.
    bool loadAll(QString &error);
    void disableAll();

private:
    std::array<RelayServer *, kCount> m_servers{};
};
