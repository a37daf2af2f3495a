// Trace lines: Windows placeholders, no cut; without a sink to nowhere, stderr or QZTRACE's file, stamped.
#include "QZTracer.h"
#include "support/FileHelpers.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

#include <gtest/gtest.h>

#include <regex>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

const std::regex kStamped(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z \[(\d+)\] (.*)\n)");

TEST(TraceFormat, WindowsPlaceholdersAndLongArguments)
{
    TraceCapture trace;
    QZTraceW(u"[PVCodec.dll]CPVCodec::X() WATCH! n=%d, s=%s, l=%ld, pct=%%, S=%S, c=%c", -42, u"w\u00e9de", 123456789L,
             "narrow", u'Z');
    QZTraceW(u"%5d|%-4d|%04x|%.3d|%s|%I32d %I64d|%4s|%-3s|%128d|", 7, 3, 255, 9, static_cast<const char16_t*>(nullptr),
             5, int64_t{1} << 40, u"ab", u"c", 1);  // numbers cut at 127 characters
    const std::u16string path(40000, u'a');
    QZTraceW(u"path=%s end", path.c_str());
    EXPECT_EQ(trace.Lines(), (std::vector<std::string>{
                                 "[PVCodec.dll]CPVCodec::X() WATCH! n=-42, s=w\u00e9de, l=123456789, pct=%, "
                                 "S=narrow, c=Z",
                                 "    7|3   |00ff|009|(null)|5 1099511627776|  ab|c  |" + std::string(127, ' ') + "|", "path=" + std::string(40000, 'a') + " end"}));
}

TEST(TraceChannel, FileStandardErrorOrNowhere)
{
    TempDir dir;
    long mainThread = syscall(SYS_gettid), otherThread = 0;
    setenv("QZTRACE", (dir / "trace.log").c_str(), 1);
    QZTraceW(u"[PVCodec.dll]CPVCodec::X() WATCH! first %d", 1);
    std::thread([&] { otherThread = syscall(SYS_gettid), QZTraceW(u"path=%s", u"a\nb\rc"); }).join();
    std::smatch m;
    const std::string text = ReadBytes(dir / "trace.log"), first = text.substr(0, text.find('\n') + 1);
    ASSERT_TRUE(std::regex_match(first, m, kStamped)) << text;
    EXPECT_EQ(m[1].str() + " " + m[2].str(), std::to_string(mainThread) + " [PVCodec.dll]CPVCodec::X() WATCH! first 1");
    const std::string second = text.substr(first.size());  // a line stays one line
    ASSERT_TRUE(std::regex_match(second, m, kStamped)) << text;
    EXPECT_EQ(m[1].str() + " " + m[2].str(), std::to_string(otherThread) + " path=a b c");
    for (const char* target : {"stderr", static_cast<const char*>(nullptr)}) {
        target != nullptr ? setenv("QZTRACE", target, 1) : unsetenv("QZTRACE");  // unset: nowhere
        testing::internal::CaptureStderr();
        QZTraceW(u"to stderr %d", 5);
        const std::string out = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(target != nullptr ? std::regex_match(out, m, kStamped) && m[2] == "to stderr 5" : out.empty())
            << out;
    }
}
