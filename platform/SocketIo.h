#pragma once
// Socket work that the toolkit offers no safe call for.
//
// The toolkit's own timed reads and writes wait with select(), whose fd_set
// cannot hold descriptors numbered 1024 and above: with a thousand phones'
// connections open, a wait would write past the set and corrupt the stack.
// Connection threads therefore wait and transfer through these calls.

#include <atomic>
#include <cstddef>

#include <wx/socket.h>

namespace orvantis {

// The flags the listening socket is made with. On Linux they include address
// reuse: without it a restart within a minute of serving a phone finds port
// 80 held by the last connections' TIME_WAIT and falls back to 8888, while a
// port that another program listens on still cannot be taken. Windows keeps
// plain flags: there address reuse would let this program take a port that
// is in use, and a restart rebinds at once anyway.
wxSocketFlags ListenerFlags();

// wxWidgets listens with a backlog of 5, so a burst of phones connecting at
// once gets some of them dropped and retried a second later. This widens the
// backlog of an already listening server to the system's maximum where the OS
// honours a second listen() call; elsewhere it does nothing.
void WidenListenBacklog(wxSocketServer& server);

// Puts a connection's descriptor into non-blocking mode, so that a transfer
// never blocks past its time limit.
void UseNonBlockingDescriptor(wxSocketBase& socket);

// True when bytes the peer sent are waiting to be read: a request that has
// arrived, as opposed to a connection that is still silent.
bool HasDataWaiting(wxSocketBase& socket);

// Raised when the program closes: every wait of a transfer below looks at it
// at least five times a second and ends once it is set.
using TransferStop = std::atomic<bool>;

// One receive: waits at most `timeoutMs` for data, then takes what has
// arrived, up to `capacity` bytes. Returns the byte count, 0 when nothing
// came in time, the peer closed, the receive failed or `stop` was raised.
std::size_t ReceiveOnce(wxSocketBase& socket, void* buffer, std::size_t capacity, int timeoutMs,
                        const TransferStop* stop = nullptr);

// Sends all `length` bytes, waiting for the peer to take them; gives up when
// the peer is gone (see below), the connection fails or `stop` is raised.
// A slow peer (a phone on a weak WiFi link) gets the whole answer however
// long it takes, as long as it keeps answering:
// - On Linux the peer counts as gone when it has sent no acknowledgement of
//   any kind for `stallTimeoutMs`, or its receive window stayed shut that
//   long (it stopped reading). A lossy link, where the oldest byte waits
//   seconds for its retransmission while the peer keeps sending duplicate
//   and selective acknowledgements, is not a gone peer. A peer that answers
//   but takes fewer than 64 KB in 30 s is given up on too, so a trickle
//   cannot hold a worker for ever.
// - On Windows the limit applies to a wait in which the peer took nothing:
//   the system calls the socket writable as soon as any room is free.
// Returns the number of bytes handed over.
std::size_t SendAll(wxSocketBase& socket, const void* data, std::size_t length, int stallTimeoutMs,
                    const TransferStop* stop = nullptr);

// Makes the closing of this connection a reset rather than an orderly end,
// and drops whatever is still unsent: the peer sees an error instead of an
// answer that looks whole but is cut short.
void ResetOnClose(wxSocketBase& socket);

// True when the process has no descriptor left to open, as when accepting
// fails for that reason: a pending connection then stays queued, and the
// listener reports it again at once. Always false where sockets are not
// descriptors with a small per-process limit.
bool DescriptorsExhausted();

// Lets the process hold as many descriptors as the system allows it, so a
// burst of connections is not refused at the default soft limit.
void RaiseDescriptorLimit();

}  // namespace orvantis
