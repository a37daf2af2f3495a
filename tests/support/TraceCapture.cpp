#include "support/TraceCapture.h"

#include "QZTracer.h"
#include "platform/WideString.h"

#include <algorithm>

TraceCapture::TraceCapture()
{
    QZTraceSetSink(&TraceCapture::Sink, this);
}

TraceCapture::~TraceCapture()
{
    QZTraceSetSink(nullptr, nullptr);
}

void TraceCapture::Sink(const char16_t* line, void* context)
{
    auto* self = static_cast<TraceCapture*>(context);
    std::lock_guard lock(self->m_mutex);
    self->m_lines.push_back(plat::Utf16ToUtf8(line).value_or("<invalid UTF-16>"));
}

std::vector<std::string> TraceCapture::Lines() const
{
    std::lock_guard lock(m_mutex);
    return m_lines;
}

bool TraceCapture::Contains(const std::string& line) const
{
    const auto lines = Lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool TraceCapture::ContainsText(const std::string& fragment) const
{
    const auto lines = Lines();
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(fragment) != l.npos; });
}

void TraceCapture::Clear()
{
    std::lock_guard lock(m_mutex);
    m_lines.clear();
}
