#pragma once
// Whole numbers written as plain decimal digits, as the update protocol's values are.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace brixa {

// The value of `text` when it is 1 to `maxDigits` decimal digits and nothing else (no sign, no
// blank); nothing otherwise. `maxDigits` must be at most 19, so the value cannot overflow.
[[nodiscard]] constexpr std::optional<std::uint64_t> PlainDecimal(std::string_view text,
                                                                  std::size_t maxDigits) noexcept {
  if (text.empty() || text.size() > maxDigits) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

}  // namespace brixa
