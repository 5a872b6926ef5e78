#pragma once
// The checks a downloaded installer must pass before it is started: final status, length and
// SHA-256.

#include <cstdint>
#include <string>
#include <string_view>

#include "update/update_errors.h"

namespace brixa {

class TStream;

// Checks a downloaded installer before it may be started. The client ends a transfer quietly
// when it gives up on a redirect chain (the last 3xx is then the final status) or when the
// peer closes before a counted body is complete, so success alone proves nothing:
//   - the final status must be 2xx, else EUpdateDownloadIncomplete;
//   - when the response announced a length (contentLength >= 0), `file` must hold exactly that
//     many bytes, else EUpdateDownloadIncomplete;
//   - when expectedSize >= 0 (a signed manifest's Size), `file` must hold exactly that many
//     bytes, else EUpdateIntegrityError;
//   - when expectedSha256 is not empty, the SHA-256 of the whole of `file` must equal it (case
//     ignored), else EUpdateIntegrityError; a value that is not 64 hexadecimal digits never
//     matches, so a damaged version file stops the launch rather than skipping the check.
// `file` is read from its start and left at its end.
void VerifyDownload(std::int32_t statusCode, std::int64_t contentLength, TStream& file,
                    const std::string& expectedSha256, std::int64_t expectedSize = -1);

}  // namespace brixa
