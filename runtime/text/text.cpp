// The text helpers and the integer parsers (decimal, "$" and "0x" hex) that never overflow.

#include "runtime/text/text.h"

#include <limits>

#include "platform/core/exception.h"
#include "platform/system/system_info.h"
#include "runtime/network_exception.h"

namespace brixa {

namespace {

bool EqualNoCase(char a, char b) noexcept {
  return UpCaseChar(a) == UpCaseChar(b);
}

bool IsTrimmed(char ch) noexcept {
  return static_cast<unsigned char>(ch) <= 0x20;
}

void CheckCharPos(std::int64_t position) {
  if (position < 1) throw EIdException(RSInvalidCharPos);
}

// Hexadecimal digits into a value of `bits` bits, taken as two's complement of that width.
bool ParseHex(std::string_view digits, int bits, std::uint64_t& value) noexcept {
  if (digits.empty()) return false;
  value = 0;
  for (const char ch : digits) {
    const int nibble = HexDigitValue(ch);
    if (nibble < 0) return false;
    if (bits < 64 && (value >> (bits - 4)) != 0) return false;
    if (bits == 64 && (value >> 60) != 0) return false;
    value = (value << 4) | static_cast<std::uint64_t>(nibble);
  }
  return true;
}

// Decimal digits whose value must not exceed `limit`.
bool ParseDecimal(std::string_view digits, std::uint64_t limit, std::uint64_t& value) noexcept {
  if (digits.empty()) return false;
  value = 0;
  for (const char ch : digits) {
    if (!IsDigit(ch)) return false;
    const auto digit = static_cast<std::uint64_t>(ch - '0');
    if (value > (limit - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return true;
}

// The integer of an already trimmed text, in a signed type of `bits` bits (32 or 64).
bool ParseInteger(std::string_view text, int bits, std::int64_t& result) noexcept {
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  const std::uint64_t maxPositive = (std::uint64_t{1} << (bits - 1)) - 1;
  std::uint64_t magnitude = 0;
  if (!text.empty() && text[0] == '$') {
    if (!ParseHex(text.substr(1), bits, magnitude)) return false;
  } else if (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    if (!ParseHex(text.substr(2), bits, magnitude)) return false;
  } else {
    if (!ParseDecimal(text, negative ? maxPositive + 1 : maxPositive, magnitude)) return false;
    result =
        negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
    return true;
  }
  // Hexadecimal: the bit pattern of the target width, negated in that width.
  if (bits == 32) {
    const auto bitsValue = static_cast<std::uint32_t>(magnitude);
    result = static_cast<std::int32_t>(negative ? 0u - bitsValue : bitsValue);
    return true;
  }
  result = static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude);
  return true;
}

bool ParseTrimmed(std::string_view text, int bits, std::int64_t& result) noexcept {
  const std::string trimmed = Trim(text);
  return ParseInteger(trimmed, bits, result);
}

}  // namespace

int HexDigitValue(char ch) noexcept {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  return -1;
}

std::optional<std::uint64_t> ParseDigits(std::string_view digits, std::uint64_t limit) noexcept {
  std::uint64_t value = 0;
  if (!ParseDecimal(digits, limit, value)) return std::nullopt;
  return value;
}

std::optional<std::uint64_t> ParseHexDigits(std::string_view digits, std::uint64_t limit) noexcept {
  if (digits.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char ch : digits) {
    const int nibble = HexDigitValue(ch);
    if (nibble < 0 || value > (limit - static_cast<std::uint64_t>(nibble)) / 16) {
      return std::nullopt;
    }
    value = value * 16 + static_cast<std::uint64_t>(nibble);
  }
  return value;
}

char PathDelimiter() noexcept {
  return SystemPathDelimiter();
}

std::int64_t TextPos(std::string_view part, std::string_view text, bool caseSensitive) noexcept {
  if (part.size() > text.size()) return 0;
  if (caseSensitive) {
    const std::size_t found = text.find(part);
    return found == std::string_view::npos ? 0 : static_cast<std::int64_t>(found) + 1;
  }
  const std::size_t last = text.size() - part.size();
  for (std::size_t i = 0; i <= last; ++i) {
    std::size_t k = 0;
    while (k < part.size() && EqualNoCase(text[i + k], part[k])) ++k;
    if (k == part.size()) return static_cast<std::int64_t>(i) + 1;
  }
  return 0;
}

std::string TakeUpTo(std::string& input, std::string_view delimiter, bool remove,
                     bool caseSensitive) {
  const std::int64_t position = TextPos(delimiter, input, caseSensitive);
  if (position == 0) {
    if (!remove) return input;
    std::string result = std::move(input);
    input.clear();
    return result;
  }
  const auto before = static_cast<std::size_t>(position - 1);
  std::string result = input.substr(0, before);
  if (remove) input.erase(0, before + delimiter.size());
  return result;
}

int IndexOfText(std::string_view text, const std::vector<std::string>& list, bool caseSensitive) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (caseSensitive ? text == list[i] : SameTextNoCase(text, list[i])) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int IndexOfText(std::string_view text, std::initializer_list<std::string_view> list,
                bool caseSensitive) {
  int index = 0;
  for (const std::string_view entry : list) {
    if (caseSensitive ? text == entry : SameTextNoCase(text, entry)) return index;
    ++index;
  }
  return -1;
}

bool SameTextNoCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!EqualNoCase(a[i], b[i])) return false;
  }
  return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view part) noexcept {
  return part.size() <= text.size() && SameTextNoCase(text.substr(0, part.size()), part);
}

bool EndsWithNoCase(std::string_view text, std::string_view part) noexcept {
  return part.size() <= text.size() && SameTextNoCase(text.substr(text.size() - part.size()), part);
}

bool CharAtIsInSet(std::string_view text, std::int64_t position, std::string_view set) {
  CheckCharPos(position);
  if (position > static_cast<std::int64_t>(text.size())) return false;
  return set.find(text[static_cast<std::size_t>(position - 1)]) != std::string_view::npos;
}

bool CharIs(std::string_view text, std::int64_t position, char ch) {
  CheckCharPos(position);
  if (position > static_cast<std::int64_t>(text.size())) return false;
  return text[static_cast<std::size_t>(position - 1)] == ch;
}

std::int32_t StrToIntTrim(std::string_view text) {
  std::int64_t value = 0;
  if (!ParseTrimmed(text, 32, value)) {
    std::string message = "'";
    message.append(text).append("' is not a valid integer value");
    throw EConvertError(message);
  }
  return static_cast<std::int32_t>(value);
}

std::int32_t StrToIntDefTrim(std::string_view text, std::int32_t defaultValue) noexcept {
  std::int64_t value = 0;
  return ParseTrimmed(text, 32, value) ? static_cast<std::int32_t>(value) : defaultValue;
}

std::int64_t StrToInt64DefTrim(std::string_view text, std::int64_t defaultValue) noexcept {
  std::int64_t value = 0;
  return ParseTrimmed(text, 64, value) ? value : defaultValue;
}

bool TryStrToInt64Trim(std::string_view text, std::int64_t& value) noexcept {
  return ParseTrimmed(text, 64, value);
}

bool IsNumericText(std::string_view text) noexcept {
  std::string_view digits = text;
  if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) digits.remove_prefix(1);
  if (digits.empty()) return false;
  for (const char ch : digits) {
    if (!IsDigit(ch)) return false;
  }
  std::int64_t value = 0;
  return ParseInteger(text, 64, value);
}

std::string ReplaceFirst(std::string_view text, std::string_view oldPart,
                         std::string_view newPart) {
  std::string result(text);
  if (oldPart.empty()) return result;
  const std::size_t found = result.find(oldPart);
  if (found != std::string::npos) result.replace(found, oldPart.size(), newPart);
  return result;
}

std::string IncludeTrailingDelimiter(std::string_view path) {
  std::string result(path);
  if (!result.empty() && !IsSystemPathDelimiter(result.back())) result.push_back(PathDelimiter());
  return result;
}

std::string Trim(std::string_view text) {
  return TrimRight(TrimLeft(text));
}

std::string TrimLeft(std::string_view text) {
  std::size_t first = 0;
  while (first < text.size() && IsTrimmed(text[first])) ++first;
  return std::string(text.substr(first));
}

std::string TrimRight(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0 && IsTrimmed(text[end - 1])) --end;
  return std::string(text.substr(0, end));
}

std::string UpperCase(std::string_view text) {
  std::string result(text);
  for (char& ch : result) ch = UpCaseChar(ch);
  return result;
}

std::string LowerCase(std::string_view text) {
  std::string result(text);
  for (char& ch : result) ch = LowCaseChar(ch);
  return result;
}

}  // namespace brixa
