// The parsers for IPv6 texts (with "::" and an embedded IPv4 tail) and for the classic IPv4 forms
// (fewer than four parts, hex and octal parts).

#include "runtime/text/ip_text.h"

#include <cstddef>
#include <vector>

#include "runtime/network_exception.h"
#include "runtime/text/text.h"

namespace brixa {

namespace {

constexpr int kIPv6Groups = 8;
constexpr int kMaxColons = 7;
constexpr int kMinColons = 2;
constexpr int kEmbeddedIPv4Dots = 3;
constexpr int kMaxColonsWithIPv4 = 6;
constexpr std::uint32_t kMaxGroup = 0xFFFF;
constexpr std::uint32_t kMaxIPv4Byte = 255;
constexpr int kIPv4Parts = 4;
constexpr char kHexDigits[] = "0123456789ABCDEF";

// Splits at every occurrence of the separator; "a::b" gives "a", "", "b".
[[nodiscard]] std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = text.find(separator, start);
    if (at == std::string_view::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, at - start));
    start = at + 1;
  }
}

// One group or byte as a value no greater than `limit`; leading zeros are allowed.
[[nodiscard]] std::optional<std::uint32_t> ParseHex(std::string_view text, std::uint32_t limit) {
  const std::optional<std::uint64_t> value = ParseHexDigits(text, limit);
  if (!value) return std::nullopt;
  return static_cast<std::uint32_t>(*value);
}

[[nodiscard]] std::optional<std::uint32_t> ParseDecimal(std::string_view text,
                                                        std::uint32_t limit) {
  const std::optional<std::uint64_t> value = ParseDigits(text, limit);
  if (!value) return std::nullopt;
  return static_cast<std::uint32_t>(*value);
}

// Upper-case hexadecimal without leading zeros ("0" for zero).
[[nodiscard]] std::string HexNoLeadingZeros(std::uint32_t value) {
  std::string digits;
  do {
    digits.insert(digits.begin(), kHexDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  return digits;
}

void AppendHexByte(std::string& out, std::uint32_t value) {
  out += kHexDigits[(value >> 4) & 0xF];
  out += kHexDigits[value & 0xF];
}

struct CharCounts {
  int dots = 0;
  int colons = 0;
  std::size_t firstDot = std::string_view::npos;
  std::size_t lastColon = std::string_view::npos;
};

// Counts separators and rejects characters an IPv6 text cannot hold: hex letters are allowed
// only before the first "." (an embedded IPv4 tail is decimal).
[[nodiscard]] std::optional<CharCounts> ScanIPv6Characters(std::string_view text) {
  CharCounts counts;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.') {
      if (++counts.dots > kEmbeddedIPv4Dots) return std::nullopt;
      if (counts.firstDot == std::string_view::npos) counts.firstDot = i;
    } else if (c == ':') {
      if (++counts.colons > kMaxColons) return std::nullopt;
      counts.lastColon = i;
    } else if (IsDigit(c)) {
      continue;
    } else if (HexDigitValue(c) < 0 || counts.dots > 0) {
      return std::nullopt;
    }
  }
  return counts;
}

[[nodiscard]] bool SeparatorsFit(const CharCounts& counts) {
  if (counts.dots == 0) return counts.colons >= kMinColons && counts.colons <= kMaxColons;
  if (counts.dots != kEmbeddedIPv4Dots) return false;
  return counts.colons >= kMinColons && counts.colons <= kMaxColonsWithIPv4 &&
         counts.lastColon < counts.firstDot;
}

// "a.b.c.d" -> "AABB:CCDD" (two groups of two-digit pairs); empty when not four bytes.
[[nodiscard]] std::string EmbeddedIPv4Groups(std::string_view text) {
  const std::vector<std::string_view> parts = Split(text, '.');
  if (parts.size() != kIPv4Parts) return {};
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::optional<std::uint32_t> value = ParseDecimal(parts[i], kMaxIPv4Byte);
    if (!value) return {};
    if (i == 2) out += ':';
    AppendHexByte(out, *value);
  }
  return out;
}

}  // namespace

std::string CanonicalIPv6(std::string_view AText) {
  if (AText.empty()) return {};
  std::string text(AText);
  if (text.front() == ':') text.insert(text.begin(), '0');
  if (text.back() == ':') text.push_back('0');

  const std::optional<CharCounts> counts = ScanIPv6Characters(text);
  if (!counts || !SeparatorsFit(*counts)) return {};
  const bool embeddedIPv4 = counts->dots == kEmbeddedIPv4Dots;

  // Every group but the last (the last group, or the IPv4 tail, follows the last colon).
  const std::vector<std::string_view> groups = Split(text, ':');
  const int zeroRun = (embeddedIPv4 ? kIPv6Groups - 1 : kIPv6Groups) - counts->colons;
  std::string out;
  int written = 0;
  bool sawEmpty = false;
  for (std::size_t i = 0; i + 1 < groups.size(); ++i) {
    if (groups[i].empty()) {
      if (sawEmpty) return {};
      sawEmpty = true;
      for (int k = 0; k < zeroRun; ++k) out += "0:";
      written += zeroRun;
      continue;
    }
    const std::optional<std::uint32_t> value = ParseHex(groups[i], kMaxGroup);
    if (!value) return {};
    out += HexNoLeadingZeros(*value);
    out += ':';
    ++written;
  }

  if (embeddedIPv4) {
    const std::string tail = EmbeddedIPv4Groups(groups.back());
    if (tail.empty()) return {};
    out += tail;
    written += 2;
  } else {
    const std::optional<std::uint32_t> value = ParseHex(groups.back(), kMaxGroup);
    if (!value) return {};
    out += HexNoLeadingZeros(*value);
    ++written;
  }
  // Without a "::" to stand for the missing groups, a short address ("1:2:3") is not one.
  if (written != kIPv6Groups) return {};
  return out;
}

std::optional<TIdIPv6Address> IPv6TextToWords(std::string_view AText) {
  const std::string canonical = CanonicalIPv6(AText);
  if (canonical.empty()) return std::nullopt;
  const std::vector<std::string_view> groups = Split(canonical, ':');
  if (groups.size() != kIPv6Groups) return std::nullopt;
  TIdIPv6Address words{};
  for (std::size_t i = 0; i < groups.size(); ++i) {
    const std::optional<std::uint32_t> value = ParseHex(groups[i], kMaxGroup);
    if (!value) return std::nullopt;
    words[i] = static_cast<std::uint16_t>(*value);
  }
  return words;
}

TIdIPv6Address IPv6TextToWordsOrRaise(std::string_view AText) {
  const std::optional<TIdIPv6Address> words = IPv6TextToWords(AText);
  if (!words) throw EIdInvalidIPv6Address(std::string(AText) + " is not a valid IPv6 address");
  return *words;
}

std::string IPv6WordsToText(const TIdIPv6Address& AWords) {
  std::string out;
  out.reserve(kIPv6Groups * 5);
  for (const std::uint16_t word : AWords) {
    out += ':';
    AppendHexByte(out, static_cast<std::uint32_t>(word >> 8));
    AppendHexByte(out, static_cast<std::uint32_t>(word & 0xFF));
  }
  return out;
}

namespace {

// One part of an IPv4 text: "0x" + hex digits, "0" + octal digits, or decimal digits. The value
// wraps modulo 2^64; callers mask it to at most 32 bits, which wrapping leaves intact.
[[nodiscard]] std::optional<std::uint64_t> ParseIPv4Part(std::string_view part) {
  if (part.empty()) return std::nullopt;
  unsigned base = 10;
  std::string_view digits = part;
  if (part.size() > 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) {
    base = 16;
    digits = part.substr(2);
  } else if (part[0] == '0' && part.find_first_not_of("01234567") == std::string_view::npos) {
    base = 8;
  }
  std::uint64_t value = 0;
  for (const char c : digits) {
    const int digit = HexDigitValue(c);
    if (digit < 0 || (base != 16 && !IsDigit(c))) return std::nullopt;
    value = value * base + static_cast<std::uint64_t>(digit);
  }
  return value;
}

}  // namespace

std::optional<std::uint32_t> IPv4TextToValue(std::string_view AText) {
  if (AText.empty()) return std::nullopt;
  std::string_view rest = AText;
  std::uint64_t value = 0;
  for (int index = 0; index < kIPv4Parts && !rest.empty(); ++index) {
    const std::size_t dot = rest.find('.');
    const std::string_view part = rest.substr(0, dot);
    rest = dot == std::string_view::npos ? std::string_view{} : rest.substr(dot + 1);
    const std::optional<std::uint64_t> parsed = ParseIPv4Part(part);
    if (!parsed) return std::nullopt;
    // The last part given fills every byte that is left; the others fill one byte each.
    const int bytes = rest.empty() ? kIPv4Parts - index : 1;
    const std::uint64_t mask = (std::uint64_t{1} << (8 * bytes)) - 1;
    value = (value << (8 * bytes)) | (*parsed & mask);
  }
  // A fifth part was given.
  if (!rest.empty()) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

}  // namespace brixa
