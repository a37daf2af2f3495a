// The test seam: a chosen call fails with a chosen error and cause; hooks run; nothing counts while off.
#include "platform/FaultInjection.h"
#include "platform/File.h"
#include "platform/LastError.h"
#include "platform/TaskMemory.h"
#include "support/FileHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <functional>

using namespace plat;

// The second of three calls fails with error 1450 and cause hardIO; each call has its own file "f<n>".
TEST(FaultInjection, FailsExactlyTheChosenCallOfEveryOperation)
{
    using Call = std::function<bool(const std::u16string& file, const std::u16string& fresh)>;
    const auto throws = [](auto call) { return ThrownCause(call) == CFileException::hardIO; };
    const struct { fault::Op op; Call failed; } rows[] = {
        {fault::Op::CoTaskMemAlloc, [](auto&, auto&) {
             const std::unique_ptr<void, void (*)(void*)> block(CoTaskMemAlloc(64), CoTaskMemFree);
             return block == nullptr;
         }},
        {fault::Op::FileOpen, [&](auto& f, auto&) { return throws([&] { CFile file(f.c_str(), CFile::modeRead); }); }},
        {fault::Op::FileRead, [&](auto& f, auto&) {
             char b[8];
             return throws([&] { CFile(f.c_str(), CFile::modeRead).Read(b, 8); });
         }},
        {fault::Op::FileRemove, [&](auto& f, auto&) { return throws([&] { CFile::Remove(f.c_str()); }); }},
        {fault::Op::MoveFileW, [](auto& f, auto& n) { return !MoveFileW(f.c_str(), n.c_str()); }},
        {fault::Op::DeleteFileW, [](auto& f, auto&) { return !DeleteFileW(f.c_str()); }},
        {fault::Op::CreateFileW, [](auto& f, auto&) {
             HANDLE h = CreateFileW(f.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
             return h == INVALID_HANDLE_VALUE || !CloseHandle(h);
         }},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(fault::OpName(r.op));
        TempDir dir;
        for (const std::string n : {"1", "2", "3"})
            WriteBytes(dir / ("f" + n), "content");
        fault::Scope seam;
        fault::FailNthCall(r.op, 2, fault::Failure{ERROR_NO_SYSTEM_RESOURCES, CFileException::hardIO});
        std::vector<bool> failed;
        for (const std::string n : {"1", "2", "3"}) {
            SetLastError(0);
            failed.push_back(r.failed(Wide(dir / ("f" + n)), Wide(dir / ("new" + n))));
            EXPECT_EQ(GetLastError() == ERROR_NO_SYSTEM_RESOURCES, failed.back());
        }
        EXPECT_EQ(failed, (std::vector<bool>{false, true, false}));
        EXPECT_EQ(fault::CallCount(r.op), 3u);
        EXPECT_EQ(fault::FailedCount(r.op), 1u);
        EXPECT_EQ(ReadBytes(dir / "f2"), "content");  // the failed call left its file as it was
    }
}
