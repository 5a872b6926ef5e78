// Judging an offered release: state, signature, manifest, stamps, rollout, in that order.

#include "update/manifest/release_decision.h"

#include <utility>

#include "update/manifest/delivery_keys.h"
#include "update/manifest/installer_keys.h"
#include "update/manifest/manifest_check.h"
#include "update/manifest/rollout.h"
#include "update/state/delivery_state.h"

namespace brixa {

namespace {

// The rollback state a signed build judges against: raises EManifestRefused when there is none
// to judge with, so rollback protection is never skipped.
const TUpdateState& JudgeableState(const TStateSnapshot& snapshot) {
  if (!snapshot.HasFolder || !snapshot.State) {
    throw EManifestRefused("state: no folder for the updater's state");
  }
  if (snapshot.How == TStateLoad::slDamaged) {
    throw EManifestRefused("state: " + snapshot.FileName +
                           " is damaged; delete it to accept updates again");
  }
  return *snapshot.State;
}

// The kept bucket, or the drawn one to be recorded; -1 without a state to keep one in.
std::int32_t BucketOf(const TStateSnapshot& snapshot, std::int32_t drawn,
                      TReleaseDecision& decision) {
  if (!snapshot.State || snapshot.How == TStateLoad::slDamaged) return -1;
  if (const auto kept = snapshot.State->Value(kRolloutBucketKey)) {
    if (const auto bucket = ParseRolloutBucket(*kept)) return *bucket;
  }
  decision.RecordBucket = drawn;
  return drawn;
}

}  // namespace

TReleaseJudge::TReleaseJudge(TUpdaterTrust trust, const TStateSnapshot& state,
                             std::int64_t nowSeconds, std::int32_t drawnBucket)
    : trust_(std::move(trust)), state_(state), nowSeconds_(nowSeconds), drawnBucket_(drawnBucket) {}

TReleaseDecision TReleaseJudge::Judge(const std::string& localStamp, const std::string& bytes,
                                      const std::string& signature) const {
  TReleaseDecision decision;
  std::int32_t rollout = kFullRollout;
  if (trust_.PublicKeys.empty()) {
    decision.ServerStamp = ManifestStamp(bytes);
    decision.Sha256 = ManifestSha256Text(bytes);
  } else {
    try {
      const TUpdateState& state = JudgeableState(state_);
      const TManifestPolicy policy{trust_.Product, nowSeconds_, state.HighestSerial()};
      const TManifest manifest = VerifyManifest(bytes, signature, trust_.PublicKeys, policy);
      // A verified manifest's serial is kept even when its delivery keys are refused below:
      // the vendor signed it, so nothing older may pass from now on.
      if (!policy.LowestSerial || manifest.Serial > *policy.LowestSerial) {
        decision.RecordSerial = manifest.Serial;
      }
      const TDeliveryKeys delivery = ParseDeliveryKeys(bytes);
      decision.Installer = ParseInstallerKeys(bytes);
      decision.ServerStamp = manifest.Stamp;
      decision.Serial = manifest.Serial;
      decision.Size = manifest.Size;
      decision.Sha256 = manifest.Sha256;
      decision.Mirrors = delivery.Mirrors;
      rollout = delivery.Rollout;
    } catch (const EUpdateRefused& refusal) {
      TReleaseDecision refused;
      refused.Outcome = TRunOutcome::roRefused;
      refused.Reason = refusal.Message();
      refused.RecordSerial = decision.RecordSerial;
      return refused;
    }
  }
  // Byte for byte, lengths included.
  decision.Outcome =
      decision.ServerStamp != localStamp ? TRunOutcome::roUpdate : TRunOutcome::roUpToDate;
  if (decision.Outcome == TRunOutcome::roUpdate && rollout < kFullRollout) {
    const std::int32_t bucket = BucketOf(state_, drawnBucket_, decision);
    if (!RolloutOffers(rollout, bucket)) {
      decision.Outcome = TRunOutcome::roHeldBack;
      decision.Reason = "rollout " + std::to_string(rollout) + " %, this installation's bucket " +
                        std::to_string(bucket);
    }
  }
  return decision;
}

}  // namespace brixa
