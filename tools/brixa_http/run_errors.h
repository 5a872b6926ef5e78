#pragma once
// brixa-http's exit codes (curl's numbers where they mean the same), and how a failure maps to
// one.

#include "platform/core/exception.h"

namespace brixa {
class TIdHTTP;
}

namespace brixa::tool {

// Exit codes, curl's numbers where the meaning is the same (all listed in --help).
inline constexpr int kExitOk = 0;
inline constexpr int kExitOther = 1;  // also curl's "unsupported protocol"
inline constexpr int kExitUsage = 2;
inline constexpr int kExitMalformedUrl = 3;
inline constexpr int kExitHostNotFound = 6;
inline constexpr int kExitConnectFailed = 7;
inline constexpr int kExitNotHttp = 8;
inline constexpr int kExitShortBody = 18;
inline constexpr int kExitHttpError = 22;
inline constexpr int kExitWriteError = 23;
inline constexpr int kExitTimeout = 28;
inline constexpr int kExitTooManyRedirects = 47;
inline constexpr int kExitSocks = 97;
inline constexpr int kExitEmptyReply = 52;
inline constexpr int kExitReceiveFailed = 56;

// What a run learned before it failed; reset for every URL.
struct RunState {
  bool connected = false;    // the current connection was established
  bool headersSeen = false;  // the current URL's response head arrived
  bool https = false;        // the current URL is an https one
};

// The exit code for a failure `e` in `state`.
[[nodiscard]] int ExitCodeFor(const Exception& e, const RunState& state);
// Prints "<class>: <message>" (made safe for a terminal) on standard error and returns the
// exit code for `e`.
[[nodiscard]] int ReportFailure(const Exception& e, const RunState& state);
// Prints the redirect-limit failure and returns its exit code.
[[nodiscard]] int ReportRedirectLimit(TIdHTTP& http);

}  // namespace brixa::tool
