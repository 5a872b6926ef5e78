// A downloaded installer is accepted only when complete, successful and matching its SHA-256.

#include "update/delivery/download_check.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/core/stream.h"
#include "runtime/hash/hash_base.h"
#include "runtime/hash/hash_sha256.h"
#include "update/manifest/manifest.h"

namespace brixa {
namespace {

std::string Sha256Of(const std::string& bytes, bool upperCase) {
  TIdHashSHA256 hash;
  return DigestToHex(hash.HashBytes(bytes.data(), bytes.size()), upperCase);
}

enum class Outcome { kAccepted, kIncomplete, kForged };

Outcome Verify(std::int32_t status, std::int64_t length, const std::string& body,
               const std::string& sha256) {
  TMemoryStream file;
  file.WriteBuffer(body.data(), static_cast<std::int64_t>(body.size()));
  try {
    VerifyDownload(status, length, file, sha256);
    return Outcome::kAccepted;
  } catch (const EUpdateDownloadIncomplete&) {
    return Outcome::kIncomplete;
  } catch (const EUpdateIntegrityError&) {
    return Outcome::kForged;
  }
}

TEST(DownloadCheck, OnlyACompleteSuccessfulAndMatchingDownloadIsAccepted) {
  const std::string body(10000, 'i');
  const std::string lower = Sha256Of(body, false);
  const struct {
    const char* what;
    std::int32_t status;
    std::int64_t length;
    std::string sha256;
    Outcome expected;
  } cases[] = {
      {"counted body", 200, 10000, "", Outcome::kAccepted},
      {"no length announced", 200, -1, "", Outcome::kAccepted},
      {"other 2xx", 203, 10000, "", Outcome::kAccepted},
      {"redirect maximum reached", 302, 10000, "", Outcome::kIncomplete},
      {"error status", 404, 10000, "", Outcome::kIncomplete},
      {"status line unreadable", -1, -1, "", Outcome::kIncomplete},
      {"short body", 200, 10001, "", Outcome::kIncomplete},
      {"more than announced", 200, 9999, "", Outcome::kIncomplete},
      {"hash matches", 200, 10000, lower, Outcome::kAccepted},
      {"hash in capitals", 200, -1, Sha256Of(body, true), Outcome::kAccepted},
      {"hash of other bytes", 200, 10000, Sha256Of(body + "x", false), Outcome::kForged},
      {"hash one digit short", 200, 10000, lower.substr(1), Outcome::kForged},
      {"hash with a non-digit", 200, 10000, "g" + lower.substr(1), Outcome::kForged},
      // The length is judged before the hash: a short file is incomplete, not forged.
      {"short and hashed", 200, 20000, lower, Outcome::kIncomplete},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Verify(c.status, c.length, body, c.sha256), c.expected) << c.what;
  }
  EXPECT_EQ(Verify(200, 0, "", Sha256Of("", false)), Outcome::kAccepted) << "empty installer";
}

TEST(DownloadCheck, Sha256TextIsExactlySixtyFourHexDigits) {
  const std::string digits(64, 'a');
  EXPECT_TRUE(IsSha256Text(digits));
  EXPECT_TRUE(IsSha256Text(std::string(32, 'F') + std::string(32, '0')));
  EXPECT_FALSE(IsSha256Text(""));
  EXPECT_FALSE(IsSha256Text(digits + "a"));
  EXPECT_FALSE(IsSha256Text(digits.substr(1)));
  EXPECT_FALSE(IsSha256Text(digits.substr(1) + " "));
  EXPECT_FALSE(IsSha256Text(digits.substr(1) + "z"));
}

}  // namespace
}  // namespace brixa
