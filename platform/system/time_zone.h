#pragma once
// LocalTimeBiasMinutes: the current offset of local time from UTC.

#include <cstdint>
#include <optional>

namespace brixa {

// The current bias of local time in minutes, with the sign the Windows zone query uses:
// UTC = local time + bias, so zones east of Greenwich have a negative bias (UTC+9 gives -540).
// Daylight saving in force now is included. Empty when the system cannot tell.
[[nodiscard]] std::optional<std::int32_t> LocalTimeBiasMinutes();

}  // namespace brixa
