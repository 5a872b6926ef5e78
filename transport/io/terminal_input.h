#pragma once
// How bytes typed at a terminal become characters for interactive line input: decoding one byte
// at a time, and which characters line editing treats as its own or ignores.

#include <cstdint>
#include <string>

#include "runtime/text/encoding.h"

namespace brixa::terminal {

inline constexpr char32_t kBackspace = 0x08;
inline constexpr char32_t kTab = 0x09;
inline constexpr char32_t kLineFeed = 0x0A;
inline constexpr char32_t kCarriageReturn = 0x0D;
inline constexpr char32_t kDelete = 0x7F;

// Control characters a typed line drops: below 0x20, and the C1 range 0x80-0x9F as code points.
// The editing characters above are among them; they are acted on before this is asked.
[[nodiscard]] bool IsIgnoredControl(char32_t c) noexcept;

// Decodes one received byte into `character` (as UTF-8 text). For UTF-8 a character may take
// several bytes (false until the last); a byte that breaks a sequence drops the sequence and is
// tried again as a start, and a byte that cannot start one is dropped. Other encodings take one
// byte per character.
[[nodiscard]] bool DecodeTypedByte(TIdUTF8ByteDecoder& decoder, std::uint8_t byte,
                                   TIdCharEncoding encoding, std::string& character);

// The code point of the first character of UTF-8 text (0 for none).
[[nodiscard]] char32_t FirstCodePoint(const std::string& character);

}  // namespace brixa::terminal
