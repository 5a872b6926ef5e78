#pragma once
// TLS settings of brixa-http (-k, --cacert, --capath, -v) and the exit codes of TLS failures.

#include "options.h"
#include "platform/core/exception.h"

namespace brixa {
class TIdSSLIOHandlerSocketBase;
}

namespace brixa::tool {

inline constexpr int kExitTlsHandshake = 35;
inline constexpr int kExitTlsReceive = 56;
inline constexpr int kExitCertificate = 60;
inline constexpr int kExitCAFile = 77;

// Verification as the options say (on unless -k; --cacert / --capath, else the system's
// trusted CAs) and, with -v, the session's version, cipher and certificate on standard error.
void ConfigureTls(TIdSSLIOHandlerSocketBase& tls, const Options& o);

// The exit code of a TLS failure; 0 when `e` is no TLS failure. `headersSeen`: the failure
// came after the response head.
[[nodiscard]] int TlsExitCode(const Exception& e, bool headersSeen);

}  // namespace brixa::tool
