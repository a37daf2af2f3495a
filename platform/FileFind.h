// Looking files up by name: FindFirstFileW, FindNextFileW and FindClose with
// the WIN32_FIND_DATAW record, and the framework's CFileFind over them. A
// name may carry the wildcards '*' and '?' in its last component, matched
// without regard to case; without wildcards it names one file or folder.
#pragma once

#include "platform/FileTime.h"
#include "platform/WinTypes.h"

#include <string>

namespace plat {

struct WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;    // birth time, or the last write where the file system keeps none
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    WCHAR cFileName[MAX_PATH];
    WCHAR cAlternateFileName[14];
};

// INVALID_HANDLE_VALUE with ERROR_FILE_NOT_FOUND (or ERROR_PATH_NOT_FOUND,
// ERROR_INVALID_NAME) when nothing matches.
HANDLE FindFirstFileW(LPCWSTR fileName, WIN32_FIND_DATAW* findData);
// FALSE with ERROR_NO_MORE_FILES after the last match.
BOOL FindNextFileW(HANDLE findFile, WIN32_FIND_DATAW* findData);
BOOL FindClose(HANDLE findFile);

class CFileFind {
public:
    CFileFind() = default;
    ~CFileFind();
    CFileFind(const CFileFind&) = delete;
    CFileFind& operator=(const CFileFind&) = delete;

    // Starts a search; TRUE when something matches (null: every file of the
    // current folder). Call FindNextFile to step onto the first match.
    BOOL FindFile(LPCWSTR name = nullptr, DWORD unused = 0);
    // Steps onto the next match; FALSE when this was the last one.
    BOOL FindNextFile();
    void Close();

    std::u16string GetFileName() const;
    std::u16string GetFilePath() const;
    ULONGLONG GetLength() const;
    BOOL IsDirectory() const;
    BOOL IsReadOnly() const;
    BOOL IsDots() const;
    BOOL GetCreationTime(FILETIME* time) const;
    BOOL GetLastAccessTime(FILETIME* time) const;
    BOOL GetLastWriteTime(FILETIME* time) const;

private:
    bool HasCurrent() const { return m_current != nullptr; }

    HANDLE m_search = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW m_next{};
    bool m_haveNext = false;
    WIN32_FIND_DATAW m_data{};
    const WIN32_FIND_DATAW* m_current = nullptr;
    std::u16string m_root;  // the folder part of the searched name, with its separator
};

}  // namespace plat
