// The identity record of a kept partial installer.

#include "update/state/partial_identity.h"

#include <array>
#include <charconv>

#include "runtime/text/text.h"
#include "update/delivery/byte_range.h"

namespace brixa {

namespace {

constexpr std::array<std::string_view, 3> kNames = {"serial=", "sha256=", "validator="};
constexpr std::size_t kSha256Digits = 64;

[[nodiscard]] bool IsHexDigits(std::string_view text) {
  for (const char c : text) {
    const bool digit = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!digit) return false;
  }
  return true;
}

[[nodiscard]] bool IsPrintable(std::string_view text) {
  for (const char c : text) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

// The value of the line `name` at the start of `text`; the line is dropped from `text`.
[[nodiscard]] std::optional<std::string_view> TakeLine(std::string_view& text,
                                                       std::string_view name) {
  const std::size_t end = text.find('\n');
  if (end == std::string_view::npos || text.substr(0, name.size()) != name) return std::nullopt;
  const std::string_view value = text.substr(name.size(), end - name.size());
  text.remove_prefix(end + 1);
  return value;
}

}  // namespace

std::string TPartialIdentity::Serialize() const {
  return std::string(kNames[0]) + std::to_string(Serial) + "\n" + std::string(kNames[1]) + Sha256 +
         "\n" + std::string(kNames[2]) + Validator + "\n";
}

std::optional<TPartialIdentity> TPartialIdentity::Parse(std::string_view text) {
  if (text.size() > kMaxPartialIdentityBytes) return std::nullopt;
  const auto serial = TakeLine(text, kNames[0]);
  const auto sha256 = TakeLine(text, kNames[1]);
  const auto validator = TakeLine(text, kNames[2]);
  if (!serial || !sha256 || !validator || !text.empty()) return std::nullopt;
  TPartialIdentity identity;
  const char* end = serial->data() + serial->size();
  const auto [stop, error] = std::from_chars(serial->data(), end, identity.Serial);
  const bool leadingZero = serial->size() > 1 && (*serial)[0] == '0';
  if (serial->empty() || error != std::errc() || stop != end || leadingZero) {
    return std::nullopt;
  }
  if (sha256->size() != kSha256Digits || !IsHexDigits(*sha256)) return std::nullopt;
  if (validator->size() > kMaxValidatorBytes || !IsPrintable(*validator)) return std::nullopt;
  identity.Sha256 = std::string(*sha256);
  identity.Validator = std::string(*validator);
  return identity;
}

bool TPartialIdentity::Continues(std::uint64_t serial, std::string_view sha256) const noexcept {
  return Serial == serial && SameTextNoCase(Sha256, sha256) && !Validator.empty();
}

}  // namespace brixa
