// CRjdl: AES-128, CBC, zero IV over the engine, byte lengths.
#include "codec/CRjdl.h"

#include "codec/RjdlChains.h"

#include <climits>

namespace {

const uint8_t* Bytes(const char* p)
{
    return reinterpret_cast<const uint8_t*>(p);
}

uint8_t* Bytes(char* p)
{
    return reinterpret_cast<uint8_t*>(p);
}

// The engine counts block lengths in bits in a signed 32-bit integer. Lengths
// of 2^28 bytes and more do not fit; they wrap here as they would in 32-bit
// arithmetic instead of overflowing a signed multiplication.
int32_t BitCount(int length)
{
    return static_cast<int32_t>(static_cast<uint32_t>(length) * 8u);
}

constexpr int kMaxSegments = INT_MAX / RJDL_SEGMENT_BYTES;
constexpr size_t kSegmentBlocks = RJDL_SEGMENT_BYTES / 16;

// Whether a 1024-byte block call in this direction would go through: the
// checks of RjdlBlockEncrypt / RjdlBlockDecrypt for a CBC state (the only
// mode Init sets up) and a non-null input.
bool ServesSegments(const RjdlState& state, uint8_t direction, const char* input, int segmentCount)
{
    return state.readiness == RJDL_READY && state.direction == direction && state.mode == RJDL_MODE_CBC &&
           input != nullptr && segmentCount > 0 && segmentCount <= kMaxSegments;
}

}  // namespace

CRjdl::CRjdl() : m_state{}
{
    m_state.readiness = RJDL_NOT_READY_STATE;
}

CRjdl::~CRjdl() = default;

void CRjdl::Init(int direction, const char* key)
{
    // The result is not passed on: a failure leaves the engine not ready.
    RjdlInit(&m_state, RJDL_MODE_CBC, direction, Bytes(key), RJDL_KEY_128, nullptr);
}

int CRjdl::BlockEncrypt(const char* input, int length, char* output) const
{
    // Bits back to bytes; every negative engine code (-1 .. -7) becomes 0.
    return RjdlBlockEncrypt(&m_state, Bytes(input), BitCount(length), Bytes(output)) / 8;
}

int CRjdl::BlockDecrypt(const char* input, int length, char* output) const
{
    return RjdlBlockDecrypt(&m_state, Bytes(input), BitCount(length), Bytes(output)) / 8;
}

int CRjdl::PadEncrypt(const char* input, int length, char* output) const
{
    return RjdlPadEncrypt(&m_state, Bytes(input), length, Bytes(output));
}

int CRjdl::PadDecrypt(const char* input, int length, char* output) const
{
    return RjdlPadDecrypt(&m_state, Bytes(input), length, Bytes(output));
}

int CRjdl::BlockEncryptSegments(const char* input, char* output, int segmentCount) const
{
    if (!ServesSegments(m_state, RJDL_DIR_ENCRYPT, input, segmentCount))
        return 0;
    rjdl::EncryptCbcSegments(m_state, Bytes(input), Bytes(output), static_cast<size_t>(segmentCount), kSegmentBlocks);
    return RJDL_SEGMENT_BYTES * segmentCount;
}

int CRjdl::BlockDecryptSegments(const char* input, char* output, int segmentCount) const
{
    if (!ServesSegments(m_state, RJDL_DIR_DECRYPT, input, segmentCount))
        return 0;
    rjdl::DecryptCbcSegments(m_state, Bytes(input), Bytes(output), static_cast<size_t>(segmentCount), kSegmentBlocks);
    return RJDL_SEGMENT_BYTES * segmentCount;
}
