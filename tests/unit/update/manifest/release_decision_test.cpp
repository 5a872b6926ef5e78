// The one decision on an offered release: what the state, the stamps and the rollout decide and
// what the decision asks to keep, from bytes alone (keys made here, states written to a
// temporary folder). The attacks on the signature and the manifest run through the whole flow
// in tests/unit/app/update_flow_test.cpp.
#include "update/manifest/release_decision.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/crypto/signer.h"
#include "runtime/time/utc_time.h"
#include "support/temp_dir.h"
#include "update/manifest/release_keys.h"

namespace brixa {
namespace {

const std::string kSha(64, 'c');

std::string Manifest(std::uint64_t serial, const std::string& extra = {},
                     const std::string& product = "BrixaUpdater",
                     const std::string& expires = "2031-01-01T00:00:00Z") {
  return "[Updater]\r\nVersion=2.0\r\nProduct=" + product + "\r\nSerial=" + std::to_string(serial) +
         "\r\nExpires=" + expires + "\r\nSize=4096\r\nSHA256=" + kSha + "\r\n" + extra;
}

std::string Sign(const TSigningKeyPair& key, const std::string& bytes) {
  TSigner signer(key.PrivateKeyPem);
  signer.Update(kManifestSignatureContext.data(), kManifestSignatureContext.size());
  signer.Update(bytes.data(), bytes.size());
  return signer.Sign();
}

// The state as a run would load it from a file holding the keys `text` (nothing: no file; no
// folder at all: nullopt).
TStateSnapshot StateOf(const test::TempDir& dir, const std::optional<std::string>& text,
                       bool folder = true) {
  TStateSnapshot snapshot;
  if (!folder) return snapshot;
  snapshot.HasFolder = true;
  snapshot.FileName = dir.Path("state.ini");
  if (text) {
    test::WriteFileText(snapshot.FileName, kStateFileHeader + *text + kStateFileTrailer);
  }
  snapshot.State = TUpdateState::Load(snapshot.FileName, "BrixaUpdater", snapshot.How);
  return snapshot;
}

TEST(ReleaseJudge, DecidesFromStateSignatureManifestStampsAndRollout) {
  const TSigningKeyPair key = GenerateSigningKeyPair();
  const std::int64_t now = *ParseUtcTime("2030-06-01T00:00:00Z");
  const std::string floor200 = "[BrixaUpdater]\nHighestSerial=200\n";
  struct Case {
    const char* what = "";
    std::optional<std::string> state = std::nullopt;  // the state file's text; nullopt: none
    std::string bytes = {};
    bool signedBuild = true;
    std::string localStamp = "1.0";
    TRunOutcome outcome = TRunOutcome::roNone;
    const char* reason = "";  // a part of the reason; "" when none is given
    std::optional<std::uint64_t> recordSerial = std::nullopt;
    std::optional<std::int32_t> recordBucket = std::nullopt;
    bool noFolder = false;
  };
  const Case cases[] = {
      // clang-format off
      {"first run", std::nullopt, Manifest(300), true, "1.0", TRunOutcome::roUpdate, "", 300},
      {"a higher serial is recorded", floor200, Manifest(300), true, "1.0", TRunOutcome::roUpdate,
       "", 300},
      {"the same release seen again", floor200, Manifest(200), true, "1.0", TRunOutcome::roUpdate,
       "", std::nullopt},
      {"already installed", floor200, Manifest(200), true, "2.0", TRunOutcome::roUpToDate, "",
       std::nullopt},
      {"no state folder", std::nullopt, Manifest(300), true, "1.0", TRunOutcome::roRefused,
       "no folder", std::nullopt, std::nullopt, true},
      {"bad delivery key: refused, the serial kept", floor200,
       Manifest(300, "Mirror1=ftp://m/\r\n"), true, "1.0", TRunOutcome::roRefused, "Mirror1", 300},
      {"inside the rollout", floor200 + "RolloutBucket=5\n", Manifest(300, "Rollout=10\r\n"), true,
       "1.0", TRunOutcome::roUpdate, "", 300},
      {"outside the rollout", floor200 + "RolloutBucket=50\n", Manifest(300, "Rollout=10\r\n"),
       true, "1.0", TRunOutcome::roHeldBack, "bucket 50", 300},
      {"kill switch", floor200 + "RolloutBucket=0\n", Manifest(300, "Rollout=0\r\n"), true, "1.0",
       TRunOutcome::roHeldBack, "rollout 0", 300},
      {"no bucket yet: the drawn one is used and kept", floor200, Manifest(300, "Rollout=10\r\n"),
       true, "1.0", TRunOutcome::roHeldBack, "bucket 42", 300, 42},
      {"a damaged bucket is drawn again", floor200 + "RolloutBucket=x\n",
       Manifest(300, "Rollout=50\r\n"), true, "1.0", TRunOutcome::roUpdate, "", 300, 42},
      {"unsigned: the stamp alone", std::nullopt, "[Updater]\nVersion=2.0\nSHA256=abc\n", false,
       "1.0", TRunOutcome::roUpdate, "", std::nullopt},
      {"unsigned: no state needed", std::nullopt, "[Updater]\nVersion=1.0\n", false, "1.0",
       TRunOutcome::roUpToDate, "", std::nullopt, std::nullopt, true},
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    const TStateSnapshot state = StateOf(dir, c.state, !c.noFolder);
    TUpdaterTrust trust;
    if (c.signedBuild) trust.PublicKeys = {key.PublicKeyPem};
    const TReleaseJudge judge(trust, state, now, 42);
    const std::string signature = c.signedBuild ? Sign(key, c.bytes) : "";
    const TReleaseDecision decision = judge.Judge(c.localStamp, c.bytes, signature);
    EXPECT_EQ(RunOutcomeName(decision.Outcome), RunOutcomeName(c.outcome)) << decision.Reason;
    EXPECT_NE(decision.Reason.find(c.reason), std::string::npos) << decision.Reason;
    EXPECT_EQ(decision.RecordSerial, c.recordSerial);
    EXPECT_EQ(decision.RecordBucket, c.recordBucket);
    if (decision.Outcome == TRunOutcome::roRefused) {
      EXPECT_EQ(decision.ServerStamp, "") << "nothing of a refused manifest is used";
      EXPECT_TRUE(decision.Sha256.empty());
    } else if (c.signedBuild) {
      EXPECT_EQ(decision.Size, 4096);
      EXPECT_EQ(decision.Sha256, kSha);
    }
  }
}

}  // namespace
}  // namespace brixa
