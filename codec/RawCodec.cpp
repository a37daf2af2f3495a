#include "codec/RawCodec.h"

#include "codec/SettingsKey.h"

#include <climits>
#include <cstddef>
#include <cstdint>

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

namespace {

// One call per segment for the ciphers without a multi-segment path; the
// results added up as the caller's own loop would.
template <class Call>
int EachSegment(char* input, int segmentCount, char* output, Call call)
{
    int64_t total = 0;
    for (int i = 0; i < segmentCount; ++i) {
        const size_t offset = static_cast<size_t>(i) * RJDL_SEGMENT_BYTES;
        total += call(input + offset, RJDL_SEGMENT_BYTES, output + offset);
    }
    return static_cast<int>(total < INT_MIN ? INT_MIN : total > INT_MAX ? INT_MAX : total);
}

bool SegmentCountServed(int segmentCount)
{
    return segmentCount > 0 && segmentCount <= INT_MAX / RJDL_SEGMENT_BYTES;
}

}  // namespace

int CRawCodec::BlockEncryptSegments(char* input, int segmentCount, char* output)
{
    if (!SegmentCountServed(segmentCount))
        return 0;
    if (m_algorithm == ALG_RIJNDAEL)
        return m_rijndael.BlockEncryptSegments(input, output, segmentCount);
    return EachSegment(input, segmentCount, output,
                       [this](char* in, int length, char* out) { return BlockEncrypt(in, length, out); });
}

int CRawCodec::BlockDecryptSegments(char* input, int segmentCount, char* output)
{
    if (!SegmentCountServed(segmentCount))
        return 0;
    if (m_algorithm == ALG_RIJNDAEL)
        return m_rijndael.BlockDecryptSegments(input, output, segmentCount);
    return EachSegment(input, segmentCount, output,
                       [this](char* in, int length, char* out) { return BlockDecrypt(in, length, out); });
}
