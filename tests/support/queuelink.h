#pragma once
// A ByteLink whose received bytes are whatever the test (or fuzzer) queued;
// reads take as many as the caller asks for. Clearing drops them, as a serial
// port does, unless the link is socket-like and keeps them.
#include "link/bytelink.h"

class QueueLink : public ByteLink {
public:
    explicit QueueLink(bool socketLike = false) : m_socketLike(socketLike) {}

    QByteArray waiting;
    int clears = 0;

    void send(const QByteArray &) override {}
    QByteArray readSome(int max) override
    {
        const QByteArray out = waiting.left(max);
        waiting.remove(0, out.size());
        return out;
    }
    int bytesWaiting() const override { return int(waiting.size()); }
    void clearReceive() override
    {
        ++clears;
        if (!m_socketLike)
            waiting.clear();
    }

private:
    bool m_socketLike;
};
