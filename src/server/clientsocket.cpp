#include "server/clientsocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

ClientSocket::ClientSocket(FdPoller &poller, int fd) : m_poller(poller), m_fd(fd)
{
    if (m_fd < 0)
        return;
    const int flags = ::fcntl(m_fd, F_GETFL);
    ::fcntl(m_fd, F_SETFL, flags | O_NONBLOCK);
    sockaddr_storage peer {};
    socklen_t size = sizeof peer;
    if (::getpeername(m_fd, reinterpret_cast<sockaddr *>(&peer), &size) == 0) {
        m_peer.setAddress(reinterpret_cast<const sockaddr *>(&peer));
        m_peerPort = peer.ss_family == AF_INET6 ? ntohs(reinterpret_cast<const sockaddr_in6 *>(&peer)->sin6_port)
                                                : ntohs(reinterpret_cast<const sockaddr_in *>(&peer)->sin_port);
    } else {
        m_error = errno;
    }
    m_registered = m_poller.add(m_fd, EPOLLIN, this);
    if (!m_registered && m_error == 0)
        m_error = errno ? errno : EBADF;
}

ClientSocket::~ClientSocket()
{
    if (m_fd < 0)
        return;
    if (m_registered)
        m_poller.remove(m_fd);
    ::close(m_fd);
}

void ClientSocket::setSendBufferSize(int bytes)
{
    ::setsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}

void ClientSocket::resetOnClose()
{
    const linger reset {1, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
}

void ClientSocket::write(const QByteArray &bytes)
{
    if (!isOpen() || bytes.isEmpty())
        return;
    if (bytesToWrite() > 0) {
        m_out.append(bytes);
        return;
    }
    m_out = bytes; // shared, not copied, unless the kernel leaves some
    m_sent = 0;
    // An error found here is reported from the poller, never from inside a
    // delivery: the descriptor is watched and ready at once with it.
    flush();
}

bool ClientSocket::flush()
{
    while (bytesToWrite() > 0) {
        const ssize_t n = ::send(m_fd, m_out.constData() + m_sent, size_t(bytesToWrite()), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            m_sent += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            m_error = errno;
        break;
    }
    if (bytesToWrite() == 0) {
        m_out.clear();
        m_sent = 0;
    }
    // For writing only while something waits, or to hear of the error.
    if (m_registered)
        m_poller.modify(m_fd, (m_error != 0 || bytesToWrite() > 0) ? EPOLLIN | EPOLLOUT : EPOLLIN);
    return m_error == 0;
}

void ClientSocket::fail(int error)
{
    m_error = error;
    m_closed = true;
    if (onClosed)
        onClosed(error); // may delete this
}

void ClientSocket::fdReady(std::uint32_t events)
{
    if (m_error != 0) {
        fail(m_error);
        return;
    }
    if ((events & EPOLLOUT) && !flush()) {
        fail(m_error);
        return;
    }
    if (!(events & (EPOLLIN | EPOLLERR | EPOLLHUP)))
        return;
    QByteArray bytes(kReadChunk, Qt::Uninitialized);
    const ssize_t n = ::recv(m_fd, bytes.data(), size_t(bytes.size()), 0);
    if (n > 0) {
        bytes.truncate(n);
        if (onData)
            onData(bytes); // may delete this
        return;
    }
    if (n == 0) {
        fail(0);
        return;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return;
    fail(errno);
}
