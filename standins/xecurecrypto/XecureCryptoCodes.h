// Failure codes of the "XecureCrypto.dll" stand-in. Every export that
// returns an int answers 0 on success and one of these on failure.
#pragma once

#include <cstdint>

namespace xecure {

inline constexpr int32_t SFC_OK = 0;
inline constexpr int32_t SFC_ERR_ARGUMENT = -1001;   // null pointer, negative or oversized length, foreign handle
inline constexpr int32_t SFC_ERR_KEY = -1002;        // secret-key blob refused, or empty key handle
inline constexpr int32_t SFC_ERR_ALGORITHM = -1003;  // unknown cipher or public-key id, key of another cipher
inline constexpr int32_t SFC_ERR_PARAMETER = -1004;  // parameter block with values not supported
inline constexpr int32_t SFC_ERR_STATE = -1005;      // context not initialised, or used in the other direction
inline constexpr int32_t SFC_ERR_PADDING = -1006;    // incomplete last block or bad padding at the end of decryption
inline constexpr int32_t SFC_ERR_KEY_FORMAT = -1007; // key bytes are not a DER RSA key of the expected kind
inline constexpr int32_t SFC_ERR_CRYPTO = -1008;     // the RSA operation failed (input too long, decoding failed)
inline constexpr int32_t SFC_ERR_KEY_MISMATCH = -1009;  // ProveKeyPair: the keys do not form a pair
inline constexpr int32_t SFC_ERR_RANDOM = -1010;     // the operating system's generator failed
inline constexpr int32_t SFC_ERR_ATE = -1011;        // no ATE library path was set, or that library cannot be used
inline constexpr int32_t SFC_ERR_MEMORY = -1012;     // the library ran out of memory

}  // namespace xecure
