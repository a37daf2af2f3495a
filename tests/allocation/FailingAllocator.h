// An allocator that fails on request: this program replaces the global
// operator new, so every C++ allocation of the library, of the stand-in
// libraries it loads and of the standard library they use can be made to
// fail. Armed on one thread at a time; everything else allocates normally.
#pragma once

#include <cstddef>

namespace failingallocator {

// From now on, on this thread, allocation number `nth` (counted from 1) and
// every later one fail: operator new throws std::bad_alloc and its nothrow
// form answers null.
void FailFrom(size_t nth);
// Stops failing; answers whether any allocation failed since FailFrom.
bool Stop();

}  // namespace failingallocator
