#include "PVCommon.h"

int COSInformation::IsWin9x()
{
    return 0;
}
