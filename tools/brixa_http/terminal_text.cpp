// Every byte outside printable ASCII written as \xHH, tabs and (optionally) line breaks kept.

#include "terminal_text.h"

namespace brixa::tool {

std::string TerminalSafe(std::string_view text, bool keepLineBreaks) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string safe;
  safe.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (keepLineBreaks && byte == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if ((byte >= 0x20 && byte < 0x7F) || byte == '\t' || (keepLineBreaks && byte == '\n')) {
      safe += static_cast<char>(byte);
      continue;
    }
    safe += "\\x";
    safe += kHex[byte >> 4];
    safe += kHex[byte & 0x0F];
  }
  return safe;
}

}  // namespace brixa::tool
