#include "codec/Rjdl.h"
// placeholder until the engine lands
int RjdlInit(RjdlState* s, uint8_t, uint8_t, const uint8_t*, int, const uint8_t*) { s->readiness = RJDL_NOT_READY_STATE; return -1; }
int RjdlBlockEncrypt(const RjdlState*, const uint8_t*, int32_t, uint8_t*) { return RJDL_NOT_READY; }
int RjdlBlockDecrypt(const RjdlState*, const uint8_t*, int32_t, uint8_t*) { return RJDL_NOT_READY; }
int RjdlPadEncrypt(const RjdlState*, const uint8_t*, int32_t, uint8_t*) { return RJDL_NOT_READY; }
int RjdlPadDecrypt(const RjdlState*, const uint8_t*, int32_t, uint8_t*) { return RJDL_NOT_READY; }
void RjdlKeySchedule(const uint8_t*, int32_t, uint8_t[15][16]) {}
void RjdlKeyEncToDec(uint8_t[15][16], int32_t) {}
