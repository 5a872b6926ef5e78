#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "runtime/exception.h"

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

// ---- Invariant formatting ----

// One argument of FormatInvariant: an integer, a floating-point number or a text.
class TFormatArg {
 public:
  enum class Kind { kSigned, kUnsigned, kFloat, kText };

  template <class T>
  requires(std::is_integral_v<T>&& std::is_signed_v<T> && !std::is_same_v<T, char>) TFormatArg(T v)
      : kind_(Kind::kSigned), signed_(v) {}  // NOLINT(runtime/explicit)
  template <class T>
  requires(std::is_integral_v<T>&& std::is_unsigned_v<T> && !std::is_same_v<T, bool>)
      TFormatArg(T v)
      : kind_(Kind::kUnsigned), unsigned_(v) {}                       // NOLINT(runtime/explicit)
  TFormatArg(double v) : kind_(Kind::kFloat), float_(v) {}            // NOLINT(runtime/explicit)
  TFormatArg(std::string_view v) : kind_(Kind::kText), text_(v) {}    // NOLINT(runtime/explicit)
  TFormatArg(const std::string& v) : kind_(Kind::kText), text_(v) {}  // NOLINT(runtime/explicit)
  TFormatArg(const char* v) : kind_(Kind::kText), text_(v) {}         // NOLINT(runtime/explicit)
  TFormatArg(char v) : kind_(Kind::kText), text_(1, v) {}             // NOLINT(runtime/explicit)

  [[nodiscard]] Kind kind() const noexcept { return kind_; }
  [[nodiscard]] std::int64_t AsSigned() const noexcept { return signed_; }
  [[nodiscard]] std::uint64_t AsUnsigned() const noexcept { return unsigned_; }
  [[nodiscard]] double AsFloat() const noexcept { return float_; }
  [[nodiscard]] const std::string& AsText() const noexcept { return text_; }

 private:
  Kind kind_;
  std::int64_t signed_ = 0;
  std::uint64_t unsigned_ = 0;
  double float_ = 0;
  std::string text_;
};

// printf-style formatting that never depends on the user's locale ("." as decimal separator,
// "," as thousands separator). The supported subset:
//
//   %%                       a percent sign
//   %[index:][-][0][width][.precision][h|hh|l|ll|z|j]type
//
//   d i   signed decimal; precision = minimum digits (zero-filled): "%.2d" of 6 is "06"
//   u     unsigned decimal (a negative signed argument is taken as its 64-bit two's complement)
//   x X   hexadecimal, lower / upper case digits; precision = minimum digits
//   s     text (a char argument is a one-character text); precision = maximum bytes
//   c     a char argument, or an integer taken as a code point (written as UTF-8)
//   f e g floating point as in C ("%.2f"); an integer argument is accepted and converted
//   n     floating point with thousands separators ("1,234.50"), precision default 2
//
// `index:` picks the argument (0-based) and later specifiers continue after it. Width pads with
// spaces on the left (on the right with '-'); a '0' flag pads numbers with zeros. Length
// modifiers are accepted and ignored (arguments carry their own types). A missing argument, an
// unknown type letter or an argument of the wrong kind (text for %d) raises EConvertError
// "Format '<format>' invalid or incompatible with argument".
[[nodiscard]] std::string FormatInvariantArgs(std::string_view format,
                                              const std::vector<TFormatArg>& args);

template <class... Args>
[[nodiscard]] std::string FormatInvariant(std::string_view format, const Args&... args) {
  return FormatInvariantArgs(format, std::vector<TFormatArg>{TFormatArg(args)...});
}

}  // namespace brixa
