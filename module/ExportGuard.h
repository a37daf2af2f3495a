// The outer edge of every exported function of CPVCodec: whatever its body
// throws (std::bad_alloc from a working buffer or a path, a file exception a
// step does not handle, anything from a library it calls) ends the call with
// the function's failure result, so no C++ exception reaches a host, which
// may not even be written in C++.
#pragma once

#include "QZTracer.h"

#include <utility>

namespace exportguard {

// Runs `body` and answers its result, or `failure` when it throws; a function
// that traces names the exception in `trace` (null: no line).
template <typename Body>
int NothingEscapes(int failure, const char16_t* trace, Body&& body) noexcept
{
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        if (trace != nullptr)
            QZTraceW(trace);
    }
    return failure;
}

}  // namespace exportguard
