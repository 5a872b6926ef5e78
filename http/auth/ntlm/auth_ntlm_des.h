#pragma once
// The DES behind NTLM version 1: one block under a 56-bit key, from the platform's own DES
// (Windows CNG) when it has one, else from libcrypto, and the error raised when neither is there.

#include <cstdint>

#include "transport/tls/ssl_exceptions.h"

namespace brixa {

// NTLM needs DES and neither the platform nor a loadable libcrypto has it. A kind of
// EIdOSSLCouldNotLoadSSLLibrary carrying its message "Could not load SSL library.", so handlers
// written for the missing library keep catching it.
BRIXA_DECLARE_EXCEPTION(EIdNTLMDesUnavailable, EIdOSSLCouldNotLoadSSLLibrary);
[[noreturn]] void RaiseNTLMDesUnavailable();

// DES of one 8-byte block in ECB mode under the 56-bit key `key7` (7 bytes, spread to 8 with
// odd parity). False when no DES implementation can be loaded.
[[nodiscard]] bool NTLMDesEncrypt(const std::uint8_t* key7, const std::uint8_t* block,
                                  std::uint8_t* out);
// Whether NTLMDesEncrypt can work in this process (loads what it needs on first call).
[[nodiscard]] bool NTLMDesAvailable();

// key8 := the 56 bits of key7 spread over 8 bytes, 7 bits each in the high bits; the parity
// bit (lowest) is left 0.
void NTLMSpreadDesKey(const std::uint8_t* key7, std::uint8_t* key8);

// The platform part: the system's own DES, used before libcrypto: Windows CNG; none elsewhere.
// `key8` is a spread key (parity bits are ignored by DES).
[[nodiscard]] bool PlatformDesAvailable();
[[nodiscard]] bool PlatformDesEncrypt(const std::uint8_t* key8, const std::uint8_t* block,
                                      std::uint8_t* out);

}  // namespace brixa
