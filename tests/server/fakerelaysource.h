#pragma once
// A relay source the tests fill by hand: hardware type, identities, stored
// KX-71 frames, a relay store, and a record of forwarded unit commands.
#include "connection/relaysource.h"
#include "connection/relaystore.h"

#include <QList>
#include <QMap>

class FakeRelaySource : public RelaySource {
public:
    int type = 0;
    int family = 0;
    QByteArray model;
    QByteArray ident;
    QByteArray kxType, kxVersion;
    QMap<char, QByteArray> kxFrames;
    RelayStore store;
    QList<QByteArray> commands;

    int hardwareType() const override { return type; }
    const RelayStore &relayStore() const override { return store; }
    int unitFamily() const override { return family; }
    QByteArray modelId() const override { return model; }
    QByteArray identLine() const override { return ident; }
    QByteArray kxTypeReply() const override { return kxType; }
    QByteArray kxVersionReply() const override { return kxVersion; }
    QByteArray kxStoredFrame(char selector) const override { return kxFrames.value(selector); }
    bool queueUnitCommand(const QByteArray &text) override
    {
        commands.append(text);
        return true;
    }
};
