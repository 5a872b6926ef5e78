#pragma once
// brixa-release: the vendor's tool to make signing keys, sign releases and check them exactly
// as the updater will. Everything but main is here so tests can drive it.

#include <iosfwd>
#include <string>
#include <vector>

namespace brixa::release {

// Exit codes, as --help lists them.
inline constexpr int kExitOk = 0;
inline constexpr int kExitRefused = 1;  // verify: the release would not be installed
inline constexpr int kExitUsage = 2;    // unknown command or option, missing argument
inline constexpr int kExitFailed = 3;   // a file could not be read or written, crypto missing

// A manifest is valid this long unless told otherwise: long enough for a monthly release
// rhythm with slack, short enough that a replayed manifest stops working within weeks. Re-sign
// (resign) at least every kRecommendedResignDays.
inline constexpr int kDefaultValidDays = 30;
inline constexpr int kRecommendedResignDays = 14;
// The longest validity the tool writes: a manifest valid for years is a freeze waiting to
// happen.
inline constexpr int kMaxValidDays = 366;

// The file names of a release folder, as they are uploaded to /brixakit/.
inline constexpr const char* kManifestFileName = "version.ini";
inline constexpr const char* kManifestSignatureFileName = "version.ini.sig";
inline constexpr const char* kInstallerFileName = "update.exe";

[[nodiscard]] std::string HelpText();

// Runs the tool with `arguments` (without the program name); reports go to `out`, errors to
// `err`. Returns the exit code.
[[nodiscard]] int RunReleaseTool(const std::vector<std::string>& arguments, std::ostream& out,
                                 std::ostream& err);

}  // namespace brixa::release
