// Settings and user files as found on disk: any bytes must read without a
// crash, and what is read must write back and read again the same.
#include "connection/connectionsettings.h"
#include "server/clientguard.h"
#include "server/serversettings.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    ConnectionSettings s = ConnectionSettings::defaults(1, QStringLiteral("/base"));
    QString error;
    if (connectionsettings::parse(input, s, &error)) {
        ConnectionSettings again = ConnectionSettings::defaults(1, QStringLiteral("/base"));
        const QByteArray text = connectionsettings::serialize(s);
        // A text holding a line break cannot be stored; everything else round-trips.
        bool storable = true;
        for (const QString *t : {&s.password, &s.phoneNumber, &s.ipAddress, &s.logDirectory, &s.logPrefix,
                                 &s.connectionName, &s.rackName, &s.hostName})
            storable = storable && !t->contains(QLatin1Char('\n')) && !t->contains(QLatin1Char('\r'));
        if (storable && (!connectionsettings::parse(text, again, &error) || !(again == s)))
            __builtin_trap();
    }
    ServerSettings server;
    if (serverfiles::parseSettings(input, server, error)) {
        ServerSettings again;
        if (!serverfiles::parseSettings(serverfiles::settingsText(server), again, error) || !(again == server))
            __builtin_trap();
        // The allowed networks against the input's first line as a peer address.
        const QString peer = QString::fromLatin1(input.left(input.indexOf('\n')));
        serverfiles::clientAllowed(server.allowedClients, peer);
        ClientGuard::hostKey(peer);
        ClientGuard::networkKey(peer);
    }
    serverfiles::parseUsers(input);
    return 0;
}
