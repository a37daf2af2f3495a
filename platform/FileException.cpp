#include "platform/FileException.h"

#include "platform/WideString.h"

#include <algorithm>

namespace plat {
namespace {

// Win32 error codes that the framework's table names; everything else is a
// genericException.
struct CauseOf {
    LONG error;
    int cause;
};
constexpr CauseOf kCauses[] = {
    {0, CFileException::none},
    {2, CFileException::fileNotFound},        // ERROR_FILE_NOT_FOUND
    {3, CFileException::badPath},             // ERROR_PATH_NOT_FOUND
    {4, CFileException::tooManyOpenFiles},    // ERROR_TOO_MANY_OPEN_FILES
    {5, CFileException::accessDenied},        // ERROR_ACCESS_DENIED
    {6, CFileException::fileNotFound},        // ERROR_INVALID_HANDLE
    {11, CFileException::invalidFile},        // ERROR_BAD_FORMAT
    {12, CFileException::accessDenied},       // ERROR_INVALID_ACCESS
    {15, CFileException::badPath},            // ERROR_INVALID_DRIVE
    {16, CFileException::removeCurrentDir},   // ERROR_CURRENT_DIRECTORY
    {17, CFileException::badPath},            // ERROR_NOT_SAME_DEVICE
    {18, CFileException::fileNotFound},       // ERROR_NO_MORE_FILES
    {19, CFileException::accessDenied},       // ERROR_WRITE_PROTECT
    {20, CFileException::hardIO},             // ERROR_BAD_UNIT
    {21, CFileException::hardIO},             // ERROR_NOT_READY
    {22, CFileException::hardIO},             // ERROR_BAD_COMMAND
    {23, CFileException::hardIO},             // ERROR_CRC
    {24, CFileException::badSeek},            // ERROR_BAD_LENGTH
    {25, CFileException::badSeek},            // ERROR_SEEK
    {26, CFileException::invalidFile},        // ERROR_NOT_DOS_DISK
    {27, CFileException::badSeek},            // ERROR_SECTOR_NOT_FOUND
    {29, CFileException::accessDenied},       // ERROR_WRITE_FAULT
    {30, CFileException::badSeek},            // ERROR_READ_FAULT
    {32, CFileException::sharingViolation},   // ERROR_SHARING_VIOLATION
    {33, CFileException::lockViolation},      // ERROR_LOCK_VIOLATION
    {34, CFileException::badPath},            // ERROR_WRONG_DISK
    {36, CFileException::tooManyOpenFiles},   // ERROR_SHARING_BUFFER_EXCEEDED
    {38, CFileException::endOfFile},          // ERROR_HANDLE_EOF
    {39, CFileException::diskFull},           // ERROR_HANDLE_DISK_FULL
    {52, CFileException::badPath},            // ERROR_DUP_NAME
    {53, CFileException::badPath},            // ERROR_BAD_NETPATH
    {54, CFileException::accessDenied},       // ERROR_NETWORK_BUSY
    {55, CFileException::badPath},            // ERROR_DEV_NOT_EXIST
    {57, CFileException::hardIO},             // ERROR_ADAP_HDW_ERR
    {58, CFileException::accessDenied},       // ERROR_BAD_NET_RESP
    {59, CFileException::hardIO},             // ERROR_UNEXP_NET_ERR
    {60, CFileException::invalidFile},        // ERROR_BAD_REM_ADAP
    {62, CFileException::directoryFull},      // ERROR_NO_SPOOL_SPACE
    {64, CFileException::accessDenied},       // ERROR_NETNAME_DELETED
    {65, CFileException::accessDenied},       // ERROR_NETWORK_ACCESS_DENIED
    {67, CFileException::badPath},            // ERROR_BAD_NET_NAME
    {80, CFileException::accessDenied},       // ERROR_FILE_EXISTS
    {82, CFileException::accessDenied},       // ERROR_CANNOT_MAKE
    {86, CFileException::accessDenied},       // ERROR_INVALID_PASSWORD
    {88, CFileException::hardIO},             // ERROR_NET_WRITE_FAULT
    {108, CFileException::lockViolation},     // ERROR_DRIVE_LOCKED
    {111, CFileException::badPath},           // ERROR_BUFFER_OVERFLOW
    {112, CFileException::diskFull},          // ERROR_DISK_FULL
    {123, CFileException::badPath},           // ERROR_INVALID_NAME
    {124, CFileException::badPath},           // ERROR_INVALID_LEVEL
    {125, CFileException::badPath},           // ERROR_NO_VOLUME_LABEL
    {131, CFileException::badSeek},           // ERROR_NEGATIVE_SEEK
    {132, CFileException::badSeek},           // ERROR_SEEK_ON_DEVICE
    {144, CFileException::badPath},           // ERROR_DIR_NOT_ROOT
    {145, CFileException::removeCurrentDir},  // ERROR_DIR_NOT_EMPTY
    {183, CFileException::accessDenied},      // ERROR_ALREADY_EXISTS
    {206, CFileException::badPath},           // ERROR_FILENAME_EXCED_RANGE
    {1117, CFileException::hardIO},           // ERROR_IO_DEVICE: an I/O error of the device
};

std::u16string Describe(int cause, std::u16string_view name)
{
    std::u16string file = name.empty() ? u"an unnamed file" : std::u16string(name);
    switch (cause) {
    case CFileException::none: return u"No error occurred.";
    case CFileException::fileNotFound: return file + u" was not found.";
    case CFileException::badPath: return file + u" contains an incorrect path.";
    case CFileException::tooManyOpenFiles: return file + u" could not be opened because too many files are open.";
    case CFileException::accessDenied: return u"Access to " + file + u" was denied.";
    case CFileException::invalidFile: return u"An incorrect file handle was associated with " + file + u".";
    case CFileException::removeCurrentDir:
        return file + u" could not be removed because it is the current folder or not empty.";
    case CFileException::directoryFull: return file + u" could not be created because the folder is full.";
    case CFileException::badSeek: return u"Seek failed on " + file + u".";
    case CFileException::hardIO: return u"A hardware I/O error was reported while accessing " + file + u".";
    case CFileException::sharingViolation: return u"A sharing violation occurred while accessing " + file + u".";
    case CFileException::lockViolation: return u"A locking violation occurred while accessing " + file + u".";
    case CFileException::diskFull: return u"Disk full while accessing " + file + u".";
    case CFileException::endOfFile: return u"An attempt was made to access " + file + u" past its end.";
    default: return u"An unknown error occurred while accessing " + file + u".";
    }
}

}  // namespace

CFileException::CFileException(int cause, LONG lOsError, LPCWSTR fileName)
    : m_cause(cause), m_lOsError(lOsError), m_strFileName(fileName != nullptr ? fileName : u"")
{
}

int CFileException::OsErrorToException(LONG lOsError)
{
    for (const CauseOf& c : kCauses)
        if (c.error == lOsError)
            return c.cause;
    return genericException;
}

void CFileException::ThrowOsError(LONG lOsError, LPCWSTR fileName)
{
    if (lOsError != 0)
        throw CFileException(OsErrorToException(lOsError), lOsError, fileName);
    // A failure without a recorded reason still throws, as something went wrong.
    throw CFileException(genericException, lOsError, fileName);
}

std::u16string CFileException::ErrorMessage() const
{
    return Describe(m_cause, m_strFileName);
}

BOOL CFileException::GetErrorMessage(LPWSTR lpszError, UINT nMaxError, UINT* pnHelpContext) const
{
    if (pnHelpContext != nullptr)
        *pnHelpContext = 0;
    if (lpszError == nullptr || nMaxError == 0)
        return FALSE;
    std::u16string text = ErrorMessage();
    size_t n = std::min<size_t>(text.size(), nMaxError - 1);
    std::copy_n(text.begin(), n, lpszError);
    lpszError[n] = 0;
    return TRUE;
}

const char* CFileException::what() const noexcept
{
    try {
        m_what = Utf16ToUtf8(ErrorMessage()).value_or("file error");
    } catch (...) {
        return "file error";
    }
    return m_what.c_str();
}

}  // namespace plat
