// The system's ANSI code page through the conversions and the upper-casing of Windows itself.

#include <windows.h>

#include "http/auth/ntlm/auth_ntlm_codepage.h"

namespace brixa {

namespace {

// The one byte of `c` in the ANSI code page; false when the code page has none (or needs two).
bool AnsiByte(char32_t c, char& out) {
  if (c > 0xFFFF) return false;
  const wchar_t wide = static_cast<wchar_t>(c);
  BOOL lossy = FALSE;
  const int written =
      ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, &wide, 1, &out, 1, nullptr, &lossy);
  return written == 1 && !lossy;
}

}  // namespace

std::uint8_t NTLMCodePageByte(char32_t c) {
  char byte = 0;
  return AnsiByte(c, byte) ? static_cast<std::uint8_t>(byte) : '?';
}

// Upper-cased by the system's rules (kernel32, no window library), and kept only when the code
// page holds the upper-case letter too: a letter never leaves the code page by upper-casing.
char32_t NTLMCodePageUpper(char32_t c) {
  char byte = 0;
  if (!AnsiByte(c, byte)) return c;
  wchar_t wide = 0;
  if (::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, &byte, 1, &wide, 1) != 1) return c;
  wchar_t upper = 0;
  if (::LCMapStringW(LOCALE_SYSTEM_DEFAULT, LCMAP_UPPERCASE, &wide, 1, &upper, 1) != 1) return c;
  char upperByte = 0;
  return AnsiByte(upper, upperByte) ? upper : c;
}

}  // namespace brixa
