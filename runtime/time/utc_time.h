#pragma once
// UTC times as the manifest writes them: RFC 3339 with a "Z", to the second.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brixa {

// Seconds since 1970-01-01T00:00:00Z of exactly "YYYY-MM-DDTHH:MM:SSZ" (years 1970-9999, a
// real date, no leap second, no fraction, no other offset); none for anything else. One
// spelling per instant keeps the signed text unambiguous.
[[nodiscard]] std::optional<std::int64_t> ParseUtcTime(std::string_view text);
// The same form of `seconds` (0 .. end of 9999).
[[nodiscard]] std::string FormatUtcTime(std::int64_t seconds);
// Seconds since 1970-01-01T00:00:00Z now, by the system clock.
[[nodiscard]] std::int64_t UtcNowSeconds();

}  // namespace brixa
