// Reading Mirror<N>= and Rollout= from a verified manifest.

#include "update/manifest/delivery_keys.h"

#include "platform/ini/profile_text.h"
#include "update/manifest/manifest.h"
#include "update/manifest/rollout.h"

namespace brixa {

namespace {

// Marks a missing key: no manifest value can hold a line break.
constexpr std::string_view kMissing = "\n";

[[nodiscard]] std::string Value(std::string_view bytes, const std::string& key, std::size_t size) {
  return ReadProfileText(kVersionSection, key, kMissing, size, bytes);
}

[[nodiscard]] bool IsMirrorUrl(std::string_view url) {
  if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0) return false;
  for (const char c : url) {
    if (c <= 0x20 || c >= 0x7F) return false;
  }
  return true;
}

}  // namespace

TDeliveryKeys ParseDeliveryKeys(std::string_view bytes) {
  TDeliveryKeys keys;
  const std::string rollout = Value(bytes, kRolloutKey, kManifestValueBufferSize);
  if (rollout != kMissing) {
    const auto percent = ParseRolloutPercent(rollout);
    if (!percent) throw EManifestRefused("manifest key Rollout: not a percentage from 0 to 100");
    keys.Rollout = *percent;
  }
  for (std::size_t n = 1;; ++n) {
    const std::string key = kMirrorKeyPrefix + std::to_string(n);
    const std::string url = Value(bytes, key, kMaxMirrorUrlBytes + 2);
    if (url == kMissing) break;
    if (n > kMaxMirrors) {
      throw EManifestRefused("manifest key " + key + ": more than " + std::to_string(kMaxMirrors) +
                             " mirrors");
    }
    if (url.size() > kMaxMirrorUrlBytes || !IsMirrorUrl(url)) {
      throw EManifestRefused("manifest key " + key + ": not an http or https URL");
    }
    keys.Mirrors.push_back(url);
  }
  return keys;
}

std::vector<std::string> InstallerUrls(const std::string& primary, const TDeliveryKeys& keys) {
  std::vector<std::string> urls{primary};
  urls.insert(urls.end(), keys.Mirrors.begin(), keys.Mirrors.end());
  return urls;
}

}  // namespace brixa
