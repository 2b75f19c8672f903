#pragma once
// What a relay server reads from its source (a connection page or the log
// player) and the one slot it writes. The server never reaches further into
// a page than this.
#include <QByteArray>

class RelayStore;

class RelaySource {
public:
    virtual ~RelaySource() = default;

    // 0 ARX family, 1 KX-71, 2 HD, 3 KF-71 (the log player is always 0).
    virtual int hardwareType() const = 0;
    virtual const RelayStore &relayStore() const = 0;

    // ARX family: module family of the connected unit (0 FM, 1 TV, 2 KA-71,
    // 3 KA-72) and the model id it reported ("KM71", ...).
    virtual int unitFamily() const { return 0; }
    virtual QByteArray modelId() const { return {}; }

    // HD / KF-71: the unit's reply to "UI\r" as stored by the session.
    virtual QByteArray identLine() const { return {}; }

    // KX-71: stored replies to "T\r" and "U\r", and the stored trace frame
    // selected by a request's digit ('1'..'4'); empty when there is none.
    virtual QByteArray kxTypeReply() const { return {}; }
    virtual QByteArray kxVersionReply() const { return {}; }
    virtual QByteArray kxStoredFrame(char selector) const { Q_UNUSED(selector); return {}; }

    // Hands a unit command to the source's session; it is sent exactly as
    // given at the session's next opportunity. A second command stored before
    // the first was sent replaces it. Returns false when the source forwards
    // no commands (the log player).
    virtual bool queueUnitCommand(const QByteArray &text) { Q_UNUSED(text); return false; }
};
