// The release manifest: its keys in their one accepted form, and the checks before it is used,
// over releases signed with openssl alone (tests/e2e/sign_fixtures.sh).
#include "update/manifest/manifest.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/time/utc_time.h"
#include "support/peers/peer_process.h"
#include "support/temp_dir.h"
#include "update/manifest/manifest_check.h"
#include "update/manifest/release_keys.h"

namespace brixa {
namespace {

const std::string kSha(64, 'a');

std::string Manifest(const std::string& lines) {
  return "[Updater]\r\nVersion=2.0\r\n" + lines;
}

std::string Complete(const std::string& replace = {}, const std::string& by = {}) {
  std::string text = Manifest(
      "Product=BrixaUpdater\r\nSerial=17\r\nExpires=2027-01-31T00:00:00Z\r\n"
      "Size=4096\r\nSHA256=" +
      kSha + "\r\n");
  if (!replace.empty()) text.replace(text.find(replace), replace.size(), by);
  return text;
}

TEST(Manifest, ReadsEveryKeyInItsOneFormOrRefusesNamingIt) {
  const TManifest manifest =
      ParseManifest(Complete("SHA256=" + kSha, "SHA256 = \"" + std::string(64, 'A') + "\""));
  EXPECT_EQ(manifest.Stamp, "2.0");
  EXPECT_EQ(manifest.Product, "BrixaUpdater");
  EXPECT_EQ(manifest.Serial, 17u);
  EXPECT_EQ(manifest.Expires, *ParseUtcTime("2027-01-31T00:00:00Z"));
  EXPECT_EQ(manifest.Size, 4096);
  EXPECT_EQ(manifest.Sha256, kSha) << "kept in lower case";

  const struct {
    const char* from;
    std::string to;
    const char* key;
  } broken[] = {
      {"Product=BrixaUpdater\r\n", "", "Product"},
      {"Product=BrixaUpdater", "Product=" + std::string(65, 'p'), "Product"},
      {"Serial=17", "Serial=", "Serial"},
      {"Serial=17", "Serial=-17", "Serial"},
      {"Serial=17", "Serial=1e3", "Serial"},
      {"Serial=17", "Serial=12345678901234567890", "Serial"},
      {"Expires=2027-01-31T00:00:00Z", "Expires=2027-01-31", "Expires"},
      {"Expires=2027-01-31T00:00:00Z", "Expires=2027-01-31T00:00:00+01:00", "Expires"},
      {"Expires=2027-01-31T00:00:00Z", "Expires=2027-02-30T00:00:00Z", "Expires"},
      {"Size=4096", "Size=0", "Size"},
      {"Size=4096", "Size=4k", "Size"},
      {"Size=4096", "Size=", "Size"},
      {"SHA256=", "SHA256=0", "SHA256"},
      {"SHA256=", "Other=", "SHA256"},
  };
  for (const auto& c : broken) {
    try {
      (void)ParseManifest(Complete(c.from, c.to));
      ADD_FAILURE() << c.to << " was accepted";
    } catch (const EManifestRefused& refused) {
      EXPECT_NE(std::string(refused.Message()).find(c.key), std::string::npos) << refused.Message();
    }
  }
  EXPECT_THROW((void)ParseManifest(std::string(kMaxManifestBytes + 1, ' ')), EManifestRefused);
  EXPECT_EQ(ManifestStamp("[Updater]\r\nVersion=12345678901234567890\r\n"), "1234567890123456789");
  EXPECT_EQ(ManifestStamp("[Other]\r\n"), kDefaultStamp);
}

TEST(UtcTime, ParsesOnlyTheOneSpellingAndFormatsItBack) {
  const struct {
    const char* text;
    std::int64_t seconds;  // -1: refused
  } cases[] = {
      {"1970-01-01T00:00:00Z", 0},
      {"2000-02-29T23:59:59Z", 951868799},
      {"2027-01-31T00:00:00Z", 1801353600},
      {"9999-12-31T23:59:59Z", 253402300799},
      {"1900-02-29T00:00:00Z", -1},
      {"2001-02-29T00:00:00Z", -1},
      {"2027-01-31T24:00:00Z", -1},
      {"2027-01-31T00:00:60Z", -1},
      {"2027-01-31t00:00:00z", -1},
      {"2027-01-31T00:00:00.5Z", -1},
      {" 2027-01-31T00:00:00Z", -1},
      {"1969-12-31T23:59:59Z", -1},
      {"", -1},
  };
  for (const auto& c : cases) {
    const auto parsed = ParseUtcTime(c.text);
    EXPECT_EQ(parsed.value_or(-1), c.seconds) << c.text;
    if (parsed) {
      EXPECT_EQ(FormatUtcTime(*parsed), c.text);
    }
  }
}

TEST(ReleaseKeys, SplitsAListOfPemKeys) {
  const std::string a = "-----BEGIN PUBLIC KEY-----\nAAAA\n-----END PUBLIC KEY-----";
  const std::string b = "-----BEGIN PUBLIC KEY-----\nBBBB\n-----END PUBLIC KEY-----";
  EXPECT_EQ(SplitPublicKeys(a + "\n" + b + "\n"), (std::vector<std::string>{a, b}));
  EXPECT_TRUE(SplitPublicKeys("").empty());
  EXPECT_EQ(SplitPublicKeys(a + "\n-----BEGIN PUBLIC KEY-----\ncut").size(), 1u);
}

std::string Fixture(const std::string& path) {
  return test::ReadFileText(test::BuildTreePath(path));
}

// Signature first, then product, expiry and serial, each refusal naming its check.
TEST(ManifestCheck, RefusesWhatIsNotSignedForThisProductCurrentAndNewEnough) {
  const std::string key = Fixture("test-update-key/public.pem");
  const std::string newKey = Fixture("test-update-key2/public.pem");
  const std::string bytes = Fixture("test-releases/v2/version.ini");
  const std::string signature = Fixture("test-releases/v2/version.ini.sig");
  if (key.empty() || signature.empty()) GTEST_SKIP() << "no signed releases in the build tree";
  const TManifest manifest = ParseManifest(bytes);
  const std::int64_t now = UtcNowSeconds();
  const TManifestPolicy current{"BrixaUpdater", now, 200};
  EXPECT_EQ(VerifyManifest(bytes, signature, {key}, current).Serial, 200u) << "equal serial";
  EXPECT_EQ(VerifyManifest(bytes, signature, {newKey, key}, {"BrixaUpdater", now, {}}).Stamp, "2");

  std::string changed = bytes;
  changed[changed.find("Version=2") + 8] = '3';
  const std::int64_t late = manifest.Expires + kExpiryClockToleranceSeconds;
  const struct {
    const char* what;
    std::string bytes;
    std::string signature;
    std::vector<std::string> keys;
    TManifestPolicy policy;
    const char* reason;  // empty: accepted
  } cases[] = {
      {"within the clock tolerance", bytes, signature, {key}, {"BrixaUpdater", late, {}}, ""},
      {"past it", bytes, signature, {key}, {"BrixaUpdater", late + 1, {}}, "expired"},
      {"a lower serial", bytes, signature, {key}, {"BrixaUpdater", now, 201}, "rollback"},
      {"another product", bytes, signature, {key}, {"Other", now, {}}, "product"},
      {"changed bytes", changed, signature, {key}, current, "signature"},
      {"an untrusted key", bytes, signature, {newKey}, current, "signature"},
      {"no key at all", bytes, signature, {}, current, "signature"},
      {"the context left out",
       bytes,
       Fixture("test-releases/nocontext/version.ini.sig"),
       {key},
       current,
       "signature"},
      {"the installer as manifest",
       Fixture("test-releases/crossfile/version.ini"),
       Fixture("test-releases/crossfile/version.ini.sig"),
       {key},
       current,
       "larger than"},
      {"the installer's first bytes as manifest",
       Fixture("test-releases/crossfile/version.ini").substr(0, 4096),
       Fixture("test-releases/crossfile/version.ini.sig"),
       {key},
       current,
       "signature"},
  };
  for (const auto& c : cases) {
    try {
      (void)VerifyManifest(c.bytes, c.signature, c.keys, c.policy);
      EXPECT_STREQ(c.reason, "") << c.what;
    } catch (const EManifestRefused& refused) {
      EXPECT_NE(std::string(c.reason), "") << c.what << ": " << refused.Message();
      EXPECT_NE(std::string(refused.Message()).find(c.reason), std::string::npos)
          << c.what << ": " << refused.Message();
    }
  }
}

}  // namespace
}  // namespace brixa
