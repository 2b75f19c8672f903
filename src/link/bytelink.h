#pragma once
// A byte link to a unit: serial port, modem line or TCP socket. Sessions and
// line readers see only this. Nothing here ever waits.
#include <QByteArray>

class ByteLink {
public:
    virtual ~ByteLink() = default;

    // Queues the bytes unchanged for sending.
    virtual void send(const QByteArray &bytes) = 0;
    // Takes up to max received bytes (none waiting: empty).
    virtual QByteArray readSome(int max) = 0;
    // Number of received bytes waiting.
    virtual int bytesWaiting() const = 0;
    // Discards received bytes still waiting in the link (a socket keeps them).
    virtual void clearReceive() = 0;
};
