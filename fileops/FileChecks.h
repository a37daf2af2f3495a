// The checks that file encryption and decryption make around the
// replacement of a file. (IsFileInLocalDrive is a member of CPVCodec; the
// exported CopyFileSecurity too.)
#pragma once

#include "PVCodec.h"

// 1 when the creation, last-access and last-write times of the file all lie
// in the years 1970 to 2037 (UTC); 0 when one does not, or when the file
// cannot be found. The file is only looked up, never opened.
int IsFileTimeInRange(const PVWCHAR* path);

// Explorer's "IconsOnly" setting of the current user: 0 when its key is
// missing or the value is 0; 1 when the value is not 0, is absent, or cannot
// be read into 4 bytes.
int IsExplorerIconsOnly();
