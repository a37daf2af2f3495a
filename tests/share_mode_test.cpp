// Share modes: one table of (what holds the file, what comes next, error),
// run with the holder in this process and in another one. A refused call
// changes nothing, and the holder's locks go with it.
#include "platform/File.h"
#include "platform/LastError.h"
#include "platform/Stdio.h"
#include "support/ChildProcess.h"
#include "support/FileHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace plat;

namespace {

constexpr UINT kRead = CFile::modeRead, kWrite = CFile::modeWrite, kDenyNone = CFile::shareDenyNone,
               kDenyRead = CFile::shareDenyRead, kDenyWrite = CFile::shareDenyWrite, kExclusive = CFile::shareExclusive;
// Not CFile flags: the runtime's stream ("rb"), the destination probe
// (CreateFileW for writing, sharing reading), DeleteFileW, MoveFileW.
constexpr UINT kStream = 1u << 28, kProbe = 2u << 28, kDelete = 3u << 28, kMove = 4u << 28;

struct Held {
    CFile file;
    std::unique_ptr<FILE, int (*)(FILE*)> stream{nullptr, plat::fclose};
};

// What `how` does to `path`: 0, or the last error of its failure; `held` keeps what it opened.
DWORD Act(const std::u16string& path, UINT how, Held&& held = Held{})
{
    SetLastError(0);
    bool ok = true;
    if (how == kStream) {
        held.stream.reset(plat::_wfopen(path.c_str(), u"rb"));
        ok = held.stream != nullptr;
    } else if (how == kProbe) {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ok = h != INVALID_HANDLE_VALUE && CloseHandle(h);
    } else if (how == kDelete || how == kMove) {
        ok = how == kDelete ? DeleteFileW(path.c_str()) : MoveFileW(path.c_str(), (path + u"-moved").c_str());
    } else {
        ok = held.file.Open(path.c_str(), how);
    }
    return ok ? 0 : GetLastError();
}

}  // namespace

TEST(ShareModeContract, HolderMeetsTheNextCall)
{
    constexpr DWORD kViolation = ERROR_SHARING_VIOLATION;
    const struct { UINT holder, next; DWORD error; } rows[] = {
        {kRead | kDenyNone, kRead | kDenyNone, 0},           {kRead | kDenyWrite, kRead | kDenyWrite, 0},
        {kRead | kDenyWrite, kWrite | kDenyNone, kViolation}, {kWrite | kDenyNone, kRead | kDenyWrite, kViolation},
        {kRead | kDenyRead, kRead | kDenyNone, kViolation},   {kRead | kDenyNone, kRead | kDenyRead, kViolation},
        {kWrite | kExclusive, kRead | kDenyNone, kViolation}, {kRead | kDenyNone, kWrite | kExclusive, kViolation},
        {kRead | CFile::shareCompat, kRead | kDenyNone, kViolation},  // compatibility mode is exclusive
        {kWrite | kDenyRead, kWrite | kDenyRead, 0}, {CFile::modeReadWrite | kDenyNone, CFile::modeReadWrite | kDenyNone, 0},
        {kRead | kDenyWrite, CFile::modeCreate | kWrite | kDenyNone, kViolation},
        {kRead | kDenyNone, kProbe, 0},                        {kRead | kDenyWrite, kProbe, kViolation},
        {kWrite | kDenyNone, kProbe, kViolation},             {kRead | kDenyNone, kDelete, kViolation},
        {kRead | kDenyNone, kMove, kViolation},                {kStream, kRead | kDenyWrite, 0},
        {kStream, kWrite | kDenyNone, 0},                      {kStream, kRead | kDenyRead, kViolation},
        {kRead | kExclusive, kStream, kViolation},
    };
    for (const bool otherProcess : {false, true})
        for (const auto& r : rows) {
            SCOPED_TRACE(testing::Message() << std::hex << r.holder << " then " << r.next << " " << otherProcess);
            TempDir dir;
            LayOut(dir.Path());
            const std::u16string path = PathIn(dir.Path(), "f");
            auto held = std::make_unique<Held>();
            std::unique_ptr<ChildProcess> child;
            if (otherProcess) {
                child = std::make_unique<ChildProcess>([&](ChildProcess& self) {
                    const DWORD error = Act(path, r.holder, std::move(*held));
                    self.SignalParent();
                    self.WaitForParent();
                    return static_cast<int>(error);
                });
                ASSERT_TRUE(child->WaitForChild());
            } else {
                ASSERT_EQ(Act(path, r.holder, std::move(*held)), 0u);
            }
            EXPECT_EQ(Act(path, r.next), r.error);
            EXPECT_EQ(Listing(dir.Path()), "dir/ f=content ro=keep(ro)");  // no refused call changed a thing
            held.reset();
            if (child != nullptr)
                child->ReleaseChild();
            EXPECT_EQ(child != nullptr ? child->Join() : 0, 0);
            if (r.error != 0) {
                EXPECT_EQ(Act(path, r.next), 0u) << "the holder's locks went with it";
            }
        }
    EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(0x1234)));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}
