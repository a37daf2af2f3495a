// The maker's utility library, as far as the codec uses it: wiping a file
// out before it is replaced, and telling Windows 9x apart.
#pragma once

#if defined(_WIN32)
#  if defined(PVCOMMON_BUILDING)
#    define PVCOMMON_API __declspec(dllexport)
#  else
#    define PVCOMMON_API __declspec(dllimport)
#  endif
#else
#  define PVCOMMON_API __attribute__((visibility("default")))
#endif

class PVCOMMON_API CFileWipeOut {
public:
    // Overwrites the whole content of the file once with random bytes and
    // flushes it to the disk, empties it, renames it to a random name in the
    // same folder and removes it. Non-zero only when nothing is left under
    // `path`. A symbolic link is removed without touching what it points to;
    // a folder, a read-only file or a file open elsewhere is refused (0).
    static int WipeOutFile(const char16_t* path);
};

class PVCOMMON_API COSInformation {
public:
    // Non-zero on Windows 9x; never here.
    static int IsWin9x();
};
