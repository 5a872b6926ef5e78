#pragma once
// Text operations for protocol text: splitting, searching and comparing without letter case, and
// the trimming integer conversions. Positions are 1-based bytes; folding is ASCII only.

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brixa {

// Text operations the protocol code cuts lines and header values with.
//
// Text is UTF-8 in std::string; positions are 1-based and count bytes (protocol text is ASCII).
// Comparisons "without letter case" fold the ASCII letters A-Z / a-z only; bytes of other
// characters compare exactly. That is the rule for every header name, token and date text the
// system handles, and it does not depend on the user's locale.

inline constexpr const char* RSInvalidCharPos = "Invalid ACharPos";

// The path delimiter of the platform ('\\' on Windows, '/' elsewhere).
[[nodiscard]] char PathDelimiter() noexcept;

// Splits `input` at the first occurrence of `delimiter`.
// Found at position p: returns the text before it and, when `remove`, leaves in `input` what
// follows the delimiter. Not found: returns the whole input and, when `remove`, empties it.
// Without case sensitivity the search folds letter case but the result keeps the input's case.
// An empty delimiter is found at position 1.
std::string TakeUpTo(std::string& input, std::string_view delimiter, bool remove = true,
                     bool caseSensitive = true);

// Index (0-based) of the first entry equal to `text` (without letter case unless
// caseSensitive), or -1.
[[nodiscard]] int IndexOfText(std::string_view text, const std::vector<std::string>& list,
                              bool caseSensitive);
[[nodiscard]] int IndexOfText(std::string_view text, std::initializer_list<std::string_view> list,
                              bool caseSensitive);

[[nodiscard]] bool SameTextNoCase(std::string_view a, std::string_view b) noexcept;
// False when `part` is longer than `text`; an empty part always matches.
[[nodiscard]] bool StartsWithNoCase(std::string_view text, std::string_view part) noexcept;
[[nodiscard]] bool EndsWithNoCase(std::string_view text, std::string_view part) noexcept;

// Position of the first occurrence of `part` in `text` (1-based), 0 when none. With
// caseSensitive false the ASCII letters are folded.
[[nodiscard]] std::int64_t TextPos(std::string_view part, std::string_view text,
                                   bool caseSensitive = true) noexcept;

// The text has a character at `position` (1-based) and it occurs in `set`. A position beyond the
// text gives false; a position below 1 raises EIdException "Invalid ACharPos".
[[nodiscard]] bool CharAtIsInSet(std::string_view text, std::int64_t position,
                                 std::string_view set);
// The text has a character at `position` and it equals `ch`; same position rules.
[[nodiscard]] bool CharIs(std::string_view text, std::int64_t position, char ch);

// Integer conversions. Leading and trailing spaces and control characters are removed first.
// Accepted: an optional sign, then decimal digits, or "$" / "0x" / "0X" and hexadecimal digits.
// Decimal values must fit the result type; hexadecimal values may use all of its bits and are
// taken as two's complement ("$FFFFFFFF" is -1 as a 32-bit integer).
//
// Raises EConvertError "'<text>' is not a valid integer value" when the text is not one.
[[nodiscard]] std::int32_t StrToIntTrim(std::string_view text);
// The same, or `defaultValue` when the text is not a number.
[[nodiscard]] std::int32_t StrToIntDefTrim(std::string_view text,
                                           std::int32_t defaultValue) noexcept;
[[nodiscard]] std::int64_t StrToInt64DefTrim(std::string_view text,
                                             std::int64_t defaultValue) noexcept;
// The same rules without a default; false when the text is not a number.
[[nodiscard]] bool TryStrToInt64Trim(std::string_view text, std::int64_t& value) noexcept;

// The whole text, untrimmed, is a decimal 64-bit integer: an optional sign and at least one
// digit, with a value that fits.
[[nodiscard]] bool IsNumericText(std::string_view text) noexcept;
// '0' to '9'.
[[nodiscard]] constexpr bool IsDigit(char ch) noexcept {
  return ch >= '0' && ch <= '9';
}
// The value 0-15 of a hexadecimal digit in either case, or -1 for any other character.
[[nodiscard]] int HexDigitValue(char ch) noexcept;
// A run of decimal (hexadecimal) digits and nothing else, with a value of at most `limit`;
// nothing for empty text, any other character (sign, blank, prefix) or a larger value.
[[nodiscard]] std::optional<std::uint64_t> ParseDigits(std::string_view digits,
                                                       std::uint64_t limit) noexcept;
[[nodiscard]] std::optional<std::uint64_t> ParseHexDigits(std::string_view digits,
                                                          std::uint64_t limit) noexcept;

// `text` with the first occurrence of `oldPart` (case-sensitive) replaced by `newPart`; the text
// unchanged when it does not occur or `oldPart` is empty.
[[nodiscard]] std::string ReplaceFirst(std::string_view text, std::string_view oldPart,
                                       std::string_view newPart);

// The path with the platform's path delimiter appended when it does not already end with one
// (on Windows '/' counts as one too). An empty path stays empty.
[[nodiscard]] std::string IncludeTrailingDelimiter(std::string_view path);

// Trimming removes "spaces and control characters": every byte up to and including 0x20.
[[nodiscard]] std::string Trim(std::string_view text);
[[nodiscard]] std::string TrimLeft(std::string_view text);
[[nodiscard]] std::string TrimRight(std::string_view text);

// ASCII letter case; other bytes are left alone.
[[nodiscard]] constexpr char UpCaseChar(char ch) noexcept {
  return ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch;
}
[[nodiscard]] constexpr char LowCaseChar(char ch) noexcept {
  return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch;
}
[[nodiscard]] std::string UpperCase(std::string_view text);
[[nodiscard]] std::string LowerCase(std::string_view text);

// Small helpers.
[[nodiscard]] constexpr std::int32_t Max(std::int32_t a, std::int32_t b) noexcept {
  return a > b ? a : b;
}
[[nodiscard]] constexpr std::int32_t Min(std::int32_t a, std::int32_t b) noexcept {
  return a < b ? a : b;
}
[[nodiscard]] constexpr std::int64_t Min(std::int64_t a, std::int64_t b) noexcept {
  return a < b ? a : b;
}
// Choose-by-condition.
[[nodiscard]] constexpr std::int64_t IfThen(bool condition, std::int64_t whenTrue,
                                            std::int64_t whenFalse = 0) noexcept {
  return condition ? whenTrue : whenFalse;
}
[[nodiscard]] inline std::string IfThen(bool condition, std::string_view whenTrue,
                                        std::string_view whenFalse = {}) {
  return std::string(condition ? whenTrue : whenFalse);
}

}  // namespace brixa
