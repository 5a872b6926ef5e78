#include "run_errors.h"

#include <cstdio>

#include "http/http.h"
#include "tls_setup.h"
#include "transport/connect_thread.h"
#include "transport/io_handler_exceptions.h"
#include "transport/stack_exceptions.h"

namespace brixa::tool {
namespace {

// Winsock numbers the socket layer reports on both platforms.
bool IsHostNotFound(int error) {
  return error >= 11001 && error <= 11004;
}
constexpr int kConnectTimedOut = 10060;

int CodeFor(const Exception& e, const RunState& state) {
  if (const int tls = TlsExitCode(e, state.headersSeen); tls != 0) return tls;
  if (dynamic_cast<const EIdHTTPProtocolException*>(&e) != nullptr) return kExitHttpError;
  if (dynamic_cast<const EIdReadTimeout*>(&e) != nullptr) return kExitTimeout;
  if (dynamic_cast<const EIdConnectTimeout*>(&e) != nullptr) return kExitTimeout;
  if (const auto* socket = dynamic_cast<const EIdSocketError*>(&e)) {
    if (IsHostNotFound(socket->LastError())) return kExitHostNotFound;
    if (socket->LastError() == kConnectTimedOut) return kExitTimeout;
    return state.headersSeen ? kExitOther : kExitConnectFailed;
  }
  if (dynamic_cast<const EIdConnectException*>(&e) != nullptr) return kExitConnectFailed;
  // A close after the head: the body ended before its announced length.
  if (dynamic_cast<const EIdConnClosedGracefully*>(&e) != nullptr && state.headersSeen) {
    return kExitShortBody;
  }
  return kExitOther;
}

}  // namespace

int ReportFailure(const Exception& e, const RunState& state) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s: %s\n", e.ClassName(), e.Message().c_str());
  return CodeFor(e, state);
}

int ReportRedirectLimit(TIdHTTP& http) {
  std::fflush(stdout);
  std::fprintf(stderr, "brixa-http: maximum redirects followed (%d), last Location: %s\n",
               http.RedirectMaximum() - 1, http.LastResponse().Location().c_str());
  return kExitTooManyRedirects;
}

}  // namespace brixa::tool
