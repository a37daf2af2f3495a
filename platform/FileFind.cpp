#include "platform/FileFind.h"

#include "platform/PathText.h"

namespace plat {

CFileFind::~CFileFind()
{
    Close();
}

BOOL CFileFind::FindFile(LPCWSTR name, DWORD /*unused*/)
{
    Close();
    const std::u16string pattern = name != nullptr ? std::u16string(name) : std::u16string(u"*.*");
    m_search = FindFirstFileW(pattern.c_str(), &m_next);
    if (m_search == INVALID_HANDLE_VALUE)
        return FALSE;
    m_haveNext = true;
    const size_t separator = FindLastSeparator(pattern);
    m_root = separator == std::u16string::npos ? std::u16string() : pattern.substr(0, separator + 1);
    return TRUE;
}

BOOL CFileFind::FindNextFile()
{
    if (m_search == INVALID_HANDLE_VALUE || !m_haveNext)
        return FALSE;
    m_data = m_next;
    m_current = &m_data;
    m_haveNext = FindNextFileW(m_search, &m_next) != FALSE;
    return m_haveNext ? TRUE : FALSE;
}

void CFileFind::Close()
{
    if (m_search != INVALID_HANDLE_VALUE)
        FindClose(m_search);
    m_search = INVALID_HANDLE_VALUE;
    m_haveNext = false;
    m_current = nullptr;
    m_root.clear();
}

std::u16string CFileFind::GetFileName() const
{
    return HasCurrent() ? std::u16string(m_current->cFileName) : std::u16string();
}

std::u16string CFileFind::GetFilePath() const
{
    return HasCurrent() ? m_root + m_current->cFileName : std::u16string();
}

ULONGLONG CFileFind::GetLength() const
{
    return HasCurrent() ? (static_cast<ULONGLONG>(m_current->nFileSizeHigh) << 32) | m_current->nFileSizeLow : 0;
}

BOOL CFileFind::IsDirectory() const
{
    return HasCurrent() && (m_current->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

BOOL CFileFind::IsReadOnly() const
{
    return HasCurrent() && (m_current->dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
}

BOOL CFileFind::IsDots() const
{
    if (!IsDirectory())
        return FALSE;
    const std::u16string_view name(m_current->cFileName);
    return name == u"." || name == u"..";
}

BOOL CFileFind::GetCreationTime(FILETIME* time) const
{
    if (!HasCurrent() || time == nullptr)
        return FALSE;
    *time = m_current->ftCreationTime;
    return TRUE;
}

BOOL CFileFind::GetLastAccessTime(FILETIME* time) const
{
    if (!HasCurrent() || time == nullptr)
        return FALSE;
    *time = m_current->ftLastAccessTime;
    return TRUE;
}

BOOL CFileFind::GetLastWriteTime(FILETIME* time) const
{
    if (!HasCurrent() || time == nullptr)
        return FALSE;
    *time = m_current->ftLastWriteTime;
    return TRUE;
}

}  // namespace plat
