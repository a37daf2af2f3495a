#include "allocation/FailingAllocator.h"

#include <cstdlib>
#include <new>

namespace failingallocator {
namespace {

thread_local bool t_armed = false;
thread_local size_t t_count = 0;
thread_local size_t t_failFrom = 0;
thread_local bool t_failed = false;

// Whether this allocation is one to fail.
bool Refuse()
{
    if (!t_armed)
        return false;
    if (++t_count < t_failFrom)
        return false;
    t_failed = true;
    return true;
}

void* Allocate(size_t size, size_t alignment)
{
    if (Refuse())
        return nullptr;
    if (size == 0)
        size = 1;
    if (alignment <= alignof(std::max_align_t))
        return std::malloc(size);
    return std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
}

void* AllocateOrThrow(size_t size, size_t alignment)
{
    if (void* p = Allocate(size, alignment))
        return p;
    throw std::bad_alloc();
}

}  // namespace

void FailFrom(size_t nth)
{
    t_count = 0;
    t_failFrom = nth;
    t_failed = false;
    t_armed = true;
}

bool Stop()
{
    t_armed = false;
    return t_failed;
}

}  // namespace failingallocator

// Every form is replaced, so that no block passes between this allocator and
// another one (the sanitizers bring their own).
using failingallocator::Allocate;
using failingallocator::AllocateOrThrow;
constexpr size_t kPlain = alignof(std::max_align_t);

void* operator new(size_t size) { return AllocateOrThrow(size, kPlain); }
void* operator new[](size_t size) { return AllocateOrThrow(size, kPlain); }
void* operator new(size_t size, std::align_val_t a) { return AllocateOrThrow(size, static_cast<size_t>(a)); }
void* operator new[](size_t size, std::align_val_t a) { return AllocateOrThrow(size, static_cast<size_t>(a)); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size, kPlain); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Allocate(size, kPlain); }
void* operator new(size_t size, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return Allocate(size, static_cast<size_t>(a));
}
void* operator new[](size_t size, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return Allocate(size, static_cast<size_t>(a));
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
