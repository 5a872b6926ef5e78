#pragma once
// The checks a downloaded manifest passes before a signed build acts on it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "update/manifest/manifest.h"

namespace brixa {

// How far a manifest may be past its Expires and still count: clocks of desktop machines
// drift by minutes, and a wrong time zone setting on an unsynchronised one shows up as whole
// hours; a frozen manifest gains no more than this.
inline constexpr std::int64_t kExpiryClockToleranceSeconds = 60 * 60;

struct TManifestPolicy {
  std::string Product;                        // the product the build was made for
  std::int64_t NowSeconds = 0;                // UTC, seconds since 1970
  std::optional<std::uint64_t> LowestSerial;  // the highest Serial accepted before, if any
};

// The manifest of `bytes` when `signature` by one of `publicKeys` verifies over
// kManifestSignatureContext + bytes and the manifest is for `policy.Product`, not expired
// (beyond kExpiryClockToleranceSeconds) and not older than policy.LowestSerial (an equal
// serial is the same release seen again). Raises EManifestRefused naming the failed check.
[[nodiscard]] TManifest VerifyManifest(std::string_view bytes, std::string_view signature,
                                       const std::vector<std::string>& publicKeys,
                                       const TManifestPolicy& policy);

}  // namespace brixa
