#pragma once
// The release manifest: the server's version file, whose keys a signed build requires.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "update/update_errors.h"

namespace brixa {

// INI section and keys of the version file. `Version` is the stamp: opaque, compared byte for
// byte, only its first kStampBufferSize - 1 bytes count.
inline constexpr const char* kVersionSection = "Updater";
inline constexpr const char* kVersionKey = "Version";
inline constexpr const char* kProductKey = "Product";
inline constexpr const char* kSerialKey = "Serial";
inline constexpr const char* kExpiresKey = "Expires";
inline constexpr const char* kSizeKey = "Size";
inline constexpr const char* kSha256Key = "SHA256";
// The stamp a missing file, section or key gives.
inline constexpr const char* kDefaultStamp = "0000000000";
// The stamp buffers hold 20 bytes with the terminating zero: only 19 bytes of a stamp count.
inline constexpr std::size_t kStampBufferSize = 20;
// Large enough to tell every value of the right length from a longer one.
inline constexpr std::size_t kManifestValueBufferSize = 128;
// The most a version file may hold, signed or not: it is read whole into memory.
inline constexpr std::int64_t kMaxManifestBytes = 64 * 1024;
// The number of hexadecimal digits of a SHA-256 value.
inline constexpr std::size_t kSha256HexDigits = 64;
// A product name is a short label, not a sentence.
inline constexpr std::size_t kMaxProductNameBytes = 64;

// What a signed build reads from a verified manifest.
struct TManifest {
  std::string Stamp;         // Version, cut to 19 bytes; kDefaultStamp when missing
  std::string Product;       // must equal the product the build was made for
  std::uint64_t Serial = 0;  // grows from one published manifest to the next
  std::int64_t Expires = 0;  // seconds since 1970 (UTC); refused after it
  std::int64_t Size = 0;     // of the installer, in bytes
  std::string Sha256;        // of the installer, 64 lower-case hexadecimal digits
};

// The stamp of a version file's bytes (kDefaultStamp when the key is missing).
[[nodiscard]] std::string ManifestStamp(std::string_view bytes);
// The optional SHA256 value of an unsigned version file, as read (blanks trimmed, quotes
// removed); "" when missing. The installer check judges its form.
[[nodiscard]] std::string ManifestSha256Text(std::string_view bytes);

// Reads every key a signed build requires from `bytes` (which must already be verified).
// Raises EManifestRefused naming the first key that is missing or malformed: Product (1 to
// kMaxProductNameBytes bytes), Serial (1 to 19 decimal digits), Expires (ParseUtcTime's form),
// Size (1 to 18 decimal digits, above zero), SHA256 (64 hexadecimal digits, either case).
[[nodiscard]] TManifest ParseManifest(std::string_view bytes);

// True when `text` is exactly kSha256HexDigits hexadecimal digits (either case).
[[nodiscard]] bool IsSha256Text(std::string_view text) noexcept;

}  // namespace brixa
