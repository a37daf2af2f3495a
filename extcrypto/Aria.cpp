#include "extcrypto/Aria.h"

int CAria::Init(char, const char*) { return -1; }
int CAria::BlockEncrypt(const char*, int, char*) { return -1; }
int CAria::BlockDecrypt(const char*, int, char*) { return -1; }
int CAria::PadEncrypt(const char*, int, char*) { return -1; }
int CAria::PadDecrypt(const char*, int, char*) { return -1; }
int CATE::Init(char, const char*) { return -1; }
