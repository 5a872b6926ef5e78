// The version check: the state loaded once, the back-off, the fetch, one judgement of the
// release, and what it asks to keep.

#include "app/version_check.h"

#include <algorithm>
#include <memory>

#include "platform/files/module_path.h"
#include "platform/files/user_data_dir.h"
#include "platform/ini/profile_string.h"
#include "platform/thread/clock.h"
#include "runtime/time/utc_time.h"
#include "update/manifest/rollout.h"
#include "update/net/http_fetcher.h"
#include "update/state/delivery_state.h"
#include "update/state/retry_after.h"
#include "update/state/state_file.h"

namespace brixa {

namespace {

// A path part as long as a kMaxPath-byte path buffer holds, its terminating zero included.
std::string FitPathBuffer(std::string part) {
  if (part.size() > kMaxPath - 1) part.resize(kMaxPath - 1);
  return part;
}

std::string ReadLocalStamp(const std::string& fileName) {
  return ReadProfileString(kVersionSection, kVersionKey, kDefaultStamp, kStampBufferSize, fileName);
}

// The state file, read once for the whole check.
TStateSnapshot LoadStateSnapshot(const TVersionCheckFiles& files, const std::string& product) {
  TStateSnapshot snapshot;
  if (files.StateDirectory.empty()) return snapshot;
  snapshot.HasFolder = true;
  snapshot.FileName = files.StateDirectory + kStateFileName;
  snapshot.State = TUpdateState::Load(snapshot.FileName, product, snapshot.How);
  return snapshot;
}

// The state the delivery may read and write: none without a folder or when the file is damaged
// (a signed build then refuses the manifest anyway).
TUpdateState* DeliveryState(TStateSnapshot& snapshot) {
  if (!snapshot.State || snapshot.How == TStateLoad::slDamaged) return nullptr;
  return &*snapshot.State;
}

// Keeps the time a 503 or 429 asked the updater to wait; a value that gives none keeps nothing,
// and an answer anybody on the path could have written holds for this run alone.
void KeepServersBackOff(TUpdateState& state, const TServerBackOff& backOff, std::size_t server,
                        TRunRecord& record) {
  const auto until = RetryAfterUntil(backOff.RetryAfter, UtcNowSeconds());
  if (!until) return;
  if (!backOff.FromOrigin) {
    record.Reason += "; asked to wait until " + FormatUtcTime(*until) +
                     ", for this run only: not an https answer of the server itself";
    return;
  }
  try {
    KeepBackOff(state, *until, server);
    state.Save();
    record.Reason += "; no check before " + FormatUtcTime(*until);
  } catch (const Exception& error) {
    record.Reason += "; the back-off was not kept: " + error.Message();
  }
}

// The signature beside the version file; false (with the record refused) when it cannot be
// fetched.
bool FetchSignature(const TFetcherFactory& fetchers, const std::string& versionUrl,
                    std::uint64_t deadlineMs, std::string& signature, TRunRecord& record) {
  const std::string url = versionUrl + kSignatureSuffix;
  try {
    signature =
        FetchBounded(*fetchers(TFetchPurpose::fpCheck, deadlineMs), url, kMaxSignatureBytes);
    return true;
  } catch (const Exception& error) {
    record.Decision = TRunOutcome::roRefused;
    record.Reason = "signature: " + url + ": " + error.Message();
    return false;
  }
}

// Saves what the decision asks to keep, with the time of a good check. A serial that cannot be
// recorded refuses the release; a bucket that cannot be kept is drawn again next run.
TReleaseDecision KeepDecision(TStateSnapshot& snapshot, TReleaseDecision decision) {
  TUpdateState* state = DeliveryState(snapshot);
  const bool good = decision.Outcome != TRunOutcome::roRefused;
  if (state == nullptr || (!good && !decision.RecordSerial && !decision.RecordBucket)) {
    return decision;
  }
  try {
    if (decision.RecordSerial) state->SetHighestSerial(*decision.RecordSerial);
    if (decision.RecordBucket)
      state->SetValue(kRolloutBucketKey, std::to_string(*decision.RecordBucket));
    if (good) KeepGoodCheck(*state, UtcNowSeconds());
    state->Save();
  } catch (const Exception& error) {
    if (decision.RecordSerial) {
      decision.Outcome = TRunOutcome::roRefused;
      decision.Reason = "state: " + error.Message();
    }
  }
  return decision;
}

void RecordDecision(const TReleaseDecision& decision, TUpdateCheck& check) {
  check.Record.Decision = decision.Outcome;
  if (decision.Outcome == TRunOutcome::roRefused) {
    check.Record.Reason = decision.Reason;
    return;
  }
  check.Record.ServerStamp = decision.ServerStamp;
  check.Record.Serial = decision.Serial;
  check.Record.Reason = decision.Reason;
  check.UpdateAvailable = decision.Outcome == TRunOutcome::roUpdate;
  if (!check.UpdateAvailable) return;
  check.ExpectedSha256 = decision.Sha256;
  check.ExpectedSize = decision.Size;
  check.Serial = decision.Serial.value_or(0);
  check.Mirrors = decision.Mirrors;
  check.Installer = decision.Installer;
}

// Steps 2 to 4 of the check, on the state loaded for it.
TUpdateCheck CheckWithState(const TFetcherFactory& fetchers, const std::string& versionUrl,
                            const TVersionCheckFiles& files, const TUpdaterTrust& trust,
                            std::uint64_t deadlineMs, std::size_t server,
                            TStateSnapshot& snapshot) {
  TUpdateCheck check;
  const std::uint64_t checkDeadline =
      std::min(deadlineMs, MonotonicMilliseconds() + kVersionCheckDeadlineMs);
  check.Record.LocalStamp = ReadLocalStamp(files.LocalVersionFile);
  // 2. A server that asked to be left alone is not asked.
  if (const TUpdateState* state = DeliveryState(snapshot)) {
    if (const auto until = HeldBackOff(*state, UtcNowSeconds(), server)) {
      check.Record.Decision = TRunOutcome::roDeferred;
      check.BackedOff = true;
      check.Record.Reason =
          versionUrl + ": the server asked not to be asked before " + FormatUtcTime(*until);
      return check;
    }
  }
  // 3. The version file and, for a signed build, its signature.
  std::string bytes;
  TServerBackOff backOff;
  if (DownloadVersionFile(*fetchers(TFetchPurpose::fpCheck, checkDeadline), versionUrl, bytes,
                          check.Record.Reason, &backOff) == RSVersionCheckError) {
    check.Record.Decision = TRunOutcome::roFailed;
    check.BackedOff = RetryAfterUntil(backOff.RetryAfter, UtcNowSeconds()).has_value();
    if (TUpdateState* state = DeliveryState(snapshot)) {
      KeepServersBackOff(*state, backOff, server, check.Record);
    }
    return check;
  }
  std::string signature;
  if (!trust.PublicKeys.empty() &&
      !FetchSignature(fetchers, versionUrl, checkDeadline, signature, check.Record)) {
    return check;
  }
  // 4. One judgement of the release, and what it asks to keep.
  const TReleaseJudge judge(trust, snapshot, UtcNowSeconds(), DrawRolloutBucket());
  RecordDecision(KeepDecision(snapshot, judge.Judge(check.Record.LocalStamp, bytes, signature)),
                 check);
  return check;
}

}  // namespace

std::string UpdateServerUrl(const std::string& server, const std::string& path) {
  // A bare host[:port] is the plain http server of the original releases.
  if (server.rfind("https://", 0) == 0 || server.rfind("http://", 0) == 0) return server + path;
  return "http://" + server + path;
}

std::string DownloadVersionFile(TUpdateFetcher& fetcher, const std::string& url, std::string& bytes,
                                std::string& error, TServerBackOff* backOff) {
  bytes.clear();
  try {
    (void)fetcher.Head(url);
    bytes = FetchBounded(fetcher, url, kMaxManifestBytes);
    return {};
  } catch (const EFetchStatus& failure) {
    error = url + ": " + failure.Message();
    if (backOff != nullptr) *backOff = {failure.RetryAfter(), failure.FromOrigin()};
  } catch (const Exception& failure) {
    error = url + ": " + failure.Message();
  } catch (...) {
    error = url + ": an unknown error";
  }
  bytes.clear();
  return RSVersionCheckError;
}

std::string DownloadVersionFile(const std::string& url, std::string& bytes, std::string& error,
                                std::uint64_t deadlineMs, TLowSpeedRule lowSpeed,
                                TServerBackOff* backOff) {
  try {
    const auto fetcher = HttpFetcherFactory(lowSpeed)(TFetchPurpose::fpCheck, deadlineMs);
    return DownloadVersionFile(*fetcher, url, bytes, error, backOff);
  } catch (const Exception& failure) {
    bytes.clear();
    error = url + ": " + failure.Message();
    return RSVersionCheckError;
  }
}

TVersionCheckFiles VersionCheckFilesOfProgram() {
  const TPathParts module = SplitPath(ModuleFileName(kMaxPath));
  TVersionCheckFiles files;
  files.LocalVersionFile = FitPathBuffer(module.Drive) + FitPathBuffer(module.Dir) + "version.ini";
  files.StateDirectory = UserStateDirectory(kUpdaterName);
  return files;
}

TUpdateCheck CheckForUpdate(const TFetcherFactory& fetchers, const std::string& versionUrl,
                            const TVersionCheckFiles& files, const TUpdaterTrust& trust,
                            std::uint64_t deadlineMs, std::size_t server) {
  // 1. The local stamp and the state.
  TStateSnapshot snapshot = LoadStateSnapshot(files, trust.Product);
  TUpdateCheck check =
      CheckWithState(fetchers, versionUrl, files, trust, deadlineMs, server, snapshot);
  if (snapshot.How == TStateLoad::slRecovered) {
    check.Record.Reason += (check.Record.Reason.empty() ? "" : "; ") + std::string("state: ") +
                           snapshot.FileName + " was damaged; its previous copy was used";
  }
  return check;
}

TUpdateCheck CheckForUpdate(const std::string& versionUrl, const TVersionCheckFiles& files,
                            const TUpdaterTrust& trust, std::uint64_t deadlineMs,
                            std::size_t server) {
  return CheckForUpdate(HttpFetcherFactory(), versionUrl, files, trust, deadlineMs, server);
}

}  // namespace brixa
