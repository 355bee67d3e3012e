#include "platform/SocketIo.h"

#include <winsock2.h>

namespace orvantis {

namespace {

// Waits until the socket is readable (or writable); false on time-out or
// error. A Windows fd_set holds socket handles, not a bitmap, so any socket
// fits.
bool WaitFor(SOCKET s, bool forWrite, int timeoutMs)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    fd_set errors;
    FD_ZERO(&errors);
    FD_SET(s, &errors);
    timeval tv;
    tv.tv_sec = timeoutMs / 1000;
    tv.tv_usec = (timeoutMs % 1000) * 1000;
    const int rc = select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, &errors, &tv);
    return rc > 0;
}

bool Stopped(const TransferStop* stop)
{
    return stop && stop->load(std::memory_order_relaxed);
}

// Waits as WaitFor does, for at most `timeoutMs` in all, in slices short
// enough to see a raised stop within a fifth of a second.
bool WaitInSlices(SOCKET s, bool forWrite, int timeoutMs, const TransferStop* stop)
{
    constexpr int kSliceMs = 200;
    for (int left = timeoutMs; left > 0 && !Stopped(stop); left -= kSliceMs) {
        if (WaitFor(s, forWrite, left < kSliceMs ? left : kSliceMs))
            return true;
    }
    return false;
}

}  // namespace

wxSocketFlags ListenerFlags()
{
    return wxSOCKET_NONE;
}

void WidenListenBacklog(wxSocketServer&)
{
    // Winsock ignores listen() on a socket that already listens, so the
    // toolkit's backlog stays.
}

void UseNonBlockingDescriptor(wxSocketBase& socket)
{
    const SOCKET s = socket.GetSocket();
    if (s == INVALID_SOCKET)
        return;
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
}

bool HasDataWaiting(wxSocketBase& socket)
{
    const SOCKET s = socket.GetSocket();
    u_long waiting = 0;
    return s != INVALID_SOCKET && ioctlsocket(s, FIONREAD, &waiting) == 0 && waiting > 0;
}

std::size_t ReceiveOnce(wxSocketBase& socket, void* buffer, std::size_t capacity, int timeoutMs,
                        const TransferStop* stop)
{
    const SOCKET s = socket.GetSocket();
    if (s == INVALID_SOCKET || capacity == 0)
        return 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (Stopped(stop))
            return 0;
        const int n = recv(s, static_cast<char*>(buffer), static_cast<int>(capacity), 0);
        if (n > 0)
            return static_cast<std::size_t>(n);
        if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK)
            return 0;
        if (attempt == 0 && !WaitInSlices(s, false, timeoutMs, stop))
            return 0;
    }
    return 0;
}

std::size_t SendAll(wxSocketBase& socket, const void* data, std::size_t length, int stallTimeoutMs,
                    const TransferStop* stop)
{
    // Windows reports a socket writable as soon as any room is free in its
    // send buffer, so a peer that keeps taking bytes, however slowly, never
    // lets a wait run out: the limit applies only to one that takes nothing.
    const SOCKET s = socket.GetSocket();
    if (s == INVALID_SOCKET)
        return 0;
    const char* p = static_cast<const char*>(data);
    std::size_t sent = 0;
    while (sent < length && !Stopped(stop)) {
        const std::size_t chunk = length - sent > 0x10000000 ? 0x10000000 : length - sent;
        const int n = send(s, p + sent, static_cast<int>(chunk), 0);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK)
            break;
        if (!WaitInSlices(s, true, stallTimeoutMs, stop))
            break;
    }
    return sent;
}

void ResetOnClose(wxSocketBase& socket)
{
    const SOCKET s = socket.GetSocket();
    if (s == INVALID_SOCKET)
        return;
    linger reset;
    reset.l_onoff = 1;
    reset.l_linger = 0;
    setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset), sizeof reset);
}

bool DescriptorsExhausted()
{
    // Sockets are handles on Windows, with no small per-process limit to
    // run out of.
    return false;
}

void RaiseDescriptorLimit()
{
    // Sockets are handles on Windows; there is no descriptor limit to raise.
}

}  // namespace orvantis
