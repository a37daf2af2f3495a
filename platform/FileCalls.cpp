// The Win32 file calls and the task allocator that the test seam can make
// fail (platform/FaultInjection.h): the seam first, then the backend.
#include "platform/Backend.h"
#include "platform/FaultInjection.h"
#include "platform/FileApi.h"
#include "platform/LastError.h"
#include "platform/TaskMemory.h"

namespace plat {
namespace {

// The injected failure's error as the last error, when this call is chosen.
bool Injected(fault::Op op)
{
    if (auto failure = fault::Check(op)) {
        SetLastError(failure->error);
        return true;
    }
    return false;
}

}  // namespace

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPVOID /*securityAttributes*/,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE /*templateFile*/)
{
    if (Injected(fault::Op::CreateFileW))
        return INVALID_HANDLE_VALUE;
    return backend::CreateHandle(fileName, desiredAccess, shareMode, creationDisposition, flagsAndAttributes);
}

BOOL DeleteFileW(LPCWSTR fileName)
{
    return Injected(fault::Op::DeleteFileW) ? FALSE : backend::RemoveFile(fileName);
}

BOOL MoveFileW(LPCWSTR existingName, LPCWSTR newName)
{
    return Injected(fault::Op::MoveFileW) ? FALSE : backend::RenameFile(existingName, newName);
}

UINT GetTempFileNameW(LPCWSTR pathName, LPCWSTR prefix, UINT unique, LPWSTR tempFileName)
{
    return GetTempFileNameW(pathName, prefix, unique, tempFileName, MAX_PATH);
}

UINT GetTempFileNameW(LPCWSTR pathName, LPCWSTR prefix, UINT unique, LPWSTR tempFileName, DWORD bufferChars)
{
    if (pathName == nullptr || tempFileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (Injected(fault::Op::GetTempFileNameW))
        return 0;
    return backend::MakeTempFile(pathName, prefix, unique, tempFileName, bufferChars);
}

LPVOID CoTaskMemAlloc(SIZE_T size)
{
    return Injected(fault::Op::CoTaskMemAlloc) ? nullptr : backend::AllocateTaskMemory(size);
}

}  // namespace plat
