#include "core/descriptors.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace descriptors {

namespace {
int g_reserve = -1;
}

bool raiseLimit()
{
    rlimit lim {};
    if (::getrlimit(RLIMIT_NOFILE, &lim) != 0)
        return false;
    if (lim.rlim_cur == lim.rlim_max)
        return true;
    lim.rlim_cur = lim.rlim_max;
    return ::setrlimit(RLIMIT_NOFILE, &lim) == 0;
}

void reserve()
{
    if (g_reserve < 0)
        g_reserve = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

int refuseWaiting(int listenFd)
{
    if (g_reserve < 0 || listenFd < 0)
        return -1;
    ::close(g_reserve);
    g_reserve = -1;
    int refused = 0;
    for (;;) {
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            break;
        ::close(fd);
        ++refused;
    }
    reserve();
    return refused;
}

bool available(int n)
{
    std::vector<int> fds;
    bool ok = true;
    for (int i = 0; i < n && ok; ++i) {
        const int fd = ::eventfd(0, EFD_CLOEXEC);
        if (fd < 0)
            ok = false;
        else
            fds.push_back(fd);
    }
    for (int fd : fds)
        ::close(fd);
    return ok;
}

} // namespace descriptors
