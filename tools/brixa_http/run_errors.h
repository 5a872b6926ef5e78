#pragma once

#include "platform/exception.h"

namespace brixa {
class TIdHTTP;
}

namespace brixa::tool {

// Exit codes, curl's numbers where the meaning is the same.
inline constexpr int kExitOk = 0;
inline constexpr int kExitOther = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitHostNotFound = 6;
inline constexpr int kExitConnectFailed = 7;
inline constexpr int kExitShortBody = 18;
inline constexpr int kExitHttpError = 22;
inline constexpr int kExitTimeout = 28;
inline constexpr int kExitTooManyRedirects = 47;
inline constexpr int kExitSocks = 97;

// What a run learned before it failed.
struct RunState {
  bool headersSeen = false;  // the current URL's response head arrived
};

// Prints "<class>: <message>" on standard error and returns the exit code for `e`.
[[nodiscard]] int ReportFailure(const Exception& e, const RunState& state);
// Prints the redirect-limit failure and returns its exit code.
[[nodiscard]] int ReportRedirectLimit(TIdHTTP& http);

}  // namespace brixa::tool
