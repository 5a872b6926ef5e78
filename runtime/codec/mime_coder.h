#pragma once
// Base64 encoding and decoding for authentication headers.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/text/bytes.h"

namespace brixa {

// Base64 with the standard alphabet "A-Z a-z 0-9 + /" and "=" fill, no line breaks.
class TIdEncoderMIME {
 public:
  // Base64 of the text with each character taken as one byte (code points above U+00FF keep
  // their low 8 bits).
  [[nodiscard]] static std::string EncodeString(std::string_view text);
  [[nodiscard]] static std::string EncodeBytes(const TIdByteArray& bytes);
  [[nodiscard]] static std::string EncodeBytes(const std::uint8_t* data, std::size_t size);
};

class TIdDecoderMIME {
 public:
  // Decodes whole groups of four characters; a shorter tail is ignored. Stops after a group whose
  // third or fourth character is "=", dropping the bytes the fill stands for. A character outside
  // the alphabet (a line break, "=" early in a group, anything else) counts as zero bits: the
  // result has the group's length but no meaning, and decoding never fails.
  [[nodiscard]] static TIdByteArray DecodeBytes(std::string_view text);
};

}  // namespace brixa
