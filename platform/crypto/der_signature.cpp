// Strict DER for (r, s): every signature has one accepted encoding, on every platform.

#include "platform/crypto/der_signature.h"

namespace brixa {

namespace {

constexpr std::uint8_t kSequenceTag = 0x30;
constexpr std::uint8_t kIntegerTag = 0x02;
constexpr std::uint8_t kLongFormBit = 0x80;
constexpr std::uint8_t kSignBit = 0x80;

// Reads one tag and short-form length at `at`; the content is what follows, within `der`.
std::optional<std::string_view> TakeElement(std::string_view der, std::size_t& at,
                                            std::uint8_t tag) {
  if (der.size() - at < 2 || static_cast<std::uint8_t>(der[at]) != tag) return std::nullopt;
  const auto length = static_cast<std::uint8_t>(der[at + 1]);
  if ((length & kLongFormBit) != 0) return std::nullopt;  // long and indefinite forms
  at += 2;
  if (der.size() - at < length) return std::nullopt;
  const std::string_view content = der.substr(at, length);
  at += length;
  return content;
}

// A minimal positive INTEGER's content, right-aligned into a coordinate.
bool TakeCoordinate(std::string_view content, std::uint8_t* out) {
  if (content.empty()) return false;
  const auto first = static_cast<std::uint8_t>(content[0]);
  if ((first & kSignBit) != 0) return false;  // negative
  if (first == 0) {
    if (content.size() == 1) return false;                                      // zero
    if ((static_cast<std::uint8_t>(content[1]) & kSignBit) == 0) return false;  // not minimal
    content.remove_prefix(1);
  }
  if (content.size() > kP256CoordinateBytes) return false;
  const std::size_t pad = kP256CoordinateBytes - content.size();
  for (std::size_t i = 0; i < pad; ++i) out[i] = 0;
  for (std::size_t i = 0; i < content.size(); ++i) {
    out[pad + i] = static_cast<std::uint8_t>(content[i]);
  }
  return true;
}

void AppendInteger(std::string& der, const std::uint8_t* coordinate) {
  std::size_t skip = 0;
  while (skip + 1 < kP256CoordinateBytes && coordinate[skip] == 0) ++skip;
  const bool sign = (coordinate[skip] & kSignBit) != 0;
  const std::size_t length = kP256CoordinateBytes - skip + (sign ? 1 : 0);
  der += static_cast<char>(kIntegerTag);
  der += static_cast<char>(length);
  if (sign) der += '\0';
  der.append(reinterpret_cast<const char*>(coordinate + skip), kP256CoordinateBytes - skip);
}

}  // namespace

std::optional<TRawP256Signature> DecodeStrictDerSignature(std::string_view der) {
  if (der.size() > kMaxDerP256SignatureBytes) return std::nullopt;
  std::size_t at = 0;
  const auto sequence = TakeElement(der, at, kSequenceTag);
  if (!sequence || at != der.size()) return std::nullopt;  // trailing bytes
  std::size_t inner = 0;
  const auto r = TakeElement(*sequence, inner, kIntegerTag);
  if (!r) return std::nullopt;
  const auto s = TakeElement(*sequence, inner, kIntegerTag);
  if (!s || inner != sequence->size()) return std::nullopt;
  TRawP256Signature raw{};
  if (!TakeCoordinate(*r, raw.data()) || !TakeCoordinate(*s, raw.data() + kP256CoordinateBytes)) {
    return std::nullopt;
  }
  return raw;
}

std::string EncodeDerSignature(const TRawP256Signature& raw) {
  std::string body;
  AppendInteger(body, raw.data());
  AppendInteger(body, raw.data() + kP256CoordinateBytes);
  std::string der;
  der += static_cast<char>(kSequenceTag);
  der += static_cast<char>(body.size());
  return der + body;
}

}  // namespace brixa
