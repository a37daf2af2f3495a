// CoTaskMemAlloc and CoTaskMemFree over the C allocator.
//
// The kernel overcommits memory: malloc grants a block of any size, and the
// process is killed (by the OOM killer, or its cgroup's) only when it touches
// more than the machine or its memory limit can back. A driver that asks for
// a whole-document image falls back to streaming when the allocation fails,
// so a large block is weighed first against the memory this process can
// still be given and refused, as Windows refuses it, when it does not fit.
#include "platform/TaskMemory.h"

#include "platform/Backend.h"

#include "platform/FaultInjection.h"
#include "platform/LastError.h"
#include "platform/posix/MemoryRoom.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <sys/mman.h>
#include <unordered_map>

namespace plat {
namespace {

// Blocks of this size and more are whole-document images. They are weighed
// before they are granted, and asked to be backed by huge pages where the
// system offers them (transparent huge pages in "madvise" mode), which takes
// one page fault per 2 MiB instead of one per 4 KiB when the image is first
// written. The resident size is the same: only whole huge pages inside the
// block are used. Smaller blocks go straight to malloc.
constexpr SIZE_T kLargeBlock = SIZE_T{4} << 20;

// Kept free beside a large block: for the rest of the process, page tables,
// and the error of the kernel's estimates.
constexpr ULONGLONG kHeadroom = ULONGLONG{32} << 20;

// The large blocks handed out and not freed yet. They count as used, whether
// or not they are touched yet (an untouched block shows in no figure of the
// kernel's), so that a call's second image is weighed with its first.
class LargeBlocks {
public:
    ULONGLONG Total()
    {
        std::lock_guard lock(m_mutex);
        return m_total;
    }
    void Add(void* block, SIZE_T size)
    {
        std::lock_guard lock(m_mutex);
        m_sizes.emplace(block, size);
        m_total += size;
    }
    void Remove(void* block)
    {
        std::lock_guard lock(m_mutex);
        if (auto it = m_sizes.find(block); it != m_sizes.end()) {
            m_total -= it->second;
            m_sizes.erase(it);
        }
    }

private:
    std::mutex m_mutex;
    std::unordered_map<void*, SIZE_T> m_sizes;
    ULONGLONG m_total = 0;
};

LargeBlocks& Large()
{
    static LargeBlocks blocks;
    return blocks;
}

// Whether `size` more bytes, beside the large blocks already out, leave the
// headroom free. A test may set the available figure through the seam; where
// no figure can be read, the C allocator decides alone.
bool CanBeBacked(SIZE_T size)
{
    std::optional<ULONGLONG> available = fault::InjectedAvailableMemory();
    if (!available)
        available = posix::AvailableMemory();
    if (!available)
        return true;
    const ULONGLONG wanted = ULONGLONG{size} + Large().Total() + kHeadroom;
    return wanted >= size && wanted <= *available;  // (a sum that wraps does not fit)
}

void AdviseHugePages([[maybe_unused]] void* block, [[maybe_unused]] SIZE_T size)
{
#if defined(MADV_HUGEPAGE)
    constexpr uintptr_t kPage = 4096;
    const auto first = (reinterpret_cast<uintptr_t>(block) + kPage - 1) & ~(kPage - 1);
    const auto last = (reinterpret_cast<uintptr_t>(block) + size) & ~(kPage - 1);
    if (last > first)
        (void)madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);  // advice only
#endif
}

}  // namespace

LPVOID backend::AllocateTaskMemory(SIZE_T size)
{
    const bool large = size >= kLargeBlock;
    if (large && !CanBeBacked(size)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // A block of 0 bytes is still a block that can be freed.
    void* block = std::malloc(size != 0 ? size : 1);
    if (block != nullptr && large) {
        AdviseHugePages(block, size);
        Large().Add(block, size);
    }
    return block;
}

void CoTaskMemFree(LPVOID block)
{
    if (block != nullptr)
        Large().Remove(block);
    std::free(block);
}

}  // namespace plat
