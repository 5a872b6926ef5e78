#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "http/http_request.h"
#include "http/http_response.h"

namespace brixa {

class TIdCustomHTTP;
class TIdURI;

// Raises EIdHTTPInvalidRequestText when `text` holds a CR, LF or NUL, which would let caller
// text split the request line or a header line.
void RequireSingleLine(std::string_view text);

// What the request cycle does after a final response.
enum TIdHTTPNextStep { nsFollowRedirect, nsRetryWithAuth, nsDone };

// The most of an error answer's body kept as EIdHTTPProtocolException's text. Error pages are
// a few KiB; a peer announcing gigabytes gets this much kept, and its connection closed.
inline constexpr std::int64_t kMaxErrorBodyBytes = 1024 * 1024;

// Status codes the caller of a request accepts without an exception.
using TIdIgnoreReplies = std::vector<std::int16_t>;

// One request/response exchange of a client: its request and response records and the steps
// that read and judge a response. The client owns one for all its requests and makes a second,
// short-lived one for a proxy tunnel's CONNECT.
class TIdHTTPProtocol {
 public:
  explicit TIdHTTPProtocol(TIdCustomHTTP& client);
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
  [[nodiscard]] TIdHTTPNextStep DecideNextStep(const TIdIgnoreReplies& ignoreReplies);

 private:
  [[nodiscard]] TIdHTTPNextStep HandleRedirect(std::int32_t code,
                                               const TIdIgnoreReplies& ignoreReplies);
  [[nodiscard]] bool AcceptChallenge(std::int32_t code, const TIdIgnoreReplies& ignoreReplies);
  [[nodiscard]] TIdHTTPNextStep FinishAccepted(std::int32_t code, bool retryInside);
  // Reads the body (its first kMaxErrorBodyBytes; a longer text costs the connection) and
  // raises it as EIdHTTPProtocolException, or drops it when the code is ignored. `waitMs` is
  // the body's wait limit.
  void RaiseProtocolError(std::int32_t code, std::int32_t waitMs,
                          const TIdIgnoreReplies& ignoreReplies);
  // Reads the body off the connection into nothing.
  void DiscardResponseBody(std::int32_t code, std::int32_t waitMs);
  // The answer ends with its header block: to HEAD, 1xx, 204, 304.
  [[nodiscard]] bool CannotHaveBody(std::int32_t code) const;

  TIdCustomHTTP& client_;
  std::unique_ptr<TIdHTTPRequest> request_;
  std::unique_ptr<TIdHTTPResponse> response_;
};

}  // namespace brixa
