// Base64 with a decode table; decoding never fails and never reads past its input.

#include "runtime/codec/mime_coder.h"

#include <array>

#include "runtime/text/encoding.h"

namespace brixa {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kFill = '=';
constexpr std::size_t kGroupChars = 4;
constexpr std::size_t kGroupBytes = 3;

// Character -> 6-bit value; characters outside the alphabet decode as 0.
constexpr std::array<std::uint8_t, 256> MakeDecodeTable() {
  std::array<std::uint8_t, 256> table{};
  for (std::uint8_t i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = i;
  return table;
}
constexpr std::array<std::uint8_t, 256> kDecode = MakeDecodeTable();

}  // namespace

std::string TIdEncoderMIME::EncodeString(std::string_view text) {
  return EncodeBytes(TextToBytes(text, ce8Bit));
}

std::string TIdEncoderMIME::EncodeBytes(const TIdByteArray& bytes) {
  return EncodeBytes(bytes.data(), bytes.size());
}

std::string TIdEncoderMIME::EncodeBytes(const std::uint8_t* data, std::size_t size) {
  std::string out;
  out.resize((size + kGroupBytes - 1) / kGroupBytes * kGroupChars);
  char* o = out.data();
  std::size_t i = 0;
  for (; i + kGroupBytes <= size; i += kGroupBytes) {
    const std::uint32_t v = static_cast<std::uint32_t>(data[i]) << 16 |
                            static_cast<std::uint32_t>(data[i + 1]) << 8 | data[i + 2];
    *o++ = kAlphabet[v >> 18];
    *o++ = kAlphabet[(v >> 12) & 0x3F];
    *o++ = kAlphabet[(v >> 6) & 0x3F];
    *o++ = kAlphabet[v & 0x3F];
  }
  const std::size_t rest = size - i;
  if (rest == 0) return out;
  const std::uint32_t v = static_cast<std::uint32_t>(data[i]) << 16 |
                          (rest == 2 ? static_cast<std::uint32_t>(data[i + 1]) << 8 : 0);
  *o++ = kAlphabet[v >> 18];
  *o++ = kAlphabet[(v >> 12) & 0x3F];
  *o++ = rest == 2 ? kAlphabet[(v >> 6) & 0x3F] : kFill;
  *o = kFill;
  return out;
}

TIdByteArray TIdDecoderMIME::DecodeBytes(std::string_view text) {
  TIdByteArray out;
  out.reserve(text.size() / kGroupChars * kGroupBytes);
  for (std::size_t i = 0; i + kGroupChars <= text.size(); i += kGroupChars) {
    const char* g = text.data() + i;
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < kGroupChars; ++k) {
      v = v << 6 | kDecode[static_cast<unsigned char>(g[k])];
    }
    // "=" third: one byte is meant; "=" fourth only: two.
    const std::size_t meant = g[2] == kFill ? 1 : g[3] == kFill ? 2 : kGroupBytes;
    out.push_back(static_cast<std::uint8_t>(v >> 16));
    if (meant > 1) out.push_back(static_cast<std::uint8_t>(v >> 8));
    if (meant > 2) out.push_back(static_cast<std::uint8_t>(v));
    if (meant < kGroupBytes) break;
  }
  return out;
}

}  // namespace brixa
