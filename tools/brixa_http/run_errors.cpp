// Mapping each failure class and socket error to an exit code, and printing failures made safe for
// a terminal.

#include "run_errors.h"

#include <cstdio>
#include <initializer_list>
#include <string>

#include "http/client/http.h"
#include "http/client/http_exceptions.h"
#include "terminal_text.h"
#include "tls_setup.h"
#include "transfer_watch.h"
#include "transport/io/io_handler_exceptions.h"
#include "transport/socket/connect_thread.h"
#include "transport/socket/stack_exceptions.h"
#include "transport/socks/socks_info.h"

namespace brixa::tool {
namespace {

// Winsock numbers the socket layer reports on both platforms.
bool IsHostNotFound(int error) {
  return error >= 11001 && error <= 11004;
}
constexpr int kConnectTimedOut = 10060;
bool IsResetOrAbort(int error) {
  return error == 10053 || error == 10054;
}

template <class T>
bool Is(const Exception& e) {
  return dynamic_cast<const T*>(&e) != nullptr;
}

int SocketErrorCode(const EIdSocketError& e, const RunState& state) {
  if (IsHostNotFound(e.LastError())) return kExitHostNotFound;
  if (e.LastError() == kConnectTimedOut) return kExitTimeout;
  // A TLS connection counts as made once its handshake is done: a reset before that broke the
  // handshake, as curl reports it.
  if (state.https && !state.connected && IsResetOrAbort(e.LastError())) return kExitTlsHandshake;
  // Once connected, a failing socket (a reset above all) broke the exchange.
  return state.connected ? kExitReceiveFailed : kExitConnectFailed;
}

// A close where an answer or the rest of one was due.
int ClosedCode(const RunState& state) {
  if (state.headersSeen) return kExitShortBody;
  return state.connected ? kExitEmptyReply : kExitOther;
}

// Failures whose class alone decides the code, most specific first.
struct ClassRule {
  bool (*matches)(const Exception&);
  int code;
};
constexpr ClassRule kClassRules[] = {
    // As curl: a proxy that does not open the tunnel is a failed connection, not the origin's
    // HTTP error.
    {Is<EIdHTTPTunnelRefused>, kExitReceiveFailed},
    {Is<EIdHTTPProtocolException>, kExitHttpError},
    {Is<EIdSocksError>, kExitSocks},
    {Is<EOperationTimeout>, kExitTimeout},
    {Is<EOperationTooSlow>, kExitTimeout},
    {Is<EIdReadTimeout>, kExitTimeout},
    {Is<EIdConnectTimeout>, kExitTimeout},
    {Is<EIdConnectException>, kExitConnectFailed},
    {Is<EIdUnknownProtocol>, kExitOther},
    {Is<EIdURIException>, kExitMalformedUrl},
    // Not an HTTP/1.x answer at all.
    {Is<EIdHTTPInvalidStatusLine>, kExitNotHttp},
    {Is<EIdHTTPTooManyInterimResponses>, kExitNotHttp},
    {Is<EIdReadLnMaxLineLengthExceeded>, kExitNotHttp},
    // An HTTP answer whose framing is broken: lengths, chunk sizes, an endless header block.
    {Is<EIdHTTPResponseError>, kExitReceiveFailed},
    {Is<EStreamError>, kExitWriteError},
};

}  // namespace

int ExitCodeFor(const Exception& e, const RunState& state) {
  if (const int tls = TlsExitCode(e, state.headersSeen); tls != 0) return tls;
  // Incomplete is a broken framing too, but its code says where the answer stopped.
  if (Is<EIdHTTPIncompleteResponse>(e)) return ClosedCode(state);
  for (const ClassRule& rule : kClassRules) {
    if (rule.matches(e)) return rule.code;
  }
  if (const auto* socket = dynamic_cast<const EIdSocketError*>(&e)) {
    return SocketErrorCode(*socket, state);
  }
  if (Is<EIdConnClosedGracefully>(e) || Is<EIdClosedSocket>(e)) return ClosedCode(state);
  // A port outside 1-65535 (or a number the URL cannot hold) before anything was sent.
  if (Is<ERangeError>(e) && !state.connected) return kExitMalformedUrl;
  return kExitOther;
}

int ReportFailure(const Exception& e, const RunState& state) {
  std::fflush(stdout);
  std::string message = e.Message();
  // The line that was not a status line says what the peer speaks instead.
  if (const auto* invalid = dynamic_cast<const EIdHTTPInvalidStatusLine*>(&e)) {
    message += ": " + invalid->StatusLine();
  }
  std::fprintf(stderr, "%s: %s\n", e.ClassName(), TerminalSafe(message, true).c_str());
  return ExitCodeFor(e, state);
}

int ReportRedirectLimit(TIdHTTP& http) {
  std::fflush(stdout);
  std::fprintf(stderr, "brixa-http: maximum redirects followed (%d), last Location: %s\n",
               http.RedirectMaximum() - 1, TerminalSafe(http.LastResponse().Location()).c_str());
  return kExitTooManyRedirects;
}

}  // namespace brixa::tool
