#include "platform/ProcessTuning.h"

namespace orvantis {

void ReturnLargeBlocksToSystem()
{
    // The Windows heap already serves blocks this large with VirtualAlloc and
    // releases them on free.
}

}  // namespace orvantis
