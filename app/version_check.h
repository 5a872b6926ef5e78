#pragma once
// The version check: the update server's paths, the version file's download into memory, its
// verification against the built-in keys and the rollback state, and the comparison of the
// server's stamp with the local one.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "update/manifest/manifest.h"
#include "update/net/low_speed.h"
#include "update/net/update_client.h"
#include "update/state/run_log.h"

namespace brixa {

// The single-instance name; the same text is the application's title and the window caption.
inline constexpr const char* kUpdaterName = "BrixaUpdater";

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

// Fetches `url` with HEAD and then GET into `bytes`, using a client of its own set up as every
// update client is (SetUpUpdateClient): no redirect is followed, and an error status, like a
// refused connection, a stalled or trickling server, a body above kMaxManifestBytes (cut off
// there) or the deadline `deadlineMs` (MonotonicMilliseconds) passing, is a failure. Nothing is
// written to disk. Returns "" when the file was fetched and RSVersionCheckError otherwise
// (`error` then says why); never raises.
//
// When the server answered 503 or 429, `retryAfter` (when given) receives its "Retry-After"
// value as sent ("" when it sent none).
[[nodiscard]] std::string DownloadVersionFile(const std::string& url, std::string& bytes,
                                              std::string& error,
                                              std::uint64_t deadlineMs = kNoDeadline,
                                              TLowSpeedRule lowSpeed = kUpdaterLowSpeedRule,
                                              std::string* retryAfter = nullptr);

// Where the check finds the local stamp and keeps its state and log.
struct TVersionCheckFiles {
  // The installed product's stamp: drive and directory of the module file name (read into a
  // buffer of kMaxPath bytes and split by the path splitter) + "version.ini".
  std::string LocalVersionFile;
  // The user's state folder (UserStateDirectory), ending in a separator: the rollback state
  // and the run log. Empty when there is none.
  std::string StateDirectory;
};
[[nodiscard]] TVersionCheckFiles VersionCheckFilesOfProgram();

// What a build trusts and checks: with no keys, updates are unsigned and the manifest's keys
// other than the stamp (and an optional SHA256) are not used.
struct TUpdaterTrust {
  std::vector<std::string> PublicKeys;  // PEM, any of which may sign the manifest
  std::string Product = kUpdaterName;   // the manifest's Product must equal it
};

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
  // The run log's record so far (stamps, serial, decision, reason).
  TRunRecord Record;
};

// Downloads the server's version file from `versionUrl` into memory, verifies it when `trust`
// has keys, and compares its stamp with the one in files.LocalVersionFile. Never raises; any
// failure means "no update", with the reason in the record.
//
// With keys, in order: the signature (versionUrl + kSignatureSuffix) must verify over
// kManifestSignatureContext + the file's bytes with one of the keys; the manifest must be for
// trust.Product, unexpired and its Serial not below the highest accepted so far (state file in
// files.StateDirectory); a damaged state file, or one that cannot be written when the serial
// grows, refuses the update: rollback protection is never skipped. A signed manifest's
// Rollout offers the update only to installations whose bucket (drawn once, kept in the state)
// is below it ("held back" otherwise).
//
// A 503 or 429 with a usable "Retry-After" keeps its time in the state, for the server at
// `server` in the build's list (0: the first); until then later checks of that server make no
// request at all ("deferred"). Without "Retry-After" nothing is kept. The check ends
// by `deadlineMs` (MonotonicMilliseconds) or kVersionCheckDeadlineMs from now, the earlier.
[[nodiscard]] TUpdateCheck CheckForUpdate(const std::string& versionUrl,
                                          const TVersionCheckFiles& files,
                                          const TUpdaterTrust& trust = {},
                                          std::uint64_t deadlineMs = kNoDeadline,
                                          std::size_t server = 0);

}  // namespace brixa
