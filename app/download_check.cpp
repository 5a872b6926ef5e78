// Status, length and SHA-256 checks of a downloaded installer.

#include "app/download_check.h"

#include <cctype>

#include "http/hash_sha256.h"
#include "platform/stream.h"
#include "runtime/text.h"

namespace brixa {

namespace {

constexpr std::int32_t kFirstSuccessStatus = 200;
constexpr std::int32_t kLastSuccessStatus = 299;

}  // namespace

bool IsSha256Text(std::string_view text) noexcept {
  if (text.size() != kSha256HexDigits) return false;
  for (const char c : text) {
    if (std::isxdigit(static_cast<unsigned char>(c)) == 0) return false;
  }
  return true;
}

void VerifyDownload(std::int32_t statusCode, std::int64_t contentLength, TStream& file,
                    const std::string& expectedSha256) {
  if (statusCode < kFirstSuccessStatus || statusCode > kLastSuccessStatus) {
    throw EUpdateDownloadIncomplete("the download ended with status " + std::to_string(statusCode));
  }
  const std::int64_t size = file.Size();
  if (contentLength >= 0 && size != contentLength) {
    throw EUpdateDownloadIncomplete("the download holds " + std::to_string(size) + " of " +
                                    std::to_string(contentLength) + " bytes");
  }
  if (expectedSha256.empty()) return;
  TIdHashSHA256 hash;
  const std::string actual = DigestToHex(hash.HashStream(file), false);
  if (!IsSha256Text(expectedSha256) || !SameTextNoCase(actual, expectedSha256)) {
    throw EUpdateIntegrityError("the download's SHA-256 is " + actual + ", not " + expectedSha256);
  }
}

}  // namespace brixa
