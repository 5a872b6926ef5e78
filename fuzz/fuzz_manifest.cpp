// Reads arbitrary bytes as a release manifest, and as a signature followed by a manifest: no
// input crashes, every accepted key is in its one form, and nothing verifies without a signature
// by the key.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/process/command_line.h"
#include "runtime/time/utc_time.h"
#include "update/manifest/installer_keys.h"
#include "update/manifest/manifest.h"
#include "update/manifest/manifest_check.h"

namespace {

// A P-256 public key whose private half signed nothing the fuzzer can see.
constexpr const char* kPublicKey =
    "-----BEGIN PUBLIC KEY-----\n"
    "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEPJaGHTZN+6z1MNW38+CtaoGd8s2a\n"
    "MTFrO2R6mNenCJqsRzkSmed29I9jdOA64byaeb0UnKi4xDkuKGDffcAnMg==\n"
    "-----END PUBLIC KEY-----\n";
constexpr std::size_t kMaxSignatureFuzzBytes = 80;

void CheckParsed(std::string_view bytes) {
  if (brixa::ManifestStamp(bytes).size() >= brixa::kStampBufferSize) std::abort();
  try {
    const brixa::TManifest m = brixa::ParseManifest(bytes);
    if (m.Product.empty() || m.Size <= 0 || m.Sha256.size() != brixa::kSha256HexDigits)
      std::abort();
    if (m.Sha256.find_first_not_of("0123456789abcdef") != std::string::npos) std::abort();
    if (brixa::ParseUtcTime(brixa::FormatUtcTime(m.Expires)) != m.Expires) std::abort();
  } catch (const brixa::EManifestRefused&) {
  }
  try {
    const brixa::TInstallerKeys keys = brixa::ParseInstallerKeys(bytes);
    if (!brixa::IsLaunchArgumentsText(keys.Arguments)) std::abort();
    for (const std::string& fingerprint : keys.Publishers) {
      if (fingerprint.size() != brixa::kSha256HexDigits ||
          fingerprint.find_first_not_of("0123456789abcdef") != std::string::npos) {
        std::abort();
      }
    }
  } catch (const brixa::EManifestRefused&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CheckParsed(bytes);
  if (size == 0) return 0;
  const std::size_t signatureSize =
      std::min<std::size_t>(data[0] % kMaxSignatureFuzzBytes, size - 1);
  const std::string_view signature = bytes.substr(1, signatureSize);
  const std::string_view manifest = bytes.substr(1 + signatureSize);
  try {
    (void)brixa::VerifyManifest(manifest, signature, {kPublicKey}, {"BrixaUpdater", 0, {}});
    std::abort();  // accepted without a signature by the key
  } catch (const brixa::EManifestRefused&) {
  }
  return 0;
}
