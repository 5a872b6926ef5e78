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

  // Reads the header block after the status line into Response() and parses it. At most
  // `lineLimit` lines are read when it is positive; the rest stay in the connection. A peer
  // that closes after the first header line ends the block (the client disconnects); a close
  // before it passes on as EIdConnClosedGracefully.
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
  // Reads the body into memory and raises it as EIdHTTPProtocolException, or drops it when the
  // code is ignored. `waitMs` is the body's wait limit.
  void RaiseProtocolError(std::int32_t code, std::int32_t waitMs,
                          const TIdIgnoreReplies& ignoreReplies);
  // Reads the body off the connection into nothing.
  void DiscardResponseBody(std::int32_t waitMs);
  // A response that cannot carry a body (to HEAD, 204, 304) and announces chunked transfer:
  // there is no chunk to wait for.
  [[nodiscard]] bool BodylessChunked(std::int32_t code);
  // `waitMs`, or the short look when the answer cannot carry a body (HEAD, 1xx, 204, 304).
  [[nodiscard]] std::int32_t BodyWait(std::int32_t code, std::int32_t waitMs) const;

  TIdCustomHTTP& client_;
  std::unique_ptr<TIdHTTPRequest> request_;
  std::unique_ptr<TIdHTTPResponse> response_;
};

}  // namespace brixa
