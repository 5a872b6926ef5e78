#pragma once
// UTF-8 text to and from the UTF-16 text of Windows' wide-character calls.

#include <string>
#include <string_view>

namespace brixa {

// Bytes that are not UTF-8 become U+FFFD, as the system converts them.
[[nodiscard]] std::wstring WideFromUtf8(std::string_view text);
// A null-terminated wide text (null gives empty text).
[[nodiscard]] std::string Utf8FromWide(const wchar_t* text);

}  // namespace brixa
