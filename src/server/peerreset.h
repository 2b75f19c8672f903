#pragma once
// Tells a client's reset from its orderly close. The socket layer reports
// both as "remote host closed" and has closed its descriptor by then; a
// duplicate descriptor keeps the connection's TCP state readable until the
// client's record is released.
#include <QtGlobal>

class PeerResetProbe {
public:
    PeerResetProbe() = default;
    ~PeerResetProbe();
    PeerResetProbe(const PeerResetProbe &) = delete;
    PeerResetProbe &operator=(const PeerResetProbe &) = delete;

    void watch(qintptr descriptor);
    // The peer reset the connection (its state went to CLOSED while it was
    // still held here); false after an orderly close or when not watched.
    bool wasReset() const;

private:
    int m_fd = -1;
};
