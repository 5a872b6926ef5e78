#pragma once
// Dates as day counts (TDateTime), calendar arithmetic, and the reading and writing of the date
// forms found in HTTP headers.

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/network_exception.h"

namespace brixa {

// A date and time: whole days since 30 December 1899 plus the time of day as a fraction of a
// day. 0 means "no date". Offsets between zones use the same unit (one hour = 1/24).
using TDateTime = double;

inline constexpr const char* RSFailedTimeZoneInfo =
    "Failed attempting to retrieve time zone information.";

inline constexpr double kHoursPerDay = 24;
inline constexpr double kMinutesPerDay = 24 * 60;
inline constexpr double kSecondsPerDay = 24 * 60 * 60;
inline constexpr double kMillisecondsPerDay = 24.0 * 60 * 60 * 1000;

// ---- Calendar arithmetic (proleptic Gregorian, years 1..9999) ----

[[nodiscard]] bool IsLeapYear(int year) noexcept;
[[nodiscard]] int DaysInMonth(int year, int month) noexcept;

// False (and `value` untouched) for an impossible date or time.
[[nodiscard]] bool TryEncodeDate(int year, int month, int day, TDateTime& value) noexcept;
[[nodiscard]] bool TryEncodeTime(int hour, int minute, int second, int millisecond,
                                 TDateTime& value) noexcept;
// Raise EConvertError "Invalid argument to date encode" / "... time encode".
[[nodiscard]] TDateTime EncodeDate(int year, int month, int day);
[[nodiscard]] TDateTime EncodeTime(int hour, int minute, int second, int millisecond);
[[nodiscard]] TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute,
                                       int second, int millisecond = 0);

// Splits a value into its parts; times are rounded to the nearest millisecond first, so a value
// a hair below a whole second reads as that second. Negative values (before 1899-12-30) count
// their time of day forward from their day, as the representation defines.
void DecodeDate(TDateTime value, int& year, int& month, int& day) noexcept;
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond) noexcept;
// 1 = Sunday ... 7 = Saturday.
[[nodiscard]] int DayOfWeek(TDateTime value) noexcept;

// ---- Names ----

// 1..7 for "SUN".."SAT", 1..12 for "JAN".."DEC" (compared without letter case; only the exact
// three-letter text matches); 0 otherwise.
[[nodiscard]] int DayNameToNumber(std::string_view name) noexcept;
[[nodiscard]] int MonthNameToNumber(std::string_view name) noexcept;

// ---- Internet dates ----

// Reads a date in the RFC 1123 form (Sun, 06 Nov 1994 08:49:37 GMT), the RFC 850 form
// (Sunday, 06-Nov-94 08:49:37 GMT), the asctime form (Sun Nov  6 08:49:37 1994) and near forms.
// No zone is applied. `value` is left holding what follows the time, normally the zone text.
// Never raises: a date that cannot be read gives 0.
[[nodiscard]] TDateTime ParseInternetDate(std::string& value);

// ParseInternetDate, shifted by a numeric zone ("+hhmm" / "-hhmm"; every other zone text counts
// as UTC) and then into local time. Empty text gives 0; an unreadable non-empty text gives the
// local offset alone. Lets EIdFailedToRetreiveTimeZoneInfo through.
[[nodiscard]] TDateTime InternetDateToLocalTime(std::string_view text);

// Local time minus UTC, as a day fraction (positive east of Greenwich, daylight saving
// included). Raises EIdFailedToRetreiveTimeZoneInfo when the system cannot tell.
[[nodiscard]] TDateTime LocalOffsetFromUTC();

// "Sun, 06 Nov 1994 08:49:37 GMT". Converts nothing: `utc` must already be UTC.
[[nodiscard]] std::string FormatHttpDate(TDateTime utc);

}  // namespace brixa
