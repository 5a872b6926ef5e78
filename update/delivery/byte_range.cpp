// Strict reading of "Content-Range" and the choice of an "If-Range" validator.

#include "update/delivery/byte_range.h"

#include "http/message/response_header_info.h"
#include "runtime/text/text.h"

namespace brixa {

namespace {

constexpr std::string_view kBytesUnit = "bytes ";
// 18 digits cannot overflow a signed 64-bit count.
constexpr std::size_t kMaxOffsetDigits = 18;

// Reads the digits at the start of `text` and drops them from it.
[[nodiscard]] std::optional<std::int64_t> TakeNumber(std::string_view& text) {
  std::size_t digits = 0;
  std::int64_t value = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
    if (digits == kMaxOffsetDigits) return std::nullopt;
    value = value * 10 + (text[digits] - '0');
    ++digits;
  }
  if (digits == 0) return std::nullopt;
  text.remove_prefix(digits);
  return value;
}

[[nodiscard]] bool TakeChar(std::string_view& text, char c) {
  if (text.empty() || text.front() != c) return false;
  text.remove_prefix(1);
  return true;
}

[[nodiscard]] bool PrintableAscii(std::string_view text) {
  for (const char c : text) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

}  // namespace

std::optional<TContentRange> ParseContentRange(std::string_view value) {
  if (value.substr(0, kBytesUnit.size()) != kBytesUnit) return std::nullopt;
  value.remove_prefix(kBytesUnit.size());
  TContentRange range;
  const auto first = TakeNumber(value);
  if (!first || !TakeChar(value, '-')) return std::nullopt;
  const auto last = TakeNumber(value);
  if (!last || !TakeChar(value, '/')) return std::nullopt;
  range.First = *first;
  range.Last = *last;
  if (value != "*") {
    const auto complete = TakeNumber(value);
    if (!complete || !value.empty() || *last >= *complete) return std::nullopt;
    range.Complete = *complete;
  }
  if (range.First > range.Last) return std::nullopt;
  return range;
}

bool ContinuesFile(const TContentRange& range, std::int64_t offset, std::int64_t size) noexcept {
  return range.First == offset && range.Last == size - 1 &&
         (range.Complete < 0 || range.Complete == size);
}

std::string RangeValidatorOf(const TIdResponseHeaderInfo& response) {
  return RangeValidatorOf(response.ETag(), response.HeaderLines().HeaderValue("Last-Modified"));
}

std::string RangeValidatorOf(std::string_view eTag, std::string_view lastModified) {
  std::string validator = Trim(std::string(eTag));
  if (validator.size() < 2 || validator.front() != '"' || validator.back() != '"') {
    validator = Trim(std::string(lastModified));
  }
  if (validator.size() > kMaxValidatorBytes || !PrintableAscii(validator)) return {};
  return validator;
}

}  // namespace brixa
