// Internal to the layer: deletion and renaming without the test seam's
// count, so that CFile::Remove and CFile::Rename (which have fault points of
// their own) do not use up the plans made for DeleteFileW and MoveFileW.
#pragma once

#include "platform/WinTypes.h"

namespace plat::posix {

BOOL DeleteFileUncounted(LPCWSTR fileName);
BOOL MoveFileUncounted(LPCWSTR existingName, LPCWSTR newName);

}  // namespace plat::posix
