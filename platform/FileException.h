// The framework's file exception: what CFile throws, and what CFile::Open
// fills instead of throwing. m_cause holds the framework's portable cause
// code, m_lOsError the Win32 error code behind it.
#pragma once

#include "platform/WinTypes.h"

#include <exception>
#include <string>

namespace plat {

class CFileException : public std::exception {
public:
    enum {
        none = 0,
        genericException = 1,
        fileNotFound = 2,
        badPath = 3,
        tooManyOpenFiles = 4,
        accessDenied = 5,
        invalidFile = 6,
        removeCurrentDir = 7,
        directoryFull = 8,
        badSeek = 9,
        hardIO = 10,
        sharingViolation = 11,
        lockViolation = 12,
        diskFull = 13,
        endOfFile = 14,
    };

    explicit CFileException(int cause = none, LONG lOsError = -1, LPCWSTR fileName = nullptr);

    // The cause code the framework gives a Win32 error code.
    static int OsErrorToException(LONG lOsError);
    // Throws the exception for a Win32 error code and a file name (a code of 0
    // still throws, as genericException: a failure was seen).
    [[noreturn]] static void ThrowOsError(LONG lOsError, LPCWSTR fileName = nullptr);

    // The message for the user: the cause in words with the file name, at
    // most nMaxError - 1 characters and a NUL. TRUE when text was written.
    BOOL GetErrorMessage(LPWSTR lpszError, UINT nMaxError, UINT* pnHelpContext = nullptr) const;
    std::u16string ErrorMessage() const;

    const char* what() const noexcept override;

    int m_cause;
    LONG m_lOsError;
    std::u16string m_strFileName;

private:
    mutable std::string m_what;
};

}  // namespace plat
