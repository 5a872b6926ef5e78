#pragma once
// The version check: the update server's paths, the version file's download into memory, its
// verification against the built-in keys and the rollback state, and the comparison of the
// server's stamp with the local one.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "update/manifest/installer_keys.h"
#include "update/manifest/manifest.h"
#include "update/manifest/release_decision.h"
#include "update/net/fetcher.h"
#include "update/net/low_speed.h"
#include "update/net/update_client.h"
#include "update/state/run_log.h"

namespace brixa {

// Where the update server keeps the current version file and the installer.
inline constexpr const char* kVersionFilePath = "/brixakit/version.ini";
inline constexpr const char* kInstallerPath = "/brixakit/update.exe";
// A signed file's signature lies beside it on the server under the file's name + this suffix.
inline constexpr const char* kSignatureSuffix = ".sig";
// A DER ECDSA P-256 signature takes at most 72 bytes; anything past this is not one.
inline constexpr std::int64_t kMaxSignatureBytes = 1024;

// DownloadVersionFile's result when anything failed.
inline constexpr const char* RSVersionCheckError = "Version check error.";

// A URL on the update server `server`: "host" or "host:port" gives "http://" + server + path;
// a server given with its scheme ("https://host:port") keeps it.
[[nodiscard]] std::string UpdateServerUrl(const std::string& server, const std::string& path);

// Fetches `url` with HEAD and then GET into `bytes` through `fetcher` (a check's: no redirect
// is followed), and an error status, like a refused connection, a stalled or trickling server,
// a body above kMaxManifestBytes (cut off there) or the fetcher's deadline passing, is a
// failure. Nothing is written to disk. Returns "" when the file was fetched and
// RSVersionCheckError otherwise (`error` then says why); never raises.
//
// A server's request to be left alone, as a failed check received it.
struct TServerBackOff {
  std::string RetryAfter;   // "Retry-After" as sent with a 503 or 429; "" when none
  bool FromOrigin = false;  // the answer is proven to be the server's own (EFetchStatus)
};

// When the server answered 503 or 429, `backOff` (when given) receives its request.
[[nodiscard]] std::string DownloadVersionFile(TUpdateFetcher& fetcher, const std::string& url,
                                              std::string& bytes, std::string& error,
                                              TServerBackOff* backOff = nullptr);
// The same through a client of its own, set up as every update client is, ending by
// `deadlineMs` (MonotonicMilliseconds) under `lowSpeed`.
[[nodiscard]] std::string DownloadVersionFile(const std::string& url, std::string& bytes,
                                              std::string& error,
                                              std::uint64_t deadlineMs = kNoDeadline,
                                              TLowSpeedRule lowSpeed = kUpdaterLowSpeedRule,
                                              TServerBackOff* backOff = nullptr);

// Where the check finds the local stamp and keeps its state and log.
struct TVersionCheckFiles {
  // The installed product's stamp: drive and directory of the module file name (at most
  // kMaxPath - 1 bytes each, split by the path splitter) + "version.ini".
  std::string LocalVersionFile;
  // The user's state folder (UserStateDirectory), ending in a separator: the rollback state
  // and the run log. Empty when there is none.
  std::string StateDirectory;
};
[[nodiscard]] TVersionCheckFiles VersionCheckFilesOfProgram();

// What the version check found out.
struct TUpdateCheck {
  // The server's stamp differs from the local one (byte for byte, first 19 bytes of each).
  bool UpdateAvailable = false;
  // The installer's SHA-256 (lower-case hex from a signed manifest; as read from an unsigned
  // one's optional key) and, from a signed manifest, its size; -1 when not known.
  std::string ExpectedSha256;
  std::int64_t ExpectedSize = -1;
  // From a signed manifest: its serial (0 otherwise) and its further installer URLs.
  std::uint64_t Serial = 0;
  std::vector<std::string> Mirrors;
  // From a signed manifest: the installer's publisher pins and arguments.
  TInstallerKeys Installer;
  // The run log's record so far (stamps, serial, decision, reason).
  TRunRecord Record;
  // The server asked to be left alone: it is not asked for the installer in this run either.
  bool BackedOff = false;
};

// The version check, in the order it runs:
//   1. the local stamp, and the state file loaded once (back-off, rollback floor, bucket);
//   2. a server that asked to be left alone (a 503 or 429 with a usable "Retry-After", kept
//      per server: `server` is its place in the build's list, 0 the first) is not asked before
//      then ("deferred", no request at all), as long as the last good check is recent
//      (HeldBackOff);
//   3. the version file (DownloadVersionFile), and for a signed build (`trust` has keys) its
//      signature at versionUrl + kSignatureSuffix; a failure ("failed") keeps the back-off a
//      503 or 429 asked for only when the server itself is proven to have sent it (https,
//      no proxy): any other holds for this run alone. A signature that cannot be fetched
//      refuses ("refused");
//   4. the release judged once (TReleaseJudge: signature, product, expiry, serial against the
//      state, stamps, rollout); what it asks to record is saved with the time of this good
//      check, and a serial that cannot be recorded refuses the release: rollback protection is
//      never skipped. A state read from its previous copy is named in the reason.
// Requests go through fetchers made by `fetchers` for the check; everything ends by
// `deadlineMs` (MonotonicMilliseconds) or kVersionCheckDeadlineMs from now, the earlier.
// Never raises; any failure means "no update", with the reason in the record.
[[nodiscard]] TUpdateCheck CheckForUpdate(const TFetcherFactory& fetchers,
                                          const std::string& versionUrl,
                                          const TVersionCheckFiles& files,
                                          const TUpdaterTrust& trust = {},
                                          std::uint64_t deadlineMs = kNoDeadline,
                                          std::size_t server = 0);
// The same over the network (HttpFetcherFactory).
[[nodiscard]] TUpdateCheck CheckForUpdate(const std::string& versionUrl,
                                          const TVersionCheckFiles& files,
                                          const TUpdaterTrust& trust = {},
                                          std::uint64_t deadlineMs = kNoDeadline,
                                          std::size_t server = 0);

}  // namespace brixa
