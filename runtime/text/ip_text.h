#pragma once
// IPv4 and IPv6 address texts: parsing to numbers, and the canonical IPv6 form.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brixa {

// An IPv6 address as eight 16-bit words, most significant group first, each word holding the
// group's numeric value (host order).
using TIdIPv6Address = std::array<std::uint16_t, 8>;

// The canonical form of an IPv6 address text: eight ":"-separated groups in upper-case
// hexadecimal without leading zeros and without "::" compression; an embedded IPv4 tail is
// written as two groups of two-digit hex pairs ("::ffff:10.0.0.1" -> "0:0:0:0:0:FFFF:0A00:0001").
// Empty text when the input is not an IPv6 address.
[[nodiscard]] std::string CanonicalIPv6(std::string_view AText);

// The eight words of an IPv6 address text, or nothing when it is not one.
[[nodiscard]] std::optional<TIdIPv6Address> IPv6TextToWords(std::string_view AText);
// The same, raising EIdInvalidIPv6Address "<text> is not a valid IPv6 address" on failure.
[[nodiscard]] TIdIPv6Address IPv6TextToWordsOrRaise(std::string_view AText);

// ":" followed by each word as four upper-case hex digits, eight times (so the text begins with
// ":"; "::1" gives ":0000:0000:0000:0000:0000:0000:0000:0001").
[[nodiscard]] std::string IPv6WordsToText(const TIdIPv6Address& AWords);

// An IPv4 address text as a 32-bit value, most significant part first, or nothing when it is
// not one. Up to four "."-separated parts; the last part given fills all remaining bytes
// ("10.1" is 10.0.0.1, a single number is the whole value). A part is hexadecimal ("0x1F"),
// octal ("017") or decimal; each is masked to the width it fills.
[[nodiscard]] std::optional<std::uint32_t> IPv4TextToValue(std::string_view AText);

inline constexpr const char* RSInvalidIPv6Address = "%s is not a valid IPv6 address";

}  // namespace brixa
