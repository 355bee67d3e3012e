#include "platform/ProcessTuning.h"

namespace orvantis {

void ReturnLargeBlocksToSystem()
{
    // The Windows heap already serves blocks this large with VirtualAlloc and
    // releases them on free.
}

void PrepareForWriting(void*, std::size_t)
{
    // Nothing to gain: the faults of a fresh block are cheap enough there.
}

}  // namespace orvantis
