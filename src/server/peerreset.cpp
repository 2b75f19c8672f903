#include "server/peerreset.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

PeerResetProbe::~PeerResetProbe()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void PeerResetProbe::watch(qintptr descriptor)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = descriptor >= 0 ? ::fcntl(int(descriptor), F_DUPFD_CLOEXEC, 0) : -1;
}

bool PeerResetProbe::wasReset() const
{
    if (m_fd < 0)
        return false;
    tcp_info info{};
    socklen_t size = sizeof info;
    if (::getsockopt(m_fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0)
        return false;
    // After a FIN the socket waits in CLOSE_WAIT for our close; only a reset
    // (or a fatal error) takes it to CLOSED while a descriptor is still open.
    return info.tcpi_state == TCP_CLOSE;
}
