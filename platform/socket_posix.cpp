#include "platform/SocketIo.h"

#include <cerrno>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>

namespace orvantis {

namespace {

constexpr wxSOCKET_T kNoSocket = wxSOCKET_T(-1);

// Waits for `events` on `fd`; false on time-out, error or hang-up without data.
bool WaitFor(wxSOCKET_T fd, short events, int timeoutMs)
{
    pollfd p{fd, events, 0};
    for (;;) {
        const int rc = ::poll(&p, 1, timeoutMs);
        if (rc > 0)
            return (p.revents & (events | POLLHUP | POLLERR)) != 0;
        if (rc == 0 || errno != EINTR)
            return false;
    }
}

}  // namespace

wxSocketFlags ListenerFlags()
{
    return wxSOCKET_REUSEADDR;
}

void WidenListenBacklog(wxSocketServer& server)
{
    const wxSOCKET_T fd = server.GetSocket();
    if (fd != kNoSocket)
        ::listen(fd, SOMAXCONN);  // Linux and the BSDs take the new backlog
}

void UseNonBlockingDescriptor(wxSocketBase& socket)
{
    const wxSOCKET_T fd = socket.GetSocket();
    if (fd == kNoSocket)
        return;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1)
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

std::size_t ReceiveOnce(wxSocketBase& socket, void* buffer, std::size_t capacity, int timeoutMs)
{
    const wxSOCKET_T fd = socket.GetSocket();
    if (fd == kNoSocket || capacity == 0)
        return 0;
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, capacity, 0);
        if (n > 0)
            return static_cast<std::size_t>(n);
        if (n == 0)
            return 0;  // the peer closed
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return 0;
        if (!WaitFor(fd, POLLIN, timeoutMs))
            return 0;
        timeoutMs = 0;  // one wait only: after it, take what is there
    }
}

std::size_t SendAll(wxSocketBase& socket, const void* data, std::size_t length, int stallTimeoutMs)
{
    const wxSOCKET_T fd = socket.GetSocket();
    if (fd == kNoSocket)
        return 0;
    const char* p = static_cast<const char*>(data);
    std::size_t sent = 0;
    while (sent < length) {
        const ssize_t n = ::send(fd, p + sent, length - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            break;
        if (!WaitFor(fd, POLLOUT, stallTimeoutMs))
            break;
    }
    return sent;
}

void RaiseDescriptorLimit()
{
    rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

}  // namespace orvantis
