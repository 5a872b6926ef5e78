#pragma once
// TIdHTTPProtocol: one request / response exchange, and the judgement of each final response
// (redirect, authenticate, or done) that the client then applies.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "http/message/http_request.h"
#include "http/message/http_response.h"

namespace brixa {

class TIdAuthentication;
class TIdCustomHTTP;
class TIdURI;

// Raises EIdHTTPInvalidRequestText when `text` holds a CR, LF or NUL, which would let caller
// text split the request line or a header line.
void RequireSingleLine(std::string_view text);

// What the request cycle does after a final response.
enum TIdHTTPNextStep { nsFollowRedirect, nsRetryWithAuth, nsDone };

// The judgement of a final response, for the client to apply to its own state.
struct TIdHTTPOutcome {
  TIdHTTPNextStep step = nsDone;
  // The connection cannot carry another request whatever the response said: the application
  // stopped before the body, which is still in the connection.
  bool closeAfter = false;
};

// What the client decided about a redirect it was shown.
enum TIdRedirectVerdict {
  rvRefused,  // not followed: the answer is the response's error
  rvFollow,   // the request goes again, to the (possibly changed) location and method
  rvReport    // not followed, but the answer is the redirect itself, its location kept
};

// What an exchange needs of its client beyond the client's public face. Each call changes the
// client's per-request counters at the moment it happens, so they are right also when the
// exchange then ends in an exception.
class TIdHTTPProtocolClient {
 public:
  // Counts one more redirect of this request and lets the client (and its OnRedirect) judge
  // it; `location` and `method` may come back changed.
  [[nodiscard]] virtual TIdRedirectVerdict JudgeRedirect(std::string& location,
                                                         std::string& method) = 0;
  // Counts an attempt at the challenge of `response` (401 with `server`, else 407) and readies
  // the next request's answer to it; false when the attempts are spent or none can be given.
  [[nodiscard]] virtual bool AnswerChallenge(bool server, TIdHTTPRequest& request,
                                             TIdHTTPResponse& response) = 0;
  // Starts a connection-bound `scheme` over on a new connection, once per request, with that
  // request's attempts forgiven but this one; false when it already did, or when the scheme
  // has no first leg to send.
  [[nodiscard]] virtual bool RestartAuthExchange(bool server, TIdAuthentication& scheme) = 0;
  // Adds the client's cookies for `uri` to `request`.
  virtual void AddRequestCookies(TIdHTTPRequest& request, const TIdURI& uri) = 0;
  // Closes the connection and forgets what it had buffered.
  virtual void DropConnection() = 0;

 protected:
  ~TIdHTTPProtocolClient() = default;
};

// The most of an error answer's body kept as EIdHTTPProtocolException's text. Error pages are
// a few KiB; a peer announcing gigabytes gets this much kept, and its connection closed.
inline constexpr std::int64_t kMaxErrorBodyBytes = 1024 * 1024;

// The most of a body nobody reads (a redirect's, an answered challenge's, an error text that is
// not kept, an answer without a stream) read off its connection to keep the connection for the
// next request. Such bodies are a stub page: a few hundred bytes from nginx or Apache, a few KiB
// from IIS or an application server, tens of KiB for a verbose error page. Taking that much is
// cheaper than the round trips (and TLS handshake) of a new connection, and one or two receives
// take it. A longer body, or one that ends only with the close, costs its connection instead,
// and the request goes on at once: a server cannot make the client read what it does not want.
inline constexpr std::int64_t kMaxUnwantedBodyBytes = 64 * 1024;

// Status codes the caller of a request accepts without an exception.
using TIdIgnoreReplies = std::vector<std::int16_t>;

// One request/response exchange of a client: its request and response records and the steps
// that read and judge a response. The client owns one for all its requests and makes a second,
// short-lived one for a proxy tunnel's CONNECT.
class TIdHTTPProtocol {
 public:
  // `exchangeClient` is `client` seen through the calls that change its private state.
  TIdHTTPProtocol(TIdCustomHTTP& client, TIdHTTPProtocolClient& exchangeClient);
  TIdHTTPProtocol(const TIdHTTPProtocol&) = delete;
  TIdHTTPProtocol& operator=(const TIdHTTPProtocol&) = delete;
  ~TIdHTTPProtocol();

  [[nodiscard]] TIdHTTPRequest& Request() noexcept { return *request_; }
  [[nodiscard]] TIdHTTPResponse& Response() noexcept { return *response_; }

  // Writes the request line and the header block of Request() in one buffered send. With
  // `cookieUri`, the cookies the client's manager holds for it go into a "Cookie" line. Raises
  // EIdHTTPInvalidRequestText before sending anything when caller text would split a line; on
  // a failure while writing, the buffered bytes are dropped and the failure passes on.
  void WriteRequestHead(const TIdURI* cookieUri);

  // Reads one status line into Response(). Raises EIdHTTPInvalidStatusLine for a line that is
  // not "HTTP/1.<digit> <3 digits>[ <reason>]" (it stays in Response().StatusLine()), and what
  // ReadProtocolLine raises; a peer that closed before the line passes on as
  // EIdConnClosedGracefully.
  void ReadStatusLine();
  // Reads the header block after the status line into Response() and parses it. Raises
  // EIdHTTPHeaderBlockTooLarge past `lineLimit` lines (when positive) or past
  // kMaxHeaderBlockBytes with the status line, and EIdHTTPIncompleteResponse when the peer
  // closes inside the block (after parsing the lines that came). After either, the connection
  // is out of step.
  void ReadResponseHeaders(std::int32_t lineLimit);

  // Judges the response whose header block was just read: reads, drops or raises its body and
  // says what the request cycle does next. Raises EIdHTTPProtocolException for a status the
  // client does not accept unless its code is in `ignoreReplies`.
  [[nodiscard]] TIdHTTPOutcome DecideNextStep(const TIdIgnoreReplies& ignoreReplies);
  // Judges a proxy's answer to CONNECT (RFC 9110, 9.3.6): true when a 2xx opened the tunnel
  // (the bytes after its header block are the tunnel's); false after a 407 the client answered,
  // its body read off (or its connection closed), so the CONNECT goes again. Every other
  // answer, and a 407 whose challenge is refused or whose attempts are spent, raises
  // EIdHTTPProtocolException with its status; a Location is never followed.
  [[nodiscard]] bool JudgeTunnelAnswer();

 private:
  [[nodiscard]] TIdHTTPNextStep HandleRedirect(std::int32_t code,
                                               const TIdIgnoreReplies& ignoreReplies);
  [[nodiscard]] bool AcceptChallenge(std::int32_t code, const TIdIgnoreReplies& ignoreReplies);
  [[nodiscard]] TIdHTTPNextStep FinishAccepted(std::int32_t code, bool retryInside);
  // Reads the body (its first kMaxErrorBodyBytes; a longer text costs the connection) and
  // raises it as EIdHTTPProtocolException, or drops it when the code is ignored; with the
  // client's KeepErrorText off, the text is dropped too and the exception's is empty. `waitMs`
  // is the body's wait limit.
  void RaiseProtocolError(std::int32_t code, std::int32_t waitMs,
                          const TIdIgnoreReplies& ignoreReplies);
  // Reads the body off the connection into nothing when it ends within kMaxUnwantedBodyBytes;
  // otherwise closes the connection, having read no more than that.
  void DiscardResponseBody(std::int32_t code, std::int32_t waitMs);
  // The answer ends with its header block: to HEAD, 1xx, 204, 304.
  [[nodiscard]] bool CannotHaveBody(std::int32_t code) const;

  TIdCustomHTTP& client_;
  TIdHTTPProtocolClient& exchangeClient_;
  std::unique_ptr<TIdHTTPRequest> request_;
  std::unique_ptr<TIdHTTPResponse> response_;
};

}  // namespace brixa
