#pragma once
// The manifest's keys about starting the installer: whose code signature it must carry, and
// the arguments it is started with.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brixa {

// "Publisher1=", "Publisher2=", ...: SHA-256 fingerprints of the certificate the installer's
// code signature must be made with, any one of them; read in order up to the first missing
// number, as the mirrors are. A second one is listed before a renewed certificate is used.
inline constexpr const char* kPublisherKeyPrefix = "Publisher";
inline constexpr const char* kArgumentsKey = "Arguments";
// An old and a new certificate, with room for an overlap; more is a list nobody checks.
inline constexpr std::size_t kMaxPublishers = 4;

struct TInstallerKeys {
  std::vector<std::string> Publishers;  // 64 lower-case hexadecimal digits each
  std::string Arguments;                // the installer's command line after its name
};

// Reads the installer keys of the "[Updater]" section of verified manifest bytes. Raises
// EManifestRefused naming the key when a fingerprint is not 64 hexadecimal digits, there are
// more than kMaxPublishers, a key "Publisher" without a number is present (it would be read
// as no pin at all), or Arguments is not IsLaunchArgumentsText. The value of Arguments is read
// by the profile rules: blanks around it trimmed, one pair of surrounding quotes removed, so
// brixa-release writes it inside double quotes and it is read back byte for byte.
[[nodiscard]] TInstallerKeys ParseInstallerKeys(std::string_view bytes);

// A fingerprint as people write it: 64 hexadecimal digits, or the 32 colon-separated pairs
// `openssl x509 -fingerprint -sha256` prints (with or without its "sha256 Fingerprint=" label),
// either case. The 64 lower-case digits; nullopt for anything else.
[[nodiscard]] std::optional<std::string> ParsePublisherFingerprint(std::string_view text);

}  // namespace brixa
