// Calendar arithmetic on civil day numbers, and the lenient reader for RFC 1123, RFC 850 and
// asctime dates, which gives 0 for anything it cannot read instead of raising.

#include "runtime/time/internet_date.h"

#include <cmath>
#include <cstdlib>

#include "platform/core/exception.h"
#include "platform/system/time_zone.h"
#include "runtime/text/format_invariant.h"
#include "runtime/text/text.h"

namespace brixa {

namespace {

constexpr int kMinYear = 1;
constexpr int kMaxYear = 9999;
constexpr std::int64_t kMillisecondsPerDayInt = 86400000;
// Day numbers of 0001-01-01 and 9999-12-31 in this representation.
constexpr double kFirstDay = -693593;
constexpr double kLastDay = 2958465;

constexpr const char* kParseDayNames[] = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
constexpr const char* kParseMonthNames[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                            "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
constexpr const char* kFormatDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kFormatMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Two-digit years: below this they are in the 2000s, from it up to 99 in the 1900s.
constexpr int kTwoDigitYearPivot = 80;
// The parser's "no year given" marker; the asctime form puts the year after the time.
constexpr int kNoYear = 1900;

// Days from 1970-01-01 to the civil date (any proleptic Gregorian date).
constexpr std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) noexcept {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yoe = static_cast<unsigned>(year - era * 400);
  const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t days, int& year, int& month, int& day) noexcept {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0));
}

constexpr std::int64_t kDayZeroFromUnix = DaysFromCivil(1899, 12, 30);

// A value split into its day number and the milliseconds of its time of day (rounded), with the
// day moved on when the time rounds up to midnight. False for values outside years 1..9999.
bool SplitValue(TDateTime value, std::int64_t& dayNumber, std::int64_t& milliseconds) noexcept {
  if (!std::isfinite(value) || value < kFirstDay - 1 || value > kLastDay + 1) return false;
  const double whole = std::trunc(value);
  dayNumber = static_cast<std::int64_t>(whole);
  milliseconds = std::llround(std::fabs(value - whole) * kMillisecondsPerDayInt);
  if (milliseconds >= kMillisecondsPerDayInt) {
    milliseconds -= kMillisecondsPerDayInt;
    ++dayNumber;
  }
  return true;
}

// The date with a time of day added; before day 0 the time counts forward from the day too,
// which in this representation means moving away from zero.
TDateTime CombineDateTime(TDateTime date, TDateTime time) noexcept {
  return date >= 0 ? date + time : date - time;
}

int NameToNumber(std::string_view name, const char* const* table, int count) noexcept {
  for (int i = 0; i < count; ++i) {
    if (SameTextNoCase(name, table[i])) return i + 1;
  }
  return 0;
}

void TrimLeftInPlace(std::string& text) {
  text = TrimLeft(text);
}

int NumberOr(const std::string& text, int fallback) {
  return StrToIntDefTrim(text, fallback);
}

std::string PeekUpTo(const std::string& text, std::string_view delimiter) {
  std::string copy = text;
  return TakeUpTo(copy, delimiter, false);
}

// Drops a leading day name ("Sun," / "Sunday," / "Sun") together with its comma.
void SkipDayName(std::string& value) {
  if (DayNameToNumber(value.substr(0, 3)) == 0) return;
  if (value.size() >= 5 && value[3] == ',' && value[4] != ' ') {
    value = value.substr(0, 4) + ' ' + value.substr(4);
  }
  TakeUpTo(value, " ");
  TrimLeftInPlace(value);
}

// Reads "[day] [month]" or "[month] [day]" with the field delimiter of the form in use.
void ReadDayAndMonth(std::string& value, int& day, int& month) {
  const std::size_t dash = value.find('-');
  const std::size_t space = value.find(' ');
  const bool dashForm =
      dash != std::string::npos && dash > 0 && space != std::string::npos && dash < space;
  const std::string_view delimiter = dashForm ? "-" : " ";
  if (MonthNameToNumber(PeekUpTo(value, delimiter)) != 0) {
    month = MonthNameToNumber(TakeUpTo(value, delimiter));
    TrimLeftInPlace(value);
    day = NumberOr(TakeUpTo(value, delimiter), 1);
    TrimLeftInPlace(value);
    return;
  }
  day = NumberOr(TakeUpTo(value, delimiter), 1);
  TrimLeftInPlace(value);
  month = MonthNameToNumber(TakeUpTo(value, delimiter));
  TrimLeftInPlace(value);
}

int ReadYear(std::string& value) {
  std::string yearText = TakeUpTo(value, " ");
  int year = NumberOr(yearText, kNoYear);
  if (year == kNoYear) {
    // asctime form: the time came first, the year is what is left.
    year = NumberOr(value, kNoYear);
    value = std::move(yearText);
  }
  if (year >= 0 && year < kTwoDigitYearPivot) return year + 2000;
  if (year >= kTwoDigitYearPivot && year <= 99) return year + 1900;
  return year;
}

// Cuts an AM/PM marker and everything after it (a zone included) off the value.
void CutDayHalfMarker(std::string& value, bool& am, bool& pm) {
  const std::size_t amAt = value.find("AM");
  if (amAt != std::string::npos) {
    value.erase(amAt);
    am = true;
  }
  const std::size_t pmAt = value.find("PM");
  if (pmAt != std::string::npos) {
    value.erase(pmAt);
    pm = true;
  }
}

// Reads "hh:mm:ss" off the value; false for an impossible time.
bool ReadTime(std::string& value, bool am, bool pm, TDateTime& time) {
  std::string clock = TakeUpTo(value, " ");
  int hour = NumberOr(TakeUpTo(clock, ":"), 0);
  const int minute = NumberOr(TakeUpTo(clock, ":"), 0);
  const int second = NumberOr(TakeUpTo(clock, " "), 0);
  TrimLeftInPlace(value);
  if (am) {
    if (hour == 12) hour = 0;
  } else if (pm && hour < 12) {
    hour += 12;
  }
  return TryEncodeTime(hour, minute, second, 0, time);
}

// The offset of a numeric zone ("+hhmm" / "-hhmm") at the start of the rest; 0 for any other.
TDateTime NumericZoneOffset(const std::string& rest) {
  if (rest.size() <= 4) return 0;
  const std::string zone = Trim(rest).substr(0, 5);
  if (zone.size() < 5 || (zone[0] != '+' && zone[0] != '-')) return 0;
  for (std::size_t i = 1; i < 5; ++i) {
    if (!IsDigit(zone[i])) return 0;
  }
  const int hours = (zone[1] - '0') * 10 + (zone[2] - '0');
  const int minutes = (zone[3] - '0') * 10 + (zone[4] - '0');
  TDateTime offset = 0;
  if (!TryEncodeTime(hours, minutes, 0, 0, offset)) return 0;
  return zone[0] == '-' ? -offset : offset;
}

[[nodiscard]] bool TwoDigits(std::string_view text, std::size_t at, int& value) noexcept {
  if (!IsDigit(text[at]) || !IsDigit(text[at + 1])) return false;
  value = (text[at] - '0') * 10 + (text[at + 1] - '0');
  return true;
}

// The one form servers send today ("Sun, 06 Nov 1994 08:49:37 GMT", RFC 9110, 5.6.7), read in
// one pass over fixed positions. False for anything else, which the general parser then reads;
// for the texts it accepts, the answer is the general parser's.
bool TryParseFixDate(std::string_view text, TDateTime& result) {
  constexpr std::size_t kFixDateLength = 29;
  if (text.size() != kFixDateLength || text[3] != ',' || text[4] != ' ' || text[7] != ' ' ||
      text[11] != ' ' || text[16] != ' ' || text[19] != ':' || text[22] != ':' || text[25] != ' ' ||
      text.substr(26) != "GMT") {
    return false;
  }
  int day = 0, century = 0, yearInCentury = 0, hour = 0, minute = 0, second = 0;
  if (!TwoDigits(text, 5, day) || !TwoDigits(text, 12, century) ||
      !TwoDigits(text, 14, yearInCentury) || !TwoDigits(text, 17, hour) ||
      !TwoDigits(text, 20, minute) || !TwoDigits(text, 23, second)) {
    return false;
  }
  const int year = century * 100 + yearInCentury;
  const int month = NameToNumber(text.substr(8, 3), kParseMonthNames, 12);
  // From 1901: no two-digit year rules, no negative day numbers, not the "no year" marker.
  if (year <= kNoYear || month == 0 || NameToNumber(text.substr(0, 3), kParseDayNames, 7) == 0) {
    return false;
  }
  TDateTime date = 0;
  TDateTime time = 0;
  if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, minute, second, 0, time)) {
    return false;
  }
  result = CombineDateTime(date, time);
  return true;
}

}  // namespace

bool IsLeapYear(int year) noexcept {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) noexcept {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& value) noexcept {
  if (year < kMinYear || year > kMaxYear || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month)) {
    return false;
  }
  value = static_cast<double>(
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
      kDayZeroFromUnix);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& value) noexcept {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999) {
    return false;
  }
  const std::int64_t ms = ((hour * 60LL + minute) * 60 + second) * 1000 + millisecond;
  value = static_cast<double>(ms) / kMillisecondsPerDay;
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime value = 0;
  if (!TryEncodeDate(year, month, day, value)) {
    throw EConvertError("Invalid argument to date encode");
  }
  return value;
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
  TDateTime value = 0;
  if (!TryEncodeTime(hour, minute, second, millisecond, value)) {
    throw EConvertError("Invalid argument to time encode");
  }
  return value;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond) {
  return CombineDateTime(EncodeDate(year, month, day),
                         EncodeTime(hour, minute, second, millisecond));
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) noexcept {
  std::int64_t dayNumber = 0;
  std::int64_t milliseconds = 0;
  if (!SplitValue(value, dayNumber, milliseconds)) {
    year = month = day = 0;
    return;
  }
  CivilFromDays(dayNumber + kDayZeroFromUnix, year, month, day);
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond) noexcept {
  std::int64_t dayNumber = 0;
  std::int64_t ms = 0;
  if (!SplitValue(value, dayNumber, ms)) ms = 0;
  millisecond = static_cast<int>(ms % 1000);
  second = static_cast<int>(ms / 1000 % 60);
  minute = static_cast<int>(ms / 60000 % 60);
  hour = static_cast<int>(ms / 3600000);
}

int DayOfWeek(TDateTime value) noexcept {
  std::int64_t dayNumber = 0;
  std::int64_t milliseconds = 0;
  if (!SplitValue(value, dayNumber, milliseconds)) return 0;
  // Day 0, 30 December 1899, was a Saturday.
  const std::int64_t fromSunday = ((dayNumber + 6) % 7 + 7) % 7;
  return static_cast<int>(fromSunday) + 1;
}

int DayNameToNumber(std::string_view name) noexcept {
  return NameToNumber(name, kParseDayNames, 7);
}

int MonthNameToNumber(std::string_view name) noexcept {
  return NameToNumber(name, kParseMonthNames, 12);
}

TDateTime ParseInternetDate(std::string& value) {
  value = Trim(value);
  if (value.empty()) return 0;
  SkipDayName(value);
  int day = 0;
  int month = 0;
  ReadDayAndMonth(value, day, month);
  const int year = ReadYear(value);
  TDateTime result = 0;
  if (!TryEncodeDate(year, month, day, result)) return 0;
  bool am = false;
  bool pm = false;
  CutDayHalfMarker(value, am, pm);
  if (value.find(':') != std::string::npos) {
    TDateTime time = 0;
    if (!ReadTime(value, am, pm, time)) return 0;
    result = CombineDateTime(result, time);
  }
  TrimLeftInPlace(value);
  return result;
}

TDateTime InternetDateToLocalTime(std::string_view text) {
  if (text.empty()) return 0;
  TDateTime fixDate = 0;
  if (TryParseFixDate(text, fixDate)) return fixDate + LocalOffsetFromUTC();
  std::string rest(text);
  const TDateTime date = ParseInternetDate(rest);
  return date - NumericZoneOffset(rest) + LocalOffsetFromUTC();
}

TDateTime LocalOffsetFromUTC() {
  const std::optional<std::int32_t> bias = LocalTimeBiasMinutes();
  if (!bias) throw EIdFailedToRetreiveTimeZoneInfo(RSFailedTimeZoneInfo);
  // UTC = local + bias: the offset of local time from UTC is the bias negated.
  return -static_cast<double>(*bias) / kMinutesPerDay;
}

std::string FormatHttpDate(TDateTime utc) {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
  DecodeDate(utc, year, month, day);
  DecodeTime(utc, hour, minute, second, millisecond);
  const int weekday = DayOfWeek(utc);
  // Outside years 1..9999 there is no calendar date; write the zero date rather than garbage.
  if (weekday == 0 || month == 0) return FormatHttpDate(0);
  const std::string clock = FormatInvariant("%.2d:%.2d:%.2d", hour, minute, second);
  return FormatInvariant("%s, %.2d %s %.4d %s %s", kFormatDayNames[weekday - 1], day,
                         kFormatMonthNames[month - 1], year, clock, "GMT");
}

}  // namespace brixa
