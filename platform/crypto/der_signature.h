#pragma once
// The one DER encoding of an ECDSA P-256 signature, decoded strictly and encoded back.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brixa {

// Bytes of one coordinate (r or s) of a P-256 signature.
inline constexpr std::size_t kP256CoordinateBytes = 32;
// r || s, each big-endian and padded to kP256CoordinateBytes: the form CNG verifies.
using TRawP256Signature = std::array<std::uint8_t, 2 * kP256CoordinateBytes>;
// SEQUENCE { INTEGER r, INTEGER s } with both at full length and a sign byte: 2 + 2 * (2 + 33).
inline constexpr std::size_t kMaxDerP256SignatureBytes = 72;

// r || s of `der` when it is exactly the DER encoding of SEQUENCE { INTEGER r, INTEGER s }:
// short-form lengths that match the bytes present, nothing after the sequence, each INTEGER
// positive and minimal (one 00 only where the next byte has its top bit set) and no longer than
// a coordinate. Everything else (BER forms, trailing bytes, raw r || s, zero or negative
// values, oversized numbers) is none. Whether r and s are below the group order (and high-S
// signatures, which are accepted) is the verifier's business.
[[nodiscard]] std::optional<TRawP256Signature> DecodeStrictDerSignature(std::string_view der);

// The DER encoding of r || s; DecodeStrictDerSignature of the result gives `raw` back.
[[nodiscard]] std::string EncodeDerSignature(const TRawP256Signature& raw);

}  // namespace brixa
