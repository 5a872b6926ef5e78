#pragma once
// The manifest's delivery keys: further places the installer may be fetched from, and the
// share of installations the release is offered to.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brixa {

// "Mirror1=", "Mirror2=", ...: read in order up to the first missing number.
inline constexpr const char* kMirrorKeyPrefix = "Mirror";
inline constexpr const char* kRolloutKey = "Rollout";
// More places than this only add time before a run gives up; a manifest listing more is
// refused rather than cut, so what is signed is what is used.
inline constexpr std::size_t kMaxMirrors = 8;
// The longest mirror URL; read into a buffer one larger, so a longer value is seen as such.
inline constexpr std::size_t kMaxMirrorUrlBytes = 1024;

struct TDeliveryKeys {
  std::vector<std::string> Mirrors;  // http:// or https:// URLs of the installer
  std::int32_t Rollout = 100;        // percent; 100 when the key is absent
};

// Reads the delivery keys of the "[Updater]" section of verified manifest bytes. Raises
// EManifestRefused naming the key when a Rollout is not 0 to 100, a mirror is not an http or
// https URL of printable characters without blanks (or is longer than kMaxMirrorUrlBytes), or
// there are more than kMaxMirrors.
[[nodiscard]] TDeliveryKeys ParseDeliveryKeys(std::string_view bytes);

// The installer's URLs in the order they are tried: `primary` first, then the mirrors.
[[nodiscard]] std::vector<std::string> InstallerUrls(const std::string& primary,
                                                     const TDeliveryKeys& keys);

}  // namespace brixa
