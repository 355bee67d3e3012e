#pragma once

namespace orvantis {

// Has `fn(arg)` called on the calling thread once that thread ends: after
// its thread function has returned and after whatever the threading code
// around it still runs (a toolkit's own clean-up of its thread objects
// included). At most one call is registered per thread; a second replaces
// the first. `fn` must not throw. False when the system cannot: then nothing
// is registered.
bool RunWhenThreadEnds(void (*fn)(void*), void* arg);

}  // namespace orvantis
