// Where trace lines go without a sink: nowhere by default, standard error or
// a file named by QZTRACE, one line each with a UTC timestamp and the id of
// the writing thread before the text.
#include "QZTracer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

class ScopedTraceTarget {
public:
    explicit ScopedTraceTarget(const char* value)
    {
        if (const char* old = std::getenv("QZTRACE"))
            m_old = old, m_had = true;
        if (value != nullptr)
            setenv("QZTRACE", value, 1);
        else
            unsetenv("QZTRACE");
    }
    ~ScopedTraceTarget()
    {
        if (m_had)
            setenv("QZTRACE", m_old.c_str(), 1);
        else
            unsetenv("QZTRACE");
    }

private:
    std::string m_old;
    bool m_had = false;
};

std::vector<std::string> ReadLines(const std::string& path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

const std::regex kStamped(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z \[(\d+)\] (.*))");

TEST(TraceChannel, AppendsStampedLinesToTheNamedFile)
{
    TempDir dir;
    std::string path = dir / "trace.log";
    ScopedTraceTarget target(path.c_str());
    QZTraceW(u"[PVCodec.dll]CPVCodec::X() WATCH! first %d", 1);
    long mainThread = syscall(SYS_gettid);
    long otherThread = 0;
    std::thread([&] {
        otherThread = syscall(SYS_gettid);
        QZTraceW(u"second %s", u"line");
    }).join();

    auto lines = ReadLines(path);
    ASSERT_EQ(lines.size(), 2u);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, kStamped)) << lines[0];
    EXPECT_EQ(std::stol(m[1]), mainThread);
    EXPECT_EQ(m[2], "[PVCodec.dll]CPVCodec::X() WATCH! first 1");
    ASSERT_TRUE(std::regex_match(lines[1], m, kStamped)) << lines[1];
    EXPECT_EQ(std::stol(m[1]), otherThread);
    EXPECT_EQ(m[2], "second line");
}

TEST(TraceChannel, StandardError)
{
    ScopedTraceTarget target("stderr");
    testing::internal::CaptureStderr();
    QZTraceW(u"to stderr %d", 5);
    std::string out = testing::internal::GetCapturedStderr();
    std::smatch m;
    ASSERT_FALSE(out.empty());
    ASSERT_EQ(out.back(), '\n');
    out.pop_back();
    ASSERT_TRUE(std::regex_match(out, m, kStamped)) << out;
    EXPECT_EQ(m[2], "to stderr 5");
}

TEST(TraceChannel, NowhereByDefaultAndALineStaysOneLine)
{
    {
        ScopedTraceTarget target(nullptr);
        testing::internal::CaptureStderr();
        QZTraceW(u"silent");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    }
    TempDir dir;
    std::string path = dir / "trace.log";
    ScopedTraceTarget target(path.c_str());
    QZTraceW(u"path=%s", u"a\nb\rc");
    auto lines = ReadLines(path);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("path=a b c"), std::string::npos) << lines[0];
}

}  // namespace
