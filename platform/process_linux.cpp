#include "platform/ProcessTuning.h"

#include <malloc.h>

namespace orvantis {

void ReturnLargeBlocksToSystem()
{
    // A fixed threshold also turns off glibc's dynamic raising of it, which
    // would otherwise move multi-megabyte blocks into the arenas after the
    // first few are freed.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
}

}  // namespace orvantis
