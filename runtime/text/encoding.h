#pragma once
// Text <-> bytes in the encodings the protocols use (UTF-8, 8-bit, ASCII), and a byte-at-a-time
// UTF-8 decoder for reading characters off a connection.

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/network_exception.h"
#include "runtime/text/bytes.h"

namespace brixa {

// The character encodings every conversion between text and bytes takes.
enum TIdCharEncoding { ceNone = 0, ceASCII = 1, ceUTF8 = 2, ce8Bit = 3 };

inline constexpr const char* RSNoEncodingSpecified = "No encoding specified.";
inline constexpr const char* RSInvalidUTF8Byte = "Byte is invalid for this UTF-8 sequence";

// Text in this system is std::string holding UTF-8. How each encoding maps it:
//
//  - Positions and lengths given with text (TextToBytes's `start` and `length`) count BYTES of
//    the UTF-8 text, 1-based like every text position here. Protocol text is ASCII, where bytes
//    and characters agree; a range that cuts a multi-byte character cuts it as bytes.
//  - ceUTF8, text -> bytes: the text's bytes unchanged (it already is UTF-8).
//    bytes -> text: well-formed UTF-8 is copied; every byte that does not belong to a
//    well-formed sequence (stray continuation, truncated sequence, overlong form, surrogate,
//    value above U+10FFFF) becomes one U+FFFD REPLACEMENT CHARACTER, so the result is always
//    valid UTF-8.
//  - ce8Bit, text -> bytes: each character's code point becomes one byte, its low 8 bits. A byte
//    of the text that is not part of a well-formed UTF-8 sequence stands for itself, so raw
//    bytes kept in a string pass through unchanged.
//    bytes -> text: each byte b becomes the character U+00bb, written as UTF-8 (bytes below
//    0x80 stay single bytes). The two directions round-trip every byte array.
//  - ceASCII, text -> bytes: a character below U+0080 becomes its byte, any other character
//    (or a malformed byte) becomes '?'. bytes -> text: bytes below 0x80 are copied, any other
//    byte becomes '?'.
//  - ceNone: every conversion raises EIdNoEncodingSpecified; callers put their default in first.

// Raises EIdNoEncodingSpecified "No encoding specified." for ceNone.
void EnsureEncoding(TIdCharEncoding encoding);

// The bytes of the text from byte position `start` (1-based, must be >= 1) on, at most `length`
// bytes of it (-1: to the end).
[[nodiscard]] TIdByteArray TextToBytes(std::string_view text, std::int64_t length,
                                       std::int64_t start, TIdCharEncoding encoding);
[[nodiscard]] TIdByteArray TextToBytes(std::string_view text, TIdCharEncoding encoding);

// The bytes of one character given by its code point. ceUTF8: its UTF-8 form (a surrogate or a
// value above U+10FFFF gives the bytes of U+FFFD). Every other encoding, ceASCII included: one
// byte, the low 8 bits of the code point, with no replacement.
[[nodiscard]] TIdByteArray CharToBytes(char32_t codePoint, TIdCharEncoding encoding);
// A single `char` of text is one byte: it is taken as the code point of its unsigned value
// (so '\xE9' is U+00E9), never sign-extended.
[[nodiscard]] TIdByteArray CharToBytes(char ch, TIdCharEncoding encoding);

// The text of bytes[index ...], at most `count` bytes (-1: all available). `index` must be >= 0.
[[nodiscard]] std::string BytesToText(const TIdByteArray& bytes, std::int64_t index,
                                      std::int64_t count, TIdCharEncoding encoding);
[[nodiscard]] std::string BytesToText(const TIdByteArray& bytes, TIdCharEncoding encoding);

// Appends the UTF-8 form of `codePoint` to `out` (U+FFFD for surrogates and values above
// U+10FFFF).
void AppendUTF8(std::string& out, char32_t codePoint);

// Decodes UTF-8 one byte at a time, for reading a single character off a connection.
//
// Feed bytes in order; Feed returns true when the byte completed a character, which is then in
// `codePoint`. Accepted forms are the one- to four-byte forms of UTF-8 (lead bytes 0x00-0x7F,
// 0xC2-0xDF, 0xE0-0xEF, 0xF0-0xF4). A byte that cannot start a character, or a continuation byte
// outside 0x80-0xBF (narrower after E0, ED, F0 and F4, which rules out overlong forms,
// surrogates and values above U+10FFFF), raises EIdException "Byte is invalid for this UTF-8
// sequence" and resets the decoder, so the next byte starts a new character.
class TIdUTF8ByteDecoder {
 public:
  [[nodiscard]] bool Feed(std::uint8_t byte, char32_t& codePoint);
  // Drops a partly decoded character.
  void Reset() noexcept;
  // True while a character has been started but not completed.
  [[nodiscard]] bool InSequence() const noexcept { return remaining_ > 0; }

 private:
  char32_t value_ = 0;
  int remaining_ = 0;      // continuation bytes still expected
  std::uint8_t lead_ = 0;  // the lead byte until its first continuation arrives
};

}  // namespace brixa
