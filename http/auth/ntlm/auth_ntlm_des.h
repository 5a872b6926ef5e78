#pragma once
// The NTLM DES helpers the platform files supply: key spreading and the system's own DES.

#include <cstdint>

namespace brixa {

// key8 := the 56 bits of key7 spread over 8 bytes, 7 bits each in the high bits; the parity
// bit (lowest) is left 0.
void NTLMSpreadDesKey(const std::uint8_t* key7, std::uint8_t* key8);

// The system's own DES, used before libcrypto: Windows CNG; none elsewhere.
// `key8` is a spread key (parity bits are ignored by DES).
[[nodiscard]] bool PlatformDesAvailable();
[[nodiscard]] bool PlatformDesEncrypt(const std::uint8_t* key8, const std::uint8_t* block,
                                      std::uint8_t* out);

}  // namespace brixa
