#include "codec/CRjdl.h"

CRjdl::CRjdl() : m_state{} { m_state.readiness = RJDL_NOT_READY_STATE; }
CRjdl::~CRjdl() = default;
void CRjdl::Init(int direction, const char* key)
{
    RjdlInit(&m_state, RJDL_MODE_CBC, static_cast<uint8_t>(direction), reinterpret_cast<const uint8_t*>(key),
             RJDL_KEY_128, nullptr);
}
int CRjdl::BlockEncrypt(const char* input, int length, char* output) const
{
    return RjdlBlockEncrypt(&m_state, reinterpret_cast<const uint8_t*>(input), length * 8,
                            reinterpret_cast<uint8_t*>(output)) / 8;
}
int CRjdl::BlockDecrypt(const char* input, int length, char* output) const
{
    return RjdlBlockDecrypt(&m_state, reinterpret_cast<const uint8_t*>(input), length * 8,
                            reinterpret_cast<uint8_t*>(output)) / 8;
}
int CRjdl::PadEncrypt(const char* input, int length, char* output) const
{
    return RjdlPadEncrypt(&m_state, reinterpret_cast<const uint8_t*>(input), length,
                          reinterpret_cast<uint8_t*>(output));
}
int CRjdl::PadDecrypt(const char* input, int length, char* output) const
{
    return RjdlPadDecrypt(&m_state, reinterpret_cast<const uint8_t*>(input), length,
                          reinterpret_cast<uint8_t*>(output));
}
