// CAria and CATE: the ARIA and ATE ciphers of the outside crypto library,
// with the four buffer operations of the Rijndael engine.
//
// Until the outside library is bound here, both answer every call with -1,
// as they do when no library can be found.
#pragma once

class CAria {
public:
    CAria() = default;
    virtual ~CAria() = default;
    CAria(const CAria&) = delete;
    CAria& operator=(const CAria&) = delete;

    int Init(char direction, const char* key);
    int BlockEncrypt(const char* input, int length, char* output);
    int BlockDecrypt(const char* input, int length, char* output);
    int PadEncrypt(const char* input, int length, char* output);
    int PadDecrypt(const char* input, int length, char* output);
};

class CATE : public CAria {
public:
    int Init(char direction, const char* key);
};
