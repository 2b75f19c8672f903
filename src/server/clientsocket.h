#pragma once
// One accepted viewer connection on its bare descriptor, watched through the
// relay server's poller. Writes go to the kernel at once; only what it does
// not take waits here, and only then is the descriptor watched for writing.
// Reads are handed on as they arrive, at most kReadChunk at a time.
#include "core/fdpoller.h"

#include <QByteArray>
#include <QHostAddress>
#include <functional>

class ClientSocket : private FdPoller::Watcher {
public:
    static constexpr qsizetype kReadChunk = 64 * 1024;

    // Takes the descriptor; it is closed with the object.
    ClientSocket(FdPoller &poller, int fd);
    ~ClientSocket();
    ClientSocket(const ClientSocket &) = delete;
    ClientSocket &operator=(const ClientSocket &) = delete;

    // Called from the poller only, never from within write(). Either may
    // delete this object; it is not touched afterwards.
    std::function<void(const QByteArray &)> onData;
    // 0 for the peer's orderly close, otherwise the errno that ended it.
    std::function<void(int error)> onClosed;

    int descriptor() const { return m_fd; }
    // False once the connection failed, even before onClosed is called.
    bool isOpen() const { return m_fd >= 0 && m_error == 0 && !m_closed; }
    QHostAddress peerAddress() const { return m_peer; }
    quint16 peerPort() const { return m_peerPort; }
    // What waits here for the kernel to take it (not what the kernel holds).
    qint64 bytesToWrite() const { return m_out.size() - m_sent; }

    void write(const QByteArray &bytes);
    void setSendBufferSize(int bytes);
    // Closing then resets the connection instead of sending what is left.
    void resetOnClose();

private:
    void fdReady(std::uint32_t events) override;
    bool flush();
    void fail(int error);

    FdPoller &m_poller;
    int m_fd;
    int m_error = 0;
    bool m_closed = false; // the peer closed its end
    bool m_registered = false;
    QByteArray m_out;
    qsizetype m_sent = 0;
    QHostAddress m_peer;
    quint16 m_peerPort = 0;
};
