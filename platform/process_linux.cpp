#include "platform/ProcessTuning.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace orvantis {

void ReturnLargeBlocksToSystem()
{
    // A fixed threshold also turns off glibc's dynamic raising of it, which
    // would otherwise move multi-megabyte blocks into the arenas after the
    // first few are freed.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
}

void PrepareForWriting(void* data, std::size_t length)
{
#ifdef MADV_POPULATE_WRITE
    static const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    if (length == 0 || page == 0)
        return;
    // Whole pages: those that hold the first and the last byte are mapped
    // all through. Kernels before 5.14 refuse the advice; nothing is lost.
    const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(data) & ~(page - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(data) + length + page - 1) & ~(page - 1);
    madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
#else
    (void)data;
    (void)length;
#endif
}

}  // namespace orvantis
