// Signature, product, expiry and serial, in that order: nothing unverified is even parsed.

#include "update/manifest/manifest_check.h"

#include "runtime/time/utc_time.h"
#include "update/manifest/release_keys.h"

namespace brixa {

TManifest VerifyManifest(std::string_view bytes, std::string_view signature,
                         const std::vector<std::string>& publicKeys,
                         const TManifestPolicy& policy) {
  if (static_cast<std::int64_t>(bytes.size()) > kMaxManifestBytes) {
    throw EManifestRefused("the manifest is larger than " + std::to_string(kMaxManifestBytes));
  }
  if (!SignedByAnyKey(publicKeys, kManifestSignatureContext, bytes, signature)) {
    throw EManifestRefused("signature: not a manifest signed by a trusted key");
  }
  TManifest manifest = ParseManifest(bytes);
  if (manifest.Product != policy.Product) {
    throw EManifestRefused("product: the manifest is for \"" + manifest.Product + "\", not \"" +
                           policy.Product + "\"");
  }
  if (policy.NowSeconds > manifest.Expires + kExpiryClockToleranceSeconds) {
    throw EManifestRefused("expired: the manifest expired at " + FormatUtcTime(manifest.Expires));
  }
  if (policy.LowestSerial && manifest.Serial < *policy.LowestSerial) {
    throw EManifestRefused("rollback: serial " + std::to_string(manifest.Serial) +
                           " is below the accepted " + std::to_string(*policy.LowestSerial));
  }
  return manifest;
}

}  // namespace brixa
