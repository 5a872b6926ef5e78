// Status, length and SHA-256 checks of a downloaded installer.

#include "update/delivery/download_check.h"

#include "platform/core/stream.h"
#include "runtime/hash/hash_sha256.h"
#include "runtime/text/text.h"
#include "update/manifest/manifest.h"

namespace brixa {

namespace {

constexpr std::int32_t kFirstSuccessStatus = 200;
constexpr std::int32_t kLastSuccessStatus = 299;

}  // namespace

void VerifyDownload(std::int32_t statusCode, std::int64_t contentLength, TStream& file,
                    const std::string& expectedSha256, std::int64_t expectedSize) {
  if (statusCode < kFirstSuccessStatus || statusCode > kLastSuccessStatus) {
    throw EUpdateDownloadIncomplete("the download ended with status " + std::to_string(statusCode));
  }
  const std::int64_t size = file.Size();
  if (contentLength >= 0 && size != contentLength) {
    throw EUpdateDownloadIncomplete("the download holds " + std::to_string(size) + " of " +
                                    std::to_string(contentLength) + " bytes");
  }
  if (expectedSize >= 0 && size != expectedSize) {
    throw EUpdateIntegrityError("the download holds " + std::to_string(size) +
                                " bytes, the manifest says " + std::to_string(expectedSize));
  }
  if (expectedSha256.empty()) return;
  TIdHashSHA256 hash;
  const std::string actual = DigestToHex(hash.HashStream(file), false);
  if (!IsSha256Text(expectedSha256) || !SameTextNoCase(actual, expectedSha256)) {
    throw EUpdateIntegrityError("the download's SHA-256 is " + actual + ", not " + expectedSha256);
  }
}

}  // namespace brixa
