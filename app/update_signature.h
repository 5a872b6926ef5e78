#pragma once
// Fetching the detached signature of an update file, and checking it against the compiled-in key.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/exception.h"

namespace brixa {

class TIdHTTP;
class TLaunchableFile;

// A signature file that could not be had or is out of all proportion.
BRIXA_DECLARE_EXCEPTION(EUpdateSignatureError, Exception);

// A signed file's signature lies beside it on the server under the file's name + this suffix.
inline constexpr const char* kSignatureSuffix = ".sig";
// A DER ECDSA P-256 signature takes at most 72 bytes; anything past this is not one.
inline constexpr std::int64_t kMaxSignatureBytes = 1024;

// GETs `url` with `http` into memory and returns the body. Raises what the client raises, and
// EUpdateSignatureError for a final status other than 2xx or a body above kMaxSignatureBytes
// (the transfer is then cut off).
[[nodiscard]] std::string FetchSignature(TIdHTTP& http, const std::string& url);

// True when `signature` (DER) verifies with `publicKeyPem` over exactly `bytes`, or over every
// byte `file` has left to read. Any failure, an unusable key included, is false.
[[nodiscard]] bool SignatureMatches(std::string_view publicKeyPem, std::string_view bytes,
                                    std::string_view signature) noexcept;
[[nodiscard]] bool SignatureMatches(std::string_view publicKeyPem, TLaunchableFile& file,
                                    std::string_view signature) noexcept;

}  // namespace brixa
