// Collects the trace lines written while it lives, as UTF-8 strings.
#pragma once

#include <mutex>
#include <string>
#include <vector>

class TraceCapture {
public:
    TraceCapture();
    ~TraceCapture();
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    std::vector<std::string> Lines() const;
    bool Contains(const std::string& line) const;  // an exact line
    bool ContainsText(const std::string& fragment) const;  // a part of any line
    void Clear();

private:
    static void Sink(const char16_t* line, void* context);
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};
