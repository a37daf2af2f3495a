#include "QZTracer.h"

#include "TraceFormat.h"
#include "SystemServices.h"
#include "Utf8Encoding.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

namespace {

struct SinkSlot {
    QZTraceSink sink;
    void* context;
};

std::mutex g_sinkMutex;
SinkSlot g_sink{nullptr, nullptr};

// An unpaired surrogate becomes U+FFFD: a trace line is never dropped.
std::string ToUtf8(const std::u16string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const char32_t c = utf::NextCodePoint(text, i);
        utf::AppendUtf8(out, c == utf::kUnpairedSurrogate ? char32_t{0xFFFD} : c);
    }
    return out;
}

void WriteToEnvironmentTarget(const std::u16string& text)
{
    const char* target = std::getenv("QZTRACE");
    if (target == nullptr || *target == 0)
        return;
    const auto now = std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now());
    const auto seconds = std::chrono::floor<std::chrono::seconds>(now);
    const std::tm utc = os::UtcCalendar(std::chrono::system_clock::to_time_t(seconds));
    char stamp[64];
    strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &utc);
    std::string line = stamp;
    char tail[64];
    snprintf(tail, sizeof tail, ".%03ldZ [%ld] ", static_cast<long>((now - seconds).count()),
             static_cast<long>(os::CurrentThreadId()));
    line += tail;
    // One line per trace: a line break inside the text (a path may hold one)
    // becomes a blank.
    for (char c : ToUtf8(text))
        line.push_back(c == '\n' || c == '\r' ? ' ' : c);
    line.push_back('\n');
    if (std::strcmp(target, "stderr") == 0) {
        (void)std::fwrite(line.data(), 1, line.size(), stderr);
        return;
    }
    // One append per line keeps lines whole when several processes share the file.
    if (FILE* f = std::fopen(target, "ab")) {
        std::fwrite(line.data(), 1, line.size(), f);
        std::fclose(f);
    }
}

}  // namespace

// A trace never fails its caller: a line that cannot be made (no memory for
// its text) is dropped, and nothing is thrown across this C interface.
extern "C" void QZTraceVW(const char16_t* format, va_list args)
{
    try {
        std::u16string text = qz::FormatWide(format, args);
        SinkSlot slot;
        {
            std::lock_guard lock(g_sinkMutex);
            slot = g_sink;
        }
        if (slot.sink != nullptr)
            slot.sink(text.c_str(), slot.context);
        else
            WriteToEnvironmentTarget(text);
    } catch (...) {
    }
}

extern "C" void QZTraceW(const char16_t* format, ...)
{
    va_list args;
    va_start(args, format);
    QZTraceVW(format, args);
    va_end(args);
}

extern "C" void QZTraceSetSink(QZTraceSink sink, void* context)
{
    std::lock_guard lock(g_sinkMutex);
    g_sink = SinkSlot{sink, context};
}
