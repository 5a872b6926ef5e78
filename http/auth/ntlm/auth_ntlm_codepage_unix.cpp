// Latin-1 stands for the 8-bit code page here: the byte values of its characters are their code
// points, and it is the code page the Windows build meets most.

#include "http/auth/ntlm/auth_ntlm_codepage.h"

namespace brixa {

namespace {
constexpr char32_t kLastLatin1 = 0xFF;
}  // namespace

std::uint8_t NTLMCodePageByte(char32_t c) {
  return c <= kLastLatin1 ? static_cast<std::uint8_t>(c) : '?';
}

char32_t NTLMCodePageUpper(char32_t c) {
  if (c >= U'a' && c <= U'z') return c - 0x20;
  // The Latin-1 small letters from à to þ, but ÷; ß and ÿ have no upper case inside Latin-1.
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
  return c;
}

}  // namespace brixa
