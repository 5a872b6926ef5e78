#pragma once
// The version check: the update server's paths, the version file's keys, its download, and the
// comparison of the server's stamp with the local one.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/low_speed.h"

namespace brixa {

// The single-instance name; the same text is the application's title and the window caption.
inline constexpr const char* kUpdaterName = "BrixaUpdater";

// Where the update server keeps the current version file and the installer.
inline constexpr const char* kVersionFilePath = "/brixakit/version.ini";
inline constexpr const char* kInstallerPath = "/brixakit/update.exe";

// The version file: INI section, stamp key, and the stamp a missing file, section or key gives.
inline constexpr const char* kVersionSection = "Updater";
inline constexpr const char* kVersionKey = "Version";
inline constexpr const char* kDefaultStamp = "0000000000";
// The stamp buffers hold 20 bytes with the terminating zero: only 19 bytes of a stamp count.
inline constexpr std::size_t kStampBufferSize = 20;
// Optional key of the server's version file: the installer's SHA-256 as 64 hexadecimal digits.
inline constexpr const char* kSha256Key = "SHA256";
// Large enough to tell a value of the right length from a longer one.
inline constexpr std::size_t kSha256BufferSize = 128;

inline constexpr const char* kTempVersionFileName = "version_update.ini";

// The longest the updater's clients wait for the next byte from the server. Without a limit a
// server that stalls would keep the updater, and with it the single-instance marker, forever;
// the download window offers no way to close it.
inline constexpr std::int32_t kUpdaterReadTimeoutMs = 20000;

// DownloadVersionFile's result when anything failed.
inline constexpr const char* RSVersionCheckError = "Version check error.";

// A URL on the update server `server`: "host" or "host:port" gives "http://" + server + path;
// a server given with its scheme ("https://host:port") keeps it.
[[nodiscard]] std::string UpdateServerUrl(const std::string& server, const std::string& path);

// Fetches `url` with HEAD and then GET into the file `fileName` (created or truncated), using a
// client of its own with every setting at its default but the read timeout
// (kUpdaterReadTimeoutMs) and the low-speed rule: no redirect is followed, and an error status,
// like a refused connection, a stalled or a trickling server, is a failure. Returns "" when the
// file was fetched and RSVersionCheckError otherwise; never raises. The file is closed before the
// call returns; a failed fetch can leave a partial or empty file behind.
[[nodiscard]] std::string DownloadVersionFile(const std::string& url, const std::string& fileName,
                                              TLowSpeedRule lowSpeed = kUpdaterLowSpeedRule);

// The two files the version check uses.
struct TVersionCheckFiles {
  // The installed product's stamp: drive and directory of the module file name (read into a
  // buffer of kMaxPath bytes and split by the path splitter) + "version.ini".
  std::string LocalVersionFile;
  // Where the server's copy is stored while it is read: the program's directory (as argument
  // zero gives it, ending in a separator) + separator + "version_update.ini". The doubled
  // separator is harmless to the file functions and the same string is used throughout.
  std::string TempVersionFile;
};
[[nodiscard]] TVersionCheckFiles VersionCheckFilesOfProgram();

// What the version check found out.
struct TUpdateCheck {
  // The server's stamp differs from the local one (byte for byte, first 19 bytes of each).
  bool UpdateAvailable = false;
  // The server file's SHA256 value (blanks trimmed, quotes removed) when it has a non-empty
  // one: the installer must then hash to it. Kept as read; DownloadVerifier judges its form.
  std::string ExpectedSha256;
};

// The most a signed version file may hold: it is read whole to check its signature.
inline constexpr std::int64_t kMaxSignedVersionFileBytes = 64 * 1024;

// Downloads the server's version file from `versionUrl` to files.TempVersionFile, compares its
// stamp with the one in files.LocalVersionFile and deletes the temporary file. A failed
// download means "no update" and leaves everything as it is. Never raises.
// With a `publicKeyPem`, the file's signature (versionUrl + kSignatureSuffix) must verify over
// the file's exact bytes before its stamp is used; when it cannot be had or does not verify,
// the answer is "no update", as for a failed download.
[[nodiscard]] TUpdateCheck CheckForUpdate(const std::string& versionUrl,
                                          const TVersionCheckFiles& files,
                                          std::string_view publicKeyPem = {});
// The same with the files beside this program.
[[nodiscard]] TUpdateCheck CheckForUpdate(const std::string& versionUrl,
                                          std::string_view publicKeyPem = {});

}  // namespace brixa
