// The trace channel's formatting: Windows meaning of the wide placeholders,
// and no overflow whatever the arguments.
#include "QZTracer.h"
#include "support/TraceCapture.h"

#include <gtest/gtest.h>

TEST(TraceFormat, WindowsPlaceholders)
{
    TraceCapture trace;
    QZTraceW(u"[PVCodec.dll]CPVCodec::X() WATCH! n=%d, s=%s, l=%ld, pct=%%, S=%S, c=%c", -42, u"w\u00e9de", 123456789L,
             "narrow", u'Z');
    QZTraceW(u"%5d|%-4d|%04x|%s", 7, 3, 255, static_cast<const char16_t*>(nullptr));
    ASSERT_EQ(trace.Lines().size(), 2u);
    EXPECT_EQ(trace.Lines()[0], "[PVCodec.dll]CPVCodec::X() WATCH! n=-42, s=w\u00e9de, l=123456789, pct=%, S=narrow, c=Z");
    EXPECT_EQ(trace.Lines()[1], "    7|3   |00ff|(null)");
}

TEST(TraceFormat, LongArgumentsAreNotCut)
{
    TraceCapture trace;
    std::u16string path(40000, u'a');
    QZTraceW(u"path=%s end", path.c_str());
    ASSERT_EQ(trace.Lines().size(), 1u);
    EXPECT_EQ(trace.Lines()[0].size(), 5 + 40000 + 4u);
}
