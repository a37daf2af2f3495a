#include "platform/TaskMemory.h"

#include "platform/FaultInjection.h"
#include "platform/LastError.h"

#include <cstdint>
#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace plat {
namespace {

// Blocks of this size and more are whole-document images: they are asked to
// be backed by huge pages where the system offers them (transparent huge
// pages in "madvise" mode), which takes one page fault per 2 MiB instead of
// one per 4 KiB when the image is first written. The resident size is the
// same: only whole huge pages inside the block are used.
constexpr SIZE_T kLargeBlock = SIZE_T{4} << 20;

void AdviseHugePages([[maybe_unused]] void* block, [[maybe_unused]] SIZE_T size)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr uintptr_t kPage = 4096;
    const auto first = (reinterpret_cast<uintptr_t>(block) + kPage - 1) & ~(kPage - 1);
    const auto last = (reinterpret_cast<uintptr_t>(block) + size) & ~(kPage - 1);
    if (last > first)
        (void)madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);  // advice only
#endif
}

}  // namespace

LPVOID CoTaskMemAlloc(SIZE_T size)
{
    if (auto failure = fault::Check(fault::Op::CoTaskMemAlloc)) {
        SetLastError(failure->error);
        return nullptr;
    }
    // A block of 0 bytes is still a block that can be freed.
    void* block = std::malloc(size != 0 ? size : 1);
    if (block != nullptr && size >= kLargeBlock)
        AdviseHugePages(block, size);
    return block;
}

void CoTaskMemFree(LPVOID block)
{
    std::free(block);
}

}  // namespace plat
