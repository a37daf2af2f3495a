// PVCodec: document-encryption codec library.
//
// Host programs call the static members of CPVCodec to turn files and buffers
// into protected containers and back, to encipher raw buffers with Rijndael
// (AES-128), ARIA or ATE, and to reach RSA through the outside crypto library.
// Results are plain integers; nothing here throws on its own.
//
// Wide paths are NUL-terminated UTF-16 strings of 16-bit units (PVWCHAR):
// on Windows the system's wchar_t, so a host passes L"..." paths and its own
// window handles (HWND) as with any Windows library; elsewhere char16_t
// (u"..."), whatever the width of wchar_t there.
#pragma once

#if defined(_WIN32)
#  if defined(PVCODEC_BUILDING)
#    define PVCODEC_API __declspec(dllexport)
#  else
#    define PVCODEC_API __declspec(dllimport)
#  endif
#  define PVCODEC_INTERNAL
#else
#  define PVCODEC_API __attribute__((visibility("default")))
#  define PVCODEC_INTERNAL __attribute__((visibility("hidden")))
#endif

#if defined(_WIN32)
// <windows.h>'s own HWND, declared as it declares it, so that this header
// does not need <windows.h>.
struct HWND__;
// One UTF-16 code unit.
typedef wchar_t PVWCHAR;
// A window that receives progress messages (message 1031, percent in wParam).
typedef HWND__* PVHWND;
#else
typedef char16_t PVWCHAR;
// A receiver registered with the platform layer (plat::RegisterWindow).
typedef void* PVHWND;
#endif

class PVCODEC_API CPVCodec {
public:
    // ---- Instance interface: kept for old hosts; buffer methods refuse every call.
    CPVCodec();
    CPVCodec(char, char*, char, char, unsigned char*);
    CPVCodec(const CPVCodec&);
    CPVCodec& operator=(const CPVCodec&);
    virtual ~CPVCodec();

    int InitRijndael(char, char*, char, char, unsigned char*);
    int BlockEncrypt(char* input, int length, char* output);
    int BlockDecrypt(char* input, int length, char* output);
    int PadEncrypt(char* input, int length, char* output);
    int PadDecrypt(char* input, int length, char* output);

    // ---- Raw buffer functions.
    static int SFMemoryBlockEncrypt16Ex(char* input, char* output, char* key, unsigned int length, int algorithm);
    static int SFMemoryBlockDecrypt16Ex(char* input, char* output, char* key, unsigned int length, int algorithm);
    static int SFPadEncryptEx(char* input, char* output, char* key, int length, int algorithm);
    static int SFPadDecryptEx(char* input, char* output, char* key, int length, int algorithm);
    static int SFMemoryBlockEncrypt16(char* input, char* output, char* key, unsigned int length);
    static int SFMemoryBlockDecrypt16(char* input, char* output, char* key, unsigned int length);
    static int SFPadEncrypt(char* input, char* output, char* key, int length);
    static int SFPadDecrypt(char* input, char* output, char* key, int length);

    // ---- Algorithm tags ('R', 'A', 'T') and program ids (0, 1, 2).
    static int ConvertFileAlgToProgAlg(unsigned char tag);
    static unsigned char ConvertProgAlgToFileAlg(int algorithm);

    // ---- File encryption.
    static int DoEncryptFile(const PVWCHAR* srcPath, const PVWCHAR* destPath, char* key, char* header,
                             int headerSize, PVHWND hWnd, unsigned int headerMode, char* magicOrPrefix);
    static int EncryptFileEx(const PVWCHAR* srcPath, const PVWCHAR* destPath, char* key, char* header,
                             int headerSize, PVHWND hWnd, unsigned int headerMode, char* magicOrPrefix);
    static int EncryptFileW(const PVWCHAR* srcPath, const PVWCHAR* destPath, char* key, char* header,
                            int headerSize, PVHWND hWnd);
    static int EncryptFileW(const PVWCHAR* srcPath, const PVWCHAR* destPath, char* key, char* header,
                            int headerSize);
    static int RDEncryptFile(const PVWCHAR* srcPath, const PVWCHAR* destPath, char* key, char* header,
                             int headerSize, PVHWND hWnd);
    static int RDEncryptFile(const PVWCHAR* srcPath, const PVWCHAR* destPath, char* key, char* header,
                             int headerSize);
    static int EncryptFile2(const PVWCHAR* srcPath, const PVWCHAR* destPath, char* key, char* header,
                            int headerSize, PVHWND hWnd);

    // ---- File decryption.
    static int DecryptFileW(const PVWCHAR* srcPath, const PVWCHAR* destPath, char* key, PVHWND hWnd,
                            int nOffsetToMain);
    static int DecryptFile2(const PVWCHAR* srcPath, const PVWCHAR* destPath, char* key, PVHWND hWnd,
                            int nOffsetToMain);
    static int RDDecryptFile(const PVWCHAR* srcPath, const PVWCHAR* destPath, char* key, PVHWND hWnd,
                             int nOffsetToMain);

    // ---- Memory encryption (memory image: length at 0, data from offset 32).
    static int DoEncryptMemoryToMemory(char* buffer, int nSrcFileSize, int* resultSize, char* key,
                                       char* header, int headerSize, unsigned int headerMode,
                                       char* magicOrPrefix);
    static int EncryptMemoryToMemoryEx(char* buffer, int nSrcFileSize, int* resultSize, char* key,
                                       char* header, int headerSize, unsigned int headerMode,
                                       char* magicOrPrefix);
    static int EncryptMemoryToMemory(char* buffer, int nSrcFileSize, int* resultSize, char* key,
                                     char* header, int headerSize);

    // ---- Decryption to memory.
    static int DecryptFileToMemory(const PVWCHAR* path, char* pBuffer, int* size, char* pKey,
                                   int nOffsetToMain);
    static int DecryptFileToMemory2(const PVWCHAR* path, char* pBuffer, int* size, char* pKey,
                                    int nOffsetToMain);
    static int DecryptMemoryToMemory(char* source, char* output, int nSrcFileSize, int* size, char* pKey,
                                     int nOffsetToMain);

    // ---- File checks.
    static int CopyFileSecurity(const PVWCHAR* srcPath, const PVWCHAR* destPath);
    PVCODEC_INTERNAL static int IsFileInLocalDrive(const PVWCHAR* path);

    // ---- RSA and random document keys, through the outside crypto library.
    static int SFRSAEncrypt(char* input, char* output, char* key, unsigned long keyLength,
                            unsigned long inputLength);
    static int SFRSADecrypt(char* input, char* output, char* key, unsigned long keyLength,
                            unsigned long inputLength);
    static int GenerateRSADocuKey(char* buffer, int length);
    static int CheckRSAKey(char* publicKey, unsigned long publicKeyLength, char* privateKey,
                           unsigned long privateKeyLength);
};
