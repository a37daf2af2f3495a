#include "codec/RawCodec.h"

#include "codec/SettingsKey.h"

CRawCodec::CRawCodec(int direction, char* key, int algorithm)
{
    if (algorithm == ALG_FROM_SETTINGS) {
        uint32_t id = 0;
        {
            CSettingsKey settings;
            settings.QueryDword(u"ALG", &id);
        }
        algorithm = static_cast<int>(id);
    }
    m_algorithm = algorithm;
    // The initialisation result is not examined: a cipher that failed to set
    // up answers each operation with its own failure result.
    switch (m_algorithm) {
    case ALG_RIJNDAEL: m_rijndael.Init(direction, key); break;
    case ALG_ARIA: m_aria.Init(static_cast<char>(direction), key); break;
    case ALG_ATE: m_ate.Init(static_cast<char>(direction), key); break;
    default: break;
    }
}

CRawCodec::~CRawCodec() = default;

int CRawCodec::BlockEncrypt(char* input, int length, char* output)
{
    switch (m_algorithm) {
    case ALG_RIJNDAEL: return m_rijndael.BlockEncrypt(input, length, output);
    case ALG_ARIA: return m_aria.BlockEncrypt(input, length, output);
    case ALG_ATE: return m_ate.BlockEncrypt(input, length, output);
    default: return -1;
    }
}

int CRawCodec::BlockDecrypt(char* input, int length, char* output)
{
    switch (m_algorithm) {
    case ALG_RIJNDAEL: return m_rijndael.BlockDecrypt(input, length, output);
    case ALG_ARIA: return m_aria.BlockDecrypt(input, length, output);
    case ALG_ATE: return m_ate.BlockDecrypt(input, length, output);
    default: return -1;
    }
}

int CRawCodec::PadEncrypt(char* input, int length, char* output)
{
    switch (m_algorithm) {
    case ALG_RIJNDAEL: return m_rijndael.PadEncrypt(input, length, output);
    case ALG_ARIA: return m_aria.PadEncrypt(input, length, output);
    case ALG_ATE: return m_ate.PadEncrypt(input, length, output);
    default: return -1;
    }
}

int CRawCodec::PadDecrypt(char* input, int length, char* output)
{
    switch (m_algorithm) {
    case ALG_RIJNDAEL: return m_rijndael.PadDecrypt(input, length, output);
    case ALG_ARIA: return m_aria.PadDecrypt(input, length, output);
    case ALG_ATE: return m_ate.PadDecrypt(input, length, output);
    default: return -1;
    }
}
