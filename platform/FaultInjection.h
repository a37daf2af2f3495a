// Test seam of the platform layer: chosen calls of named operations fail,
// a hook runs at named points, and Sleep runs on a virtual clock. All of it
// is compiled in and off until a test turns it on; while off, each seam costs
// one relaxed atomic load.
//
// Operations that can be made to fail (Op), and how the failure shows:
//   CoTaskMemAlloc    returns null
//   FileOpen          CFile::Open returns 0, its CFileException filled
//   FileRead          CFile::Read throws; GetLastError() answers the error
//                     (ERROR_NO_SYSTEM_RESOURCES 1450 for the refused large read)
//   FileWrite         CFile::Write throws (ERROR_DISK_FULL gives diskFull)
//   FileRename        CFile::Rename throws (before any MoveFileW call)
//   FileRemove        CFile::Remove throws
//   FileSetStatus     CFile::SetStatus throws
//   MoveFileW         MoveFileW returns FALSE ("k times": FailCalls with count k)
//   DeleteFileW       DeleteFileW returns FALSE
//   CreateFileW       CreateFileW returns INVALID_HANDLE_VALUE (the destination probe)
//   GetTempFileNameW  GetTempFileNameW returns 0, creating nothing
//   WipeOutFile       CFileWipeOut::WipeOutFile returns 0 and leaves the file as it was
// Each failure stores its error as the thread's last error; a thrown
// CFileException carries it in m_lOsError and the cause in m_cause.
//
// Memory: the available memory that CoTaskMemAlloc weighs a large block
// against (platform/TaskMemory.h) can be set to a figure of the test's.
//
// Hook points: HookPoint(name) runs the test's hook with that name. The
// names the library passes through:
//   "temp-created"        a driver's temporary file is open, nothing written yet
//   "before-replace"      the temporary file is complete and closed; the
//                         destination is still untouched
//   "destination-removed" the old destination is wiped out or deleted; the
//                         temporary file is not yet renamed
//   "after-rename"        the temporary file has the destination's name; its
//                         status is not yet applied
//   "wipe-overwritten"    WipeOutFile has overwritten the whole file with random
//                         bytes and flushed it; name and length still as before
//   "wipe-renamed"        WipeOutFile has emptied the file and renamed it to its
//                         random name; not yet removed
//   "sleep"               every Sleep, after the clock advanced
#pragma once

#include "platform/WinTypes.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

namespace hook {
inline constexpr const char* kTempCreated = "temp-created";
inline constexpr const char* kBeforeReplace = "before-replace";
inline constexpr const char* kDestinationRemoved = "destination-removed";
inline constexpr const char* kAfterRename = "after-rename";
inline constexpr const char* kWipeOverwritten = "wipe-overwritten";
inline constexpr const char* kWipeRenamed = "wipe-renamed";
inline constexpr const char* kSleep = "sleep";
}  // namespace hook

// Runs the test's hook, if one is set, with `name`.
void HookPoint(const char* name);

namespace fault {

enum class Op : unsigned {
    CoTaskMemAlloc,
    FileOpen,
    FileRead,
    FileWrite,
    FileRename,
    FileRemove,
    FileSetStatus,
    MoveFileW,
    DeleteFileW,
    CreateFileW,
    GetTempFileNameW,
    WipeOutFile,
    Count
};
const char* OpName(Op op);

struct Failure {
    DWORD error = ERROR_ACCESS_DENIED;  // the Win32 code left as the last error
    int cause = -1;                     // CFileException cause; -1 derives it from `error`
};

// Calls number `first` to `first + count - 1` of `op`, counted from 1 from
// this moment, fail with `failure`. Replaces an earlier plan for `op`.
void FailCalls(Op op, unsigned first, unsigned count, Failure failure);
inline void FailNthCall(Op op, unsigned nth, Failure failure) { FailCalls(op, nth, 1, failure); }
// Calls of `op` seen since its plan was made (or since ResetAll), and how
// many of them were failed.
unsigned CallCount(Op op);
unsigned FailedCount(Op op);

using Hook = std::function<void(std::string_view point)>;
// Runs `hook` at every hook point (empty: none).
void SetHook(Hook hook);

// CoTaskMemAlloc weighs large blocks against `bytes` instead of the
// machine's available memory; nullopt gives the machine's figure back.
void SetAvailableMemory(std::optional<ULONGLONG> bytes);

// Sleep advances a virtual clock instead of waiting, and keeps each length.
void UseVirtualClock(bool on);
std::vector<DWORD> Sleeps();
ULONGLONG VirtualMilliseconds();

// SHChangeNotify calls seen while the seam is on: (event, path).
struct ShellNotification {
    LONG event;
    UINT flags;
    std::u16string path;
};
std::vector<ShellNotification> ShellNotifications();

// Everything off: no plans, no hook, the real clock, records and counters cleared.
void ResetAll();

// For a test: turns the seam on (recording) and resets it on both ends.
class Scope {
public:
    Scope();
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
};

// ---- Used at the seams of the layer and of the stand-in libraries.
// Counts one call of `op` and answers the failure to inject, if this call is chosen.
std::optional<Failure> Check(Op op);
// The test's available-memory figure, when one is set.
std::optional<ULONGLONG> InjectedAvailableMemory();
// Whether the seam is on at all (a plan, a hook, the virtual clock, a memory
// figure or a Scope).
bool Active();
void RecordShellNotification(LONG event, UINT flags, std::u16string_view path);
// Advances the virtual clock by `ms`; false when the real clock is in use.
bool VirtualSleep(DWORD ms);

}  // namespace fault
}  // namespace plat
