// Reads arbitrary bytes as what the delivery takes from the network and the disk: a
// Content-Range value, a Retry-After value, a kept partial identity and a manifest's delivery
// keys. No input crashes, and everything accepted keeps the invariants its users rely on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "update/delivery/byte_range.h"
#include "update/manifest/delivery_keys.h"
#include "update/manifest/manifest.h"
#include "update/state/partial_identity.h"
#include "update/state/retry_after.h"

namespace {

constexpr std::int64_t kNow = 1796644800;

void CheckRange(std::string_view text) {
  if (const auto range = brixa::ParseContentRange(text)) {
    if (range->First < 0 || range->First > range->Last) std::abort();
    if (range->Complete >= 0 && range->Last >= range->Complete) std::abort();
  }
}

void CheckRetryAfter(std::string_view text) {
  if (const auto until = brixa::RetryAfterUntil(text, kNow)) {
    if (*until <= kNow || *until - kNow > brixa::kMaxRetryAfterSeconds) std::abort();
  }
}

void CheckIdentity(std::string_view text) {
  if (const auto identity = brixa::TPartialIdentity::Parse(text)) {
    if (identity->Serialize() != text) std::abort();  // one spelling per identity
  }
}

void CheckDeliveryKeys(std::string_view text) {
  try {
    const brixa::TDeliveryKeys keys = brixa::ParseDeliveryKeys(text);
    if (keys.Rollout < 0 || keys.Rollout > 100 || keys.Mirrors.size() > brixa::kMaxMirrors) {
      std::abort();
    }
    for (const auto& url : keys.Mirrors) {
      if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0) std::abort();
    }
  } catch (const brixa::EManifestRefused&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CheckRange(bytes);
  CheckRetryAfter(bytes);
  CheckIdentity(bytes);
  CheckDeliveryKeys(bytes);
  return 0;
}
