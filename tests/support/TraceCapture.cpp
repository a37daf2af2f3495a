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
    std::string text = plat::Utf16ToUtf8(line).value_or("<invalid UTF-16>");
    std::lock_guard lock(self->m_mutex);
    self->m_lines.push_back(std::move(text));
}

std::vector<std::string> TraceCapture::Lines() const
{
    std::lock_guard lock(m_mutex);
    return m_lines;
}

bool TraceCapture::Contains(const std::string& line) const
{
    std::lock_guard lock(m_mutex);
    return std::find(m_lines.begin(), m_lines.end(), line) != m_lines.end();
}

bool TraceCapture::ContainsText(const std::string& fragment) const
{
    std::lock_guard lock(m_mutex);
    return std::any_of(m_lines.begin(), m_lines.end(),
                       [&](const std::string& l) { return l.find(fragment) != std::string::npos; });
}

void TraceCapture::Clear()
{
    std::lock_guard lock(m_mutex);
    m_lines.clear();
}
