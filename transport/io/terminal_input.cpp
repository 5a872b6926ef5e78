// Decoding and classifying the bytes of a line typed at a terminal.

#include "transport/io/terminal_input.h"

#include "runtime/network_exception.h"

namespace brixa::terminal {

namespace {

constexpr char32_t kFirstPrintable = 0x20;
constexpr char32_t kFirstC1Control = 0x80;
constexpr char32_t kLastC1Control = 0x9F;

}  // namespace

bool IsIgnoredControl(char32_t c) noexcept {
  return c < kFirstPrintable || (c >= kFirstC1Control && c <= kLastC1Control);
}

bool DecodeTypedByte(TIdUTF8ByteDecoder& decoder, std::uint8_t byte, TIdCharEncoding encoding,
                     std::string& character) {
  character.clear();
  if (encoding != ceUTF8) {
    character = BytesToText(TIdByteArray{byte}, encoding);
    return true;
  }
  char32_t codePoint = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const bool inSequence = decoder.InSequence();
    try {
      if (!decoder.Feed(byte, codePoint)) return false;
      AppendUTF8(character, codePoint);
      return true;
    } catch (const EIdException&) {
      // The decoder has reset itself; a byte that ended a broken sequence may start a new one.
      if (!inSequence) return false;
    }
  }
  return false;
}

char32_t FirstCodePoint(const std::string& character) {
  TIdUTF8ByteDecoder decoder;
  char32_t codePoint = 0;
  for (const char c : character) {
    if (decoder.Feed(static_cast<std::uint8_t>(c), codePoint)) return codePoint;
  }
  return codePoint;
}

}  // namespace brixa::terminal
