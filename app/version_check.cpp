// Fetching the version file into memory, verifying it (signed builds), and deciding whether an
// update is due.

#include "app/version_check.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "http/client/http.h"
#include "http/client/http_protocol_exception.h"
#include "platform/files/module_path.h"
#include "platform/files/user_data_dir.h"
#include "platform/ini/profile_string.h"
#include "platform/thread/clock.h"
#include "runtime/time/utc_time.h"
#include "update/manifest/delivery_keys.h"
#include "update/manifest/manifest_check.h"
#include "update/manifest/rollout.h"
#include "update/state/delivery_state.h"
#include "update/state/retry_after.h"
#include "update/state/state_file.h"

namespace brixa {

namespace {

// A path part copied into one of the check's kMaxPath-byte buffers.
std::string FitPathBuffer(std::string part) {
  if (part.size() > kMaxPath - 1) part.resize(kMaxPath - 1);
  return part;
}

std::string ReadLocalStamp(const std::string& fileName) {
  return ReadProfileString(kVersionSection, kVersionKey, kDefaultStamp, kStampBufferSize, fileName);
}

std::string FetchSignature(const std::string& url, std::uint64_t deadlineMs) {
  TLowSpeedGuard guard;
  guard.SetDeadline(deadlineMs);
  const auto client = std::make_unique<TIdHTTP>();
  SetUpUpdateClient(*client, guard);
  return FetchBounded(*client, guard, url, kMaxSignatureBytes);
}

// The rollback state: raises EManifestRefused when it cannot be judged.
TUpdateState LoadState(const TVersionCheckFiles& files, const std::string& product) {
  if (files.StateDirectory.empty()) {
    throw EManifestRefused("state: no folder for the updater's state");
  }
  TStateLoad how = TStateLoad::slMissing;
  TUpdateState state = TUpdateState::Load(files.StateDirectory + kStateFileName, product, how);
  if (how == TStateLoad::slDamaged) {
    throw EManifestRefused("state: " + files.StateDirectory + kStateFileName +
                           " is damaged; delete it to accept updates again");
  }
  return state;
}

// The verified manifest of a signed build, its serial recorded as the lowest acceptable one.
TManifest AcceptSignedManifest(const std::string& versionUrl, const std::string& bytes,
                               const TVersionCheckFiles& files, const TUpdaterTrust& trust,
                               std::uint64_t deadlineMs) {
  std::string signature;
  try {
    signature = FetchSignature(versionUrl + kSignatureSuffix, deadlineMs);
  } catch (const Exception& error) {
    throw EManifestRefused("signature: " + versionUrl + kSignatureSuffix + ": " + error.Message());
  }
  TUpdateState state = LoadState(files, trust.Product);
  const TManifestPolicy policy{trust.Product, UtcNowSeconds(), state.HighestSerial()};
  TManifest manifest = VerifyManifest(bytes, signature, trust.PublicKeys, policy);
  if (!policy.LowestSerial || manifest.Serial > *policy.LowestSerial) {
    try {
      state.SetHighestSerial(manifest.Serial);
      state.Save();
    } catch (const Exception& error) {
      throw EManifestRefused("state: " + error.Message());
    }
  }
  return manifest;
}

// The state for the back-off and the rollout bucket; none without a state folder or when the
// file is damaged (a signed build then refuses the manifest anyway).
std::optional<TUpdateState> LoadDeliveryState(const TVersionCheckFiles& files,
                                              const std::string& product) {
  if (files.StateDirectory.empty()) return std::nullopt;
  TStateLoad how = TStateLoad::slMissing;
  TUpdateState state = TUpdateState::Load(files.StateDirectory + kStateFileName, product, how);
  if (how == TStateLoad::slDamaged) return std::nullopt;
  return state;
}

// Keeps the time a 503 or 429 asked the updater to wait; a value that gives none keeps nothing.
void KeepServersBackOff(TUpdateState& state, const std::string& retryAfter, std::size_t server,
                        TRunRecord& record) {
  const auto until = RetryAfterUntil(retryAfter, UtcNowSeconds());
  if (!until) return;
  try {
    KeepBackOff(state, *until, server);
    state.Save();
    record.Reason += "; no check before " + FormatUtcTime(*until);
  } catch (const Exception& error) {
    record.Reason += "; the back-off was not kept: " + error.Message();
  }
}

// Offers the update only when this installation's bucket is inside the rollout.
void HoldBackOutsideRollout(const TVersionCheckFiles& files, const TUpdaterTrust& trust,
                            std::int32_t rollout, TUpdateCheck& check) {
  std::optional<TUpdateState> state = LoadDeliveryState(files, trust.Product);
  std::int32_t bucket = -1;  // no state to keep a bucket in: outside every partial rollout
  if (state) {
    bool drawn = false;
    bucket = RolloutBucketOf(*state, drawn);
    try {
      if (drawn) state->Save();
    } catch (const Exception&) {
      // An unsaved bucket is drawn again next run; this run still answers with this one.
    }
  }
  if (RolloutOffers(rollout, bucket)) return;
  check.UpdateAvailable = false;
  check.ExpectedSha256.clear();
  check.Record.Decision = "held back";
  check.Record.Reason = "rollout " + std::to_string(rollout) + " %, this installation's bucket " +
                        std::to_string(bucket);
}

}  // namespace

std::string UpdateServerUrl(const std::string& server, const std::string& path) {
  // A bare host[:port] is the plain http server of the original releases.
  if (server.rfind("https://", 0) == 0 || server.rfind("http://", 0) == 0) return server + path;
  return "http://" + server + path;
}

std::string DownloadVersionFile(const std::string& url, std::string& bytes, std::string& error,
                                std::uint64_t deadlineMs, TLowSpeedRule lowSpeed,
                                std::string* retryAfter) {
  // Made before the client, so it outlives the client that uses it.
  TLowSpeedGuard guard(nullptr, lowSpeed);
  guard.SetDeadline(deadlineMs);
  const auto client = std::make_unique<TIdHTTP>();
  bytes.clear();
  try {
    SetUpUpdateClient(*client, guard);
    PrepareUpdateRequest(*client, guard, url);
    client->Head(url);
    bytes = FetchBounded(*client, guard, url, kMaxManifestBytes);
    return {};
  } catch (const EIdHTTPProtocolException& failure) {
    error = url + ": " + failure.Message();
    if (retryAfter != nullptr && IsBackOffStatus(failure.ReplyCode())) {
      *retryAfter = client->LastResponse().RetryAfter();
    }
  } catch (const Exception& failure) {
    error = url + ": " + failure.Message();
  } catch (...) {
    error = url + ": an unknown error";
  }
  bytes.clear();
  return RSVersionCheckError;
}

TVersionCheckFiles VersionCheckFilesOfProgram() {
  const TPathParts module = SplitPath(ModuleFileName(kMaxPath));
  const std::string drive = FitPathBuffer(module.Drive);
  const std::string dir = FitPathBuffer(module.Dir);
  TVersionCheckFiles files;
  // The "%s%sversion.ini" format with the drive and the directory.
  files.LocalVersionFile = drive + dir + "version.ini";
  files.StateDirectory = UserStateDirectory(kUpdaterName);
  return files;
}

TUpdateCheck CheckForUpdate(const std::string& versionUrl, const TVersionCheckFiles& files,
                            const TUpdaterTrust& trust, std::uint64_t deadlineMs,
                            std::size_t server) {
  TUpdateCheck check;
  check.Record.LocalStamp = ReadLocalStamp(files.LocalVersionFile);
  const std::uint64_t checkDeadline =
      std::min(deadlineMs, MonotonicMilliseconds() + kVersionCheckDeadlineMs);
  std::optional<TUpdateState> state = LoadDeliveryState(files, trust.Product);
  if (state) {
    if (const auto until = HeldBackOff(*state, UtcNowSeconds(), server)) {
      check.Record.Decision = "deferred";
      check.Record.Reason =
          versionUrl + ": the server asked not to be asked before " + FormatUtcTime(*until);
      return check;
    }
  }
  std::string bytes;
  std::string retryAfter;
  if (DownloadVersionFile(versionUrl, bytes, check.Record.Reason, checkDeadline,
                          kUpdaterLowSpeedRule, &retryAfter) == RSVersionCheckError) {
    check.Record.Decision = "failed";
    if (state) KeepServersBackOff(*state, retryAfter, server, check.Record);
    return check;
  }
  std::int32_t rollout = kFullRollout;
  if (trust.PublicKeys.empty()) {
    check.Record.ServerStamp = ManifestStamp(bytes);
    check.ExpectedSha256 = ManifestSha256Text(bytes);
  } else {
    try {
      const TManifest manifest =
          AcceptSignedManifest(versionUrl, bytes, files, trust, checkDeadline);
      check.Record.ServerStamp = manifest.Stamp;
      check.Record.Serial = manifest.Serial;
      check.ExpectedSha256 = manifest.Sha256;
      check.ExpectedSize = manifest.Size;
      check.Serial = manifest.Serial;
      const TDeliveryKeys delivery = ParseDeliveryKeys(bytes);
      check.Mirrors = delivery.Mirrors;
      rollout = delivery.Rollout;
    } catch (const Exception& refusal) {
      check.Record.Decision = "refused";
      check.Record.Reason = refusal.Message();
      return check;
    }
  }
  // Byte for byte, lengths included.
  check.UpdateAvailable = check.Record.ServerStamp != check.Record.LocalStamp;
  check.Record.Decision = check.UpdateAvailable ? "update" : "up-to-date";
  if (check.UpdateAvailable && rollout < kFullRollout)
    HoldBackOutsideRollout(files, trust, rollout, check);
  if (!check.UpdateAvailable) check.ExpectedSha256.clear();
  return check;
}

}  // namespace brixa
