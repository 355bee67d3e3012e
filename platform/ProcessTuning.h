#pragma once

namespace orvantis {

// Every screenshot allocates several megabytes on the connection thread that
// asked for it. With the C library's default policy those blocks stay in
// that thread's heap arena after it ends, so a burst of screenshot requests
// from many connections would leave the process holding tens of megabytes
// for good. This makes large blocks go straight back to the system when they
// are freed. Call once, at start-up, before any worker thread exists.
void ReturnLargeBlocksToSystem();

}  // namespace orvantis
