#pragma once
// What a relay server keeps for one connected client, from its connect event
// to its disconnect.
#include "server/changequeue.h"
#include "server/messageassembly.h"
#include "server/clientsocket.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <memory>

struct RelayClient {
    RelayClient(std::unique_ptr<ClientSocket> s, char terminator, bool arx)
        : socket(std::move(s)), assembler(terminator, arx)
    {
    }

    std::unique_ptr<ClientSocket> socket;
    bool arxHalted = true;
    bool hdHalted = true;
    bool kfHalted = true;
    int level = 1;             // 0 none (ignored), 1 Observer, 2 Operator, 3 Supervisor
    bool loggedIn = false;     // a log-in succeeded (needed when authentication is required)
    int activity = 0;          // records sent since the last list refresh; -1 = KX-71 client identified
    qint32 clientPort = 0;     // identity in the change queues
    ChangeQueue changeQueue;
    MessageAssembler assembler;
    QString address;           // dotted address of the peer
    QString hostName;          // from the reverse look-up; empty until it answers
    QString user;              // name given at the last successful log-in
    bool lookupStarted = false;
    QDateTime connectedAt;
    QDateTime lastMessageAt;   // last complete message (or KX-71 request)
    quint64 bytesQueued = 0;   // everything handed to the socket so far
    quint64 bytesTaken = 0;    // of which the peer had taken at the last look
    // Milliseconds since the epoch, -1 for none: the first look that found
    // bytes waiting and none taken, and the last look.
    qint64 stallSinceMs = -1;
    qint64 lastLookMs = -1;
    bool keptUp = false;       // the last look found nothing waiting, here or in the kernel
    quint64 id = 0;            // stable identity for the client list rows
    bool spoke = false;        // sent anything at all
    bool started = false;      // started data (or, KX-71, asked for any)
    bool kxRefusalTold = false; // its first refused KX-71 settings command was reported
    bool dropNow = false;      // closed once the message at hand is done with
    // A log-in held back while the server slows log-ins, and what the client
    // sent after it, handled once it is answered.
    bool loginPending = false;
    QByteArray pendingLogin;
    char pendingTerminator = '\r';
    QDateTime loginDueAt;
    QList<QByteArray> held;
};
