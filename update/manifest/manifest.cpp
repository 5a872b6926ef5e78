// Reading the manifest's keys from verified bytes, each in its one accepted form.

#include "update/manifest/manifest.h"

#include <cctype>
#include <optional>

#include "platform/ini/profile_text.h"
#include "runtime/text/plain_decimal.h"
#include "runtime/time/utc_time.h"

namespace brixa {

namespace {

// 19 digits always fit in 64 bits; a serial or size that needs more is not a real one.
constexpr std::size_t kMaxSerialDigits = 19;
constexpr std::size_t kMaxSizeDigits = 18;

std::string Value(std::string_view bytes, const char* key) {
  return ReadProfileText(kVersionSection, key, "", kManifestValueBufferSize, bytes);
}

[[noreturn]] void Refuse(const char* key, const std::string& why) {
  throw EManifestRefused(std::string("manifest key ") + key + ": " + why);
}

std::string LowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

std::string ManifestStamp(std::string_view bytes) {
  return ReadProfileText(kVersionSection, kVersionKey, kDefaultStamp, kStampBufferSize, bytes);
}

std::string ManifestSha256Text(std::string_view bytes) {
  return Value(bytes, kSha256Key);
}

bool IsSha256Text(std::string_view text) noexcept {
  if (text.size() != kSha256HexDigits) return false;
  for (const char c : text) {
    if (std::isxdigit(static_cast<unsigned char>(c)) == 0) return false;
  }
  return true;
}

TManifest ParseManifest(std::string_view bytes) {
  if (static_cast<std::int64_t>(bytes.size()) > kMaxManifestBytes) {
    throw EManifestRefused("the manifest is larger than " + std::to_string(kMaxManifestBytes));
  }
  TManifest manifest;
  manifest.Stamp = ManifestStamp(bytes);
  manifest.Product = Value(bytes, kProductKey);
  if (manifest.Product.empty() || manifest.Product.size() > kMaxProductNameBytes) {
    Refuse(kProductKey, "missing or too long");
  }
  const auto serial = PlainDecimal(Value(bytes, kSerialKey), kMaxSerialDigits);
  if (!serial) Refuse(kSerialKey, "missing or not a decimal number");
  manifest.Serial = *serial;
  const auto expires = ParseUtcTime(Value(bytes, kExpiresKey));
  if (!expires) Refuse(kExpiresKey, "missing or not a UTC time such as 2027-01-31T00:00:00Z");
  manifest.Expires = *expires;
  const auto size = PlainDecimal(Value(bytes, kSizeKey), kMaxSizeDigits);
  if (!size || *size == 0) Refuse(kSizeKey, "missing or not a positive decimal number");
  manifest.Size = static_cast<std::int64_t>(*size);
  const std::string sha256 = Value(bytes, kSha256Key);
  if (!IsSha256Text(sha256)) Refuse(kSha256Key, "missing or not 64 hexadecimal digits");
  manifest.Sha256 = LowerCase(sha256);
  return manifest;
}

}  // namespace brixa
