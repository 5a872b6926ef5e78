#pragma once
// ReadProfileText: one value from INI text held in memory, by the profile-string rules.

#include <cstddef>
#include <string>
#include <string_view>

namespace brixa {

// Reads `key` of `section` from the INI text `bytes` by the rules ReadProfileString describes
// (byte-order marks, line ends, case-insensitive names, trimming, one pair of quotes removed,
// the result cut to size - 1 bytes, `defaultValue` when the section or key is missing). The
// same code on every platform, so text verified in memory reads alike everywhere.
[[nodiscard]] std::string ReadProfileText(std::string_view section, std::string_view key,
                                          std::string_view defaultValue, std::size_t size,
                                          std::string_view bytes);

}  // namespace brixa
