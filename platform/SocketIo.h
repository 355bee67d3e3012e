#pragma once
// Socket work that the toolkit offers no safe call for.
//
// The toolkit's own timed reads and writes wait with select(), whose fd_set
// cannot hold descriptors numbered 1024 and above: with a thousand phones'
// connections open, a wait would write past the set and corrupt the stack.
// Connection threads therefore wait and transfer through these calls.

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

// One receive: waits at most `timeoutMs` for data, then takes what has
// arrived, up to `capacity` bytes. Returns the byte count, 0 when nothing
// came in time, the peer closed, or the receive failed.
std::size_t ReceiveOnce(wxSocketBase& socket, void* buffer, std::size_t capacity, int timeoutMs);

// Sends all `length` bytes, waiting for the peer to take them; gives up when
// the peer takes nothing for `stallTimeoutMs` or the connection fails.
// A slow peer that keeps taking bytes (a phone on a weak WiFi link) gets
// the whole answer however long it takes: progress is judged by the bytes
// that leave the send queue, not by the system calling the socket writable,
// which on Linux waits until a third of a large send buffer is free.
// Returns the number of bytes handed over.
std::size_t SendAll(wxSocketBase& socket, const void* data, std::size_t length, int stallTimeoutMs);

// Out of descriptors, a pending connection cannot be accepted; it stays
// queued, and the listener reports it again at once, for ever. Call this
// when accepting failed: it releases a descriptor kept in reserve, accepts
// the connection and closes it at once, then takes the reserve again.
// Returns true when a connection was shed that way, false when none was
// pending or descriptors are not what is missing. Only the thread that
// accepts may call it.
bool ShedPendingConnection(wxSocketServer& server);

// Lets the process hold as many descriptors as the system allows it, so a
// burst of connections is not refused at the default soft limit.
void RaiseDescriptorLimit();

}  // namespace orvantis
