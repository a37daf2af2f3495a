// The test seam: every named operation can be made to fail on a chosen call
// with a chosen error and cause; hook points and the virtual clock work; and
// nothing is counted while the seam is off.
#include "PVCommon.h"
#include "platform/FaultInjection.h"
#include "platform/File.h"
#include "platform/FileApi.h"
#include "platform/LastError.h"
#include "platform/TaskMemory.h"
#include "platform/Timing.h"
#include "support/FileHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

using namespace plat;

namespace {

struct Outcome {
    bool failed;
    int cause;  // -1: no exception involved
};

// A fresh file name in `dir` for every call.
std::string Fresh(const TempDir& dir, const char* stem)
{
    static int counter = 0;
    return dir / (std::string(stem) + std::to_string(++counter));
}

std::string FreshFile(const TempDir& dir)
{
    std::string path = Fresh(dir, "f");
    WriteBytes(path, "content");
    return path;
}

template <typename Body>
Outcome Catching(Body body)
{
    try {
        body();
        return {false, -1};
    } catch (const CFileException& e) {
        return {true, e.m_cause};
    }
}

}  // namespace

struct FaultCase {
    const char* name;
    fault::Op op;
    std::function<Outcome(const TempDir&)> call;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class FaultPoint : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultPoint, FailsExactlyTheChosenCall)
{
    const FaultCase& c = GetParam();
    TempDir dir;
    fault::Scope seam;
    // 1450 maps to no cause of its own (genericException); the explicit cause wins.
    fault::FailNthCall(c.op, 2, fault::Failure{ERROR_NO_SYSTEM_RESOURCES, CFileException::hardIO});
    const Outcome first = c.call(dir);
    SetLastError(0);
    const Outcome second = c.call(dir);
    const DWORD lastError = GetLastError();
    const Outcome third = c.call(dir);

    EXPECT_FALSE(first.failed);
    EXPECT_TRUE(second.failed);
    EXPECT_EQ(lastError, ERROR_NO_SYSTEM_RESOURCES);
    if (second.cause != -1) {
        EXPECT_EQ(second.cause, CFileException::hardIO);
    }
    EXPECT_FALSE(third.failed);
    EXPECT_EQ(fault::CallCount(c.op), 3u);
    EXPECT_EQ(fault::FailedCount(c.op), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    EveryOperation, FaultPoint,
    ::testing::Values(
        FaultCase{"CoTaskMemAlloc", fault::Op::CoTaskMemAlloc,
                  [](const TempDir&) {
                      void* block = CoTaskMemAlloc(64);
                      CoTaskMemFree(block);
                      return Outcome{block == nullptr, -1};
                  }},
        FaultCase{"FileOpen", fault::Op::FileOpen,
                  [](const TempDir& d) {
                      CFile file;
                      CFileException error;
                      const bool opened = file.Open(Wide(FreshFile(d)).c_str(), CFile::modeRead, &error);
                      return Outcome{!opened, opened ? -1 : error.m_cause};
                  }},
        FaultCase{"FileRead", fault::Op::FileRead,
                  [](const TempDir& d) {
                      CFile file(Wide(FreshFile(d)).c_str(), CFile::modeRead);
                      char buffer[8];
                      return Catching([&] { file.Read(buffer, sizeof buffer); });
                  }},
        FaultCase{"FileWrite", fault::Op::FileWrite,
                  [](const TempDir& d) {
                      CFile file(Wide(Fresh(d, "w")).c_str(), CFile::modeCreate | CFile::modeWrite);
                      return Catching([&] { file.Write("abc", 3); });
                  }},
        FaultCase{"FileRename", fault::Op::FileRename,
                  [](const TempDir& d) {
                      return Catching(
                          [&] { CFile::Rename(Wide(FreshFile(d)).c_str(), Wide(Fresh(d, "r")).c_str()); });
                  }},
        FaultCase{"FileRemove", fault::Op::FileRemove,
                  [](const TempDir& d) { return Catching([&] { CFile::Remove(Wide(FreshFile(d)).c_str()); }); }},
        FaultCase{"FileSetStatus", fault::Op::FileSetStatus,
                  [](const TempDir& d) {
                      CFileStatus status;
                      status.m_mtime = FILETIME{1, 1};
                      return Catching([&] { CFile::SetStatus(Wide(FreshFile(d)).c_str(), status); });
                  }},
        FaultCase{"MoveFileW", fault::Op::MoveFileW,
                  [](const TempDir& d) {
                      return Outcome{!MoveFileW(Wide(FreshFile(d)).c_str(), Wide(Fresh(d, "m")).c_str()), -1};
                  }},
        FaultCase{"DeleteFileW", fault::Op::DeleteFileW,
                  [](const TempDir& d) { return Outcome{!DeleteFileW(Wide(FreshFile(d)).c_str()), -1}; }},
        FaultCase{"CreateFileW", fault::Op::CreateFileW,
                  [](const TempDir& d) {
                      HANDLE h = CreateFileW(Wide(FreshFile(d)).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
                      if (h == INVALID_HANDLE_VALUE)
                          return Outcome{true, -1};
                      CloseHandle(h);
                      return Outcome{false, -1};
                  }},
        FaultCase{"GetTempFileNameW", fault::Op::GetTempFileNameW,
                  [](const TempDir& d) {
                      char16_t name[MAX_PATH];
                      return Outcome{GetTempFileNameW(Wide(d.Path()).c_str(), u"~PV", 0, name) == 0, -1};
                  }},
        FaultCase{"WipeOutFile", fault::Op::WipeOutFile,
                  [](const TempDir& d) {
                      const std::string path = FreshFile(d);
                      const int wiped = CFileWipeOut::WipeOutFile(Wide(path).c_str());
                      // A refused wipe leaves the file as it was.
                      if (wiped == 0 && ReadBytes(path) != "content")
                          return Outcome{false, -1};
                      return Outcome{wiped == 0, -1};
                  }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FaultInjection, RefusedLargeReadLeavesErrorNoSystemResources)
{
    TempDir dir;
    WriteBytes(dir / "f", "content");
    fault::Scope seam;
    fault::FailNthCall(fault::Op::FileRead, 1, fault::Failure{ERROR_NO_SYSTEM_RESOURCES});
    CFile file(Wide(dir / "f").c_str(), CFile::modeRead);
    char buffer[7];
    try {
        file.Read(buffer, 7);
        FAIL() << "read went through";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::genericException);
        EXPECT_EQ(e.m_lOsError, static_cast<LONG>(ERROR_NO_SYSTEM_RESOURCES));
        EXPECT_EQ(GetLastError(), ERROR_NO_SYSTEM_RESOURCES);
    }
    EXPECT_EQ(file.Read(buffer, 7), 7u);  // the file position did not move
}

TEST(FaultInjection, FrameworkCallsDoNotUseUpWin32Plans)
{
    TempDir dir;
    WriteBytes(dir / "a", "A");
    WriteBytes(dir / "x", "X");
    fault::Scope seam;
    fault::FailNthCall(fault::Op::MoveFileW, 1, fault::Failure{});
    fault::FailNthCall(fault::Op::DeleteFileW, 1, fault::Failure{});
    CFile::Rename(Wide(dir / "a").c_str(), Wide(dir / "b").c_str());
    CFile::Remove(Wide(dir / "x").c_str());
    EXPECT_EQ(fault::CallCount(fault::Op::MoveFileW), 0u);
    EXPECT_EQ(fault::CallCount(fault::Op::DeleteFileW), 0u);
    EXPECT_FALSE(MoveFileW(Wide(dir / "b").c_str(), Wide(dir / "c").c_str()));  // the plan is still there
}

TEST(FaultInjection, NothingIsCountedWhileOff)
{
    fault::ResetAll();
    ASSERT_FALSE(fault::Active());
    CoTaskMemFree(CoTaskMemAlloc(8));
    EXPECT_EQ(fault::CallCount(fault::Op::CoTaskMemAlloc), 0u);
    int calls = 0;
    HookPoint(hook::kBeforeReplace);  // no hook: nothing runs
    fault::SetHook([&](std::string_view) { ++calls; });
    EXPECT_TRUE(fault::Active());
    HookPoint(hook::kBeforeReplace);
    fault::ResetAll();
    HookPoint(hook::kBeforeReplace);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(fault::Active());
}

TEST(VirtualClock, SleepsCostNoTimeAndAreCounted)
{
    fault::Scope seam;
    fault::UseVirtualClock(true);
    int sleepPoints = 0;
    fault::SetHook([&](std::string_view point) { sleepPoints += point == hook::kSleep; });
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; ++i)
        Sleep(1000);
    Sleep(20);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(fault::Sleeps(), (std::vector<DWORD>{1000, 1000, 1000, 1000, 1000, 20}));
    EXPECT_EQ(fault::VirtualMilliseconds(), 5020u);
    EXPECT_EQ(sleepPoints, 6);
}
