// Stand-in for the vendor's ATE cipher library "XecureATE.dll": the ATE
// cipher is SEED (RFC 4269) in CBC mode. "XecureCrypto.dll" loads this
// library from the path it was handed with SFC_Cipher_Set_Path and drives
// the chain through these calls; it does the padding itself.
#pragma once

#include <stddef.h>

#if defined(_WIN32)
#  define XECUREATE_API __declspec(dllexport)
#else
#  define XECUREATE_API __attribute__((visibility("default")))
#endif

extern "C" {

typedef struct XATE_Cipher XATE_Cipher;

// A CBC chain over SEED with a 16-byte key and a 16-byte IV; encrypt is 1
// to encrypt, 0 to decrypt. Null for bad arguments.
XECUREATE_API XATE_Cipher* XATE_CBC_New(const unsigned char* key, int keyLength, const unsigned char* iv,
                                        int ivLength, int encrypt);
// Continues the chain over `length` bytes, a multiple of 16; `input` and
// `output` may be the same buffer. 0 on success, -1 for bad arguments.
XECUREATE_API int XATE_CBC_Process(XATE_Cipher* cipher, const unsigned char* input, unsigned char* output,
                                   size_t length);
XECUREATE_API void XATE_CBC_Free(XATE_Cipher* cipher);

typedef XATE_Cipher* (*PFN_XATE_CBC_New)(const unsigned char*, int, const unsigned char*, int, int);
typedef int (*PFN_XATE_CBC_Process)(XATE_Cipher*, const unsigned char*, unsigned char*, size_t);
typedef void (*PFN_XATE_CBC_Free)(XATE_Cipher*);

}
