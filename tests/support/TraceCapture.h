// Collects the trace lines written while it lives, as UTF-8 strings.
#pragma once

#include "QZTracer.h"
#include "platform/WideString.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

class TraceCapture {
public:
    TraceCapture() { QZTraceSetSink(&TraceCapture::Sink, this); }
    ~TraceCapture() { QZTraceSetSink(nullptr, nullptr); }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    std::vector<std::string> Lines() const
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }
    bool Contains(const std::string& line) const { return std::ranges::count(Lines(), line) != 0; }  // an exact line
    bool ContainsText(const std::string& fragment) const  // a part of any line
    {
        return std::ranges::any_of(Lines(), [&](const std::string& l) { return l.find(fragment) != l.npos; });
    }
    void Clear()
    {
        std::lock_guard lock(m_mutex);
        m_lines.clear();
    }

private:
    static void Sink(const char16_t* line, void* context)
    {
        auto* self = static_cast<TraceCapture*>(context);
        std::lock_guard lock(self->m_mutex);
        self->m_lines.push_back(plat::Utf16ToUtf8(line).value_or("<invalid UTF-16>"));
    }
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};
