#include "platform/FaultInjection.h"

#include <array>
#include <atomic>
#include <mutex>

namespace plat {
namespace fault {
namespace {

struct Plan {
    bool armed = false;
    unsigned first = 0;
    unsigned count = 0;
    Failure failure;
    unsigned calls = 0;
    unsigned failed = 0;
};

struct State {
    std::mutex mutex;
    std::array<Plan, static_cast<size_t>(Op::Count)> plans;
    Hook hook;
    bool virtualClock = false;
    std::optional<ULONGLONG> availableMemory;
    bool scoped = false;
    ULONGLONG virtualNow = 0;
    std::vector<DWORD> sleeps;
    std::vector<ShellNotification> notifications;
};

// The one flag that every seam reads first.
std::atomic<bool> g_active{false};

State& TheState()
{
    static State state;
    return state;
}

// Call with the mutex held.
void UpdateActive(State& s)
{
    bool any = s.hook != nullptr || s.virtualClock || s.availableMemory || s.scoped;
    for (const Plan& p : s.plans)
        any = any || p.armed;
    g_active.store(any, std::memory_order_release);
}

}  // namespace

const char* OpName(Op op)
{
    static constexpr const char* kNames[] = {
        "CoTaskMemAlloc", "CFile::Open",    "CFile::Read", "CFile::Write",   "CFile::Rename",
        "CFile::Remove",  "CFile::SetStatus", "MoveFileW", "DeleteFileW",    "CreateFileW",
        "GetTempFileNameW", "WipeOutFile"};
    static_assert(std::size(kNames) == static_cast<size_t>(Op::Count));
    auto index = static_cast<size_t>(op);
    return index < std::size(kNames) ? kNames[index] : "?";
}

void FailCalls(Op op, unsigned first, unsigned count, Failure failure)
{
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    s.plans.at(static_cast<size_t>(op)) = Plan{count > 0, first, count, failure, 0, 0};
    UpdateActive(s);
}

unsigned CallCount(Op op)
{
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    return s.plans.at(static_cast<size_t>(op)).calls;
}

unsigned FailedCount(Op op)
{
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    return s.plans.at(static_cast<size_t>(op)).failed;
}

void SetHook(Hook hook)
{
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    s.hook = std::move(hook);
    UpdateActive(s);
}

void UseVirtualClock(bool on)
{
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    s.virtualClock = on;
    UpdateActive(s);
}

void SetAvailableMemory(std::optional<ULONGLONG> bytes)
{
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    s.availableMemory = bytes;
    UpdateActive(s);
}

std::optional<ULONGLONG> InjectedAvailableMemory()
{
    if (!Active())
        return std::nullopt;
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    return s.availableMemory;
}

std::vector<DWORD> Sleeps()
{
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    return s.sleeps;
}

ULONGLONG VirtualMilliseconds()
{
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    return s.virtualNow;
}

std::vector<ShellNotification> ShellNotifications()
{
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    return s.notifications;
}

void ResetAll()
{
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    s.plans = {};
    s.hook = nullptr;
    s.virtualClock = false;
    s.availableMemory.reset();
    s.scoped = false;
    s.virtualNow = 0;
    s.sleeps.clear();
    s.notifications.clear();
    UpdateActive(s);
}

Scope::Scope()
{
    ResetAll();
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    s.scoped = true;
    UpdateActive(s);
}

Scope::~Scope()
{
    ResetAll();
}

bool Active()
{
    return g_active.load(std::memory_order_relaxed);
}

std::optional<Failure> Check(Op op)
{
    if (!Active())
        return std::nullopt;
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    Plan& plan = s.plans.at(static_cast<size_t>(op));
    unsigned call = ++plan.calls;
    if (!plan.armed || call < plan.first || call - plan.first >= plan.count)
        return std::nullopt;
    ++plan.failed;
    return plan.failure;
}

void RecordShellNotification(LONG event, UINT flags, std::u16string_view path)
{
    if (!Active())
        return;
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    s.notifications.push_back({event, flags, std::u16string(path)});
}

bool VirtualSleep(DWORD ms)
{
    if (!Active())
        return false;
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    if (!s.virtualClock)
        return false;
    s.virtualNow += ms;
    s.sleeps.push_back(ms);
    return true;
}

}  // namespace fault

void HookPoint(const char* name)
{
    if (!fault::Active())
        return;
    fault::Hook hook;
    {
        fault::State& s = fault::TheState();
        std::lock_guard lock(s.mutex);
        hook = s.hook;
    }
    if (hook)
        hook(name != nullptr ? name : "");
}

}  // namespace plat
