#include "platform/SocketIo.h"

#include <cerrno>
#include <chrono>
#include <cstdint>

#include <fcntl.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

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

bool HasDataWaiting(wxSocketBase& socket)
{
    const wxSOCKET_T fd = socket.GetSocket();
    int waiting = 0;
    return fd != kNoSocket && ::ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0;
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

namespace {

// Bytes handed to the system for this connection that the peer has not yet
// acknowledged; -1 when the system does not say.
long Unacknowledged(wxSOCKET_T fd)
{
    int queued = 0;
    return ::ioctl(fd, SIOCOUTQ, &queued) == 0 ? queued : -1;
}

std::int64_t NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

std::size_t SendAll(wxSocketBase& socket, const void* data, std::size_t length, int stallTimeoutMs)
{
    const wxSOCKET_T fd = socket.GetSocket();
    if (fd == kNoSocket)
        return 0;
    // How often a waiting send looks at the send queue for progress.
    constexpr int kProgressCheckMs = 200;
    const char* p = static_cast<const char*>(data);
    std::size_t sent = 0;
    long queued = Unacknowledged(fd);
    std::int64_t lastProgress = NowMs();
    while (sent < length) {
        const ssize_t n = ::send(fd, p + sent, length - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            queued = Unacknowledged(fd);
            lastProgress = NowMs();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            break;
        if (WaitFor(fd, POLLOUT, kProgressCheckMs))
            continue;
        // No room yet. A peer that keeps acknowledging bytes is making
        // progress, however slowly; one that takes nothing at all for the
        // whole limit is given up on.
        const long now = Unacknowledged(fd);
        if (now >= 0 && queued >= 0 && now < queued)
            lastProgress = NowMs();
        queued = now;
        if (NowMs() - lastProgress >= stallTimeoutMs)
            break;
    }
    return sent;
}

namespace {

// A descriptor kept in reserve for shedding connections when the process
// has none left (see ShedPendingConnection).
int g_spareDescriptor = -1;

void TakeSpareDescriptor()
{
    if (g_spareDescriptor < 0)
        g_spareDescriptor = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

}  // namespace

bool ShedPendingConnection(wxSocketServer& server)
{
    const wxSOCKET_T fd = server.GetSocket();
    if (fd == kNoSocket)
        return false;
    // Only when there is no descriptor to accept with: a connection that
    // came in just after an accept found none pending is served as usual.
    const int probe = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (probe >= 0) {
        ::close(probe);
        return false;
    }
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN))
        return false;
    if (g_spareDescriptor >= 0) {
        ::close(g_spareDescriptor);
        g_spareDescriptor = -1;
    }
    const int connection = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection >= 0)
        ::close(connection);
    TakeSpareDescriptor();
    return connection >= 0;
}

void RaiseDescriptorLimit()
{
    rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    TakeSpareDescriptor();
}

}  // namespace orvantis
