#pragma once
// The system's 8-bit code page as NTLM needs it: the LM password and the names it upper-cases.

#include <cstdint>

namespace brixa {

// `c` as one byte of the system's 8-bit code page (the ANSI code page on Windows, Latin-1
// elsewhere); '?' when the code page has no such character.
[[nodiscard]] std::uint8_t NTLMCodePageByte(char32_t c);
// The upper case of `c` as the system's 8-bit code page has it, as a character again; `c`
// itself when the code page lacks `c` or has no upper case for it.
[[nodiscard]] char32_t NTLMCodePageUpper(char32_t c);

}  // namespace brixa
