// Conversions between the one-byte algorithm tag that containers store and
// the program's algorithm id.
#include "PVCodec.h"

int CPVCodec::ConvertFileAlgToProgAlg(unsigned char tag)
{
    switch (tag) {
    case 'A': return 1;
    case 'T': return 2;
    default: return 0;  // 'R' and every other byte
    }
}

unsigned char CPVCodec::ConvertProgAlgToFileAlg(int algorithm)
{
    switch (algorithm) {
    case 1: return 'A';
    case 2: return 'T';
    default: return 'R';
    }
}
