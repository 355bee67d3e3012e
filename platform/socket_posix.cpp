#include "platform/SocketIo.h"

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include <fcntl.h>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orvantis {

namespace {

constexpr wxSOCKET_T kNoSocket = wxSOCKET_T(-1);

// The longest single wait of a transfer: how soon a raised stop is seen.
constexpr int kWaitSliceMs = 200;

bool Stopped(const TransferStop* stop)
{
    return stop && stop->load(std::memory_order_relaxed);
}

std::int64_t NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

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

std::size_t ReceiveOnce(wxSocketBase& socket, void* buffer, std::size_t capacity, int timeoutMs,
                        const TransferStop* stop)
{
    const wxSOCKET_T fd = socket.GetSocket();
    if (fd == kNoSocket || capacity == 0)
        return 0;
    const std::int64_t deadline = NowMs() + timeoutMs;
    bool waited = false;
    for (;;) {
        if (Stopped(stop))
            return 0;
        const ssize_t n = ::recv(fd, buffer, capacity, 0);
        if (n > 0)
            return static_cast<std::size_t>(n);
        if (n == 0)
            return 0;  // the peer closed
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return 0;
        // One wait only (in slices, to see a stop): after it, take what is
        // there.
        if (waited)
            return 0;
        const int left = static_cast<int>(deadline - NowMs());
        if (left <= 0)
            return 0;
        waited = WaitFor(fd, POLLIN, left < kWaitSliceMs ? left : kWaitSliceMs);
    }
}

namespace {

// A peer that answers must still take this many bytes in every period, or
// the transfer is given up.
constexpr std::uint64_t kMinProgressBytes = 64 * 1024;
constexpr std::int64_t kMinProgressPeriodMs = 30000;

// What the system knows of the peer's side of a connection.
struct PeerState {
    long unacknowledged = -1;  // bytes sent but not yet acknowledged; -1 unknown
    bool infoKnown = false;    // the fields below are valid
    std::int64_t msSinceAck = 0;  // since the last acknowledgement of any kind
    bool windowShut = false;      // the peer advertises no room to receive
    std::uint64_t acknowledged = 0;  // bytes it has acknowledged so far
};

PeerState Observe(wxSOCKET_T fd)
{
    PeerState state;
    int queued = 0;
    if (::ioctl(fd, SIOCOUTQ, &queued) == 0)
        state.unacknowledged = queued;
    tcp_info info{};
    socklen_t length = sizeof info;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) == 0 &&
        length >= offsetof(tcp_info, tcpi_snd_wnd) + sizeof info.tcpi_snd_wnd) {
        state.infoKnown = true;
        state.msSinceAck = info.tcpi_last_ack_recv;
        state.windowShut = info.tcpi_snd_wnd == 0;
        state.acknowledged = info.tcpi_bytes_acked;
    }
    return state;
}

// Whether a peer that left the send queue standing since the last look
// still counts as taking the answer: it acknowledged bytes, or it keeps
// answering with room to receive (a lossy link between retransmissions).
bool PeerStillTaking(const PeerState& before, const PeerState& now, int stallTimeoutMs)
{
    if (now.unacknowledged >= 0 && before.unacknowledged >= 0 && now.unacknowledged < before.unacknowledged)
        return true;
    return now.infoKnown && now.msSinceAck < stallTimeoutMs && !now.windowShut;
}

}  // namespace

std::size_t SendAll(wxSocketBase& socket, const void* data, std::size_t length, int stallTimeoutMs,
                    const TransferStop* stop)
{
    const wxSOCKET_T fd = socket.GetSocket();
    if (fd == kNoSocket)
        return 0;
    const char* p = static_cast<const char*>(data);
    std::size_t sent = 0;
    PeerState peer = Observe(fd);
    std::int64_t lastProgress = NowMs();
    std::int64_t periodStart = lastProgress;
    std::uint64_t acknowledgedAtPeriodStart = peer.acknowledged;
    while (sent < length && !Stopped(stop)) {
        const ssize_t n = ::send(fd, p + sent, length - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            lastProgress = NowMs();
            peer.unacknowledged = -1;  // looked at again after the next wait
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            break;
        if (WaitFor(fd, POLLOUT, kWaitSliceMs))
            continue;
        // No room yet: judge whether the peer is still there.
        const PeerState now = Observe(fd);
        const std::int64_t nowMs = NowMs();
        if (PeerStillTaking(peer, now, stallTimeoutMs))
            lastProgress = nowMs;
        peer = now;
        if (nowMs - lastProgress >= stallTimeoutMs)
            break;
        if (now.infoKnown && nowMs - periodStart >= kMinProgressPeriodMs) {
            if (now.acknowledged - acknowledgedAtPeriodStart < kMinProgressBytes)
                break;  // a trickle
            periodStart = nowMs;
            acknowledgedAtPeriodStart = now.acknowledged;
        }
    }
    return sent;
}

void ResetOnClose(wxSocketBase& socket)
{
    const wxSOCKET_T fd = socket.GetSocket();
    if (fd == kNoSocket)
        return;
    linger reset{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
}

bool DescriptorsExhausted()
{
    const int probe = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (probe >= 0) {
        ::close(probe);
        return false;
    }
    return errno == EMFILE || errno == ENFILE;
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
