// The checks that file encryption and decryption make around the
// replacement of a file. (The exported CopyFileSecurity is a member of
// CPVCodec.)
#pragma once

#include "platform/WinTypes.h"

// 1 when the creation, last-access and last-write times of the file all lie
// in the years 1970 to 2037 (UTC); 0 when one does not, or when the file
// cannot be found. The file is only looked up, never opened.
int IsFileTimeInRange(plat::LPCWSTR path);

// CPVCodec::IsFileInLocalDrive on the library's own path type: 0 for a share
// folder and for a removable or remote drive, 1 otherwise.
int FileInLocalDrive(plat::LPCWSTR path);

// Explorer's "IconsOnly" setting of the current user: 0 when its key is
// missing or the value is 0; 1 when the value is not 0, is absent, or cannot
// be read into 4 bytes.
int IsExplorerIconsOnly();
