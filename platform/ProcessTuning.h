#pragma once

#include <cstddef>

namespace orvantis {

// Every screenshot allocates several megabytes on the connection thread that
// asked for it. With the C library's default policy those blocks stay in
// that thread's heap arena after it ends, so a burst of screenshot requests
// from many connections would leave the process holding tens of megabytes
// for good. This makes large blocks go straight back to the system when they
// are freed. Call once, at start-up, before any worker thread exists.
void ReturnLargeBlocksToSystem();

// Such a block is fresh memory each time, and touching it page by page
// costs one fault per page, which on some virtual machines adds up to
// milliseconds per screenshot. This asks the system to back the pages of
// [data, data + length) at once, in one call, before they are written. Only
// a hint: where that is not supported it does nothing.
void PrepareForWriting(void* data, std::size_t length);

}  // namespace orvantis
