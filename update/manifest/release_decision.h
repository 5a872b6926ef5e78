#pragma once
// TReleaseJudge: whether the release a server offers is acted on. It decides from what it is
// given (the state as loaded once, the manifest's bytes and signature, the clock, a bucket
// drawn in case none is kept) and does no I/O: the caller fetched the bytes and saves what the
// decision asks to record.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "update/manifest/installer_keys.h"
#include "update/manifest/manifest.h"
#include "update/state/run_outcome.h"
#include "update/state/state_file.h"

namespace brixa {

// The single-instance name; the same text is the product name an unconfigured build checks.
inline constexpr const char* kUpdaterName = "BrixaUpdater";

// What a build trusts and checks: with no keys, updates are unsigned and the manifest's keys
// other than the stamp (and an optional SHA256) are not used.
struct TUpdaterTrust {
  std::vector<std::string> PublicKeys;  // PEM, any of which may sign the manifest
  std::string Product = kUpdaterName;   // the manifest's Product must equal it
};

// The state file as the run found it.
struct TStateSnapshot {
  bool HasFolder = false;  // false: the user has no state folder at all
  std::string FileName;    // the state file's path, for the reason of a refusal
  TStateLoad How = TStateLoad::slMissing;
  std::optional<TUpdateState> State;  // loaded (possibly empty) unless there is no folder
};

// What the run does with the offered release.
struct TReleaseDecision {
  // roUpdate, roUpToDate, roRefused or roHeldBack.
  TRunOutcome Outcome = TRunOutcome::roRefused;
  std::string Reason;       // why it was refused or held back
  std::string ServerStamp;  // as read from the manifest ("" when refused before reading it)
  // The installer as the manifest describes it. Size is -1 for an unsigned build, whose
  // Sha256 is the optional key's text as read ("" when absent).
  std::optional<std::uint64_t> Serial;
  std::int64_t Size = -1;
  std::string Sha256;
  std::vector<std::string> Mirrors;
  // A signed manifest's publisher pins and installer arguments (none for an unsigned build).
  TInstallerKeys Installer;
  // To keep in the state before anything else happens: a higher serial accepted (failing to
  // keep it refuses the release), and a rollout bucket drawn now (failing to keep it only
  // means another draw next run).
  std::optional<std::uint64_t> RecordSerial;
  std::optional<std::int32_t> RecordBucket;
};

class TReleaseJudge {
 public:
  // `nowSeconds` is UTC; `drawnBucket` is used only when the state keeps no valid bucket.
  TReleaseJudge(TUpdaterTrust trust, const TStateSnapshot& state, std::int64_t nowSeconds,
                std::int32_t drawnBucket);

  // `signature` is ignored by an unsigned build. For a signed build, in this order: the state
  // must be judgeable (a folder, a file that is missing or well-formed), the signature must
  // verify over the manifest context and the bytes with one of the keys, and the manifest must
  // be for the product, unexpired and not older than the highest serial accepted (VerifyManifest);
  // its delivery and installer keys must be well-formed. Then the stamps are compared byte for
  // byte, and a differing release at a partial rollout is held back unless this installation's
  // bucket is inside it (no state to keep a bucket in: outside every partial rollout).
  [[nodiscard]] TReleaseDecision Judge(const std::string& localStamp, const std::string& bytes,
                                       const std::string& signature) const;

 private:
  TUpdaterTrust trust_;
  const TStateSnapshot& state_;
  std::int64_t nowSeconds_;
  std::int32_t drawnBucket_;
};

}  // namespace brixa
