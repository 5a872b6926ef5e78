// Reading Publisher<N>= and Arguments= from a verified manifest.

#include "update/manifest/installer_keys.h"

#include <cctype>

#include "platform/ini/profile_text.h"
#include "platform/process/command_line.h"
#include "update/manifest/manifest.h"
#include "update/update_errors.h"

namespace brixa {

namespace {

// Marks a missing key: no manifest value can hold a line break.
constexpr std::string_view kMissing = "\n";
constexpr std::string_view kFingerprintLabel = "Fingerprint=";

[[nodiscard]] std::string Value(std::string_view bytes, const std::string& key, std::size_t size) {
  return ReadProfileText(kVersionSection, key, kMissing, size, bytes);
}

[[noreturn]] void Refuse(const std::string& key, const std::string& why) {
  throw EManifestRefused("manifest key " + key + ": " + why);
}

}  // namespace

std::optional<std::string> ParsePublisherFingerprint(std::string_view text) {
  if (const std::size_t label = text.find(kFingerprintLabel); label != std::string_view::npos) {
    text.remove_prefix(label + kFingerprintLabel.size());
  }
  std::string digits;
  const bool paired = text.find(':') != std::string_view::npos;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    // With colons, one after every pair and nowhere else.
    if (paired && i % 3 == 2) {
      if (c != ':') return std::nullopt;
      continue;
    }
    if (std::isxdigit(static_cast<unsigned char>(c)) == 0) return std::nullopt;
    digits += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  if (digits.size() != kSha256HexDigits ||
      (paired && text.size() != kSha256HexDigits * 3 / 2 - 1)) {
    return std::nullopt;
  }
  return digits;
}

TInstallerKeys ParseInstallerKeys(std::string_view bytes) {
  TInstallerKeys keys;
  if (Value(bytes, kPublisherKeyPrefix, kManifestValueBufferSize) != kMissing) {
    Refuse(kPublisherKeyPrefix, "number it: Publisher1=, Publisher2=, ...");
  }
  for (std::size_t n = 1;; ++n) {
    const std::string key = kPublisherKeyPrefix + std::to_string(n);
    const std::string value = Value(bytes, key, kManifestValueBufferSize);
    if (value == kMissing) break;
    if (n > kMaxPublishers) {
      Refuse(key, "more than " + std::to_string(kMaxPublishers) + " publishers");
    }
    // Only the plain form: the manifest is read by programs, not people.
    if (!IsSha256Text(value)) Refuse(key, "not a SHA-256 fingerprint of 64 hexadecimal digits");
    keys.Publishers.push_back(*ParsePublisherFingerprint(value));
  }
  // Room for the quotes and one byte more than the longest value, so a longer one shows.
  const std::string arguments = Value(bytes, kArgumentsKey, kMaxLaunchArgumentsBytes + 4);
  if (arguments != kMissing) {
    if (!IsLaunchArgumentsText(arguments)) {
      Refuse(kArgumentsKey, "longer than " + std::to_string(kMaxLaunchArgumentsBytes) +
                                " bytes or not printable ASCII");
    }
    keys.Arguments = arguments;
  }
  return keys;
}

}  // namespace brixa
