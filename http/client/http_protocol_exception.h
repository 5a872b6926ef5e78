#pragma once
// The exceptions of the request cycle: refused status codes, protocol choice, caller text that
// would split lines, and malformed or oversized responses.

#include <cstdint>
#include <string>

#include "runtime/network_exception.h"
#include "transport/io/tcp_reply.h"

namespace brixa {

// An HTTP status the client does not accept. The message is the status line exactly as
// received, ReplyCode the status code, BodyText the response body decoded as text (UTF-8 when
// the Content-Type says so, else one character per byte).
class EIdHTTPProtocolException : public EIdReplyRFCError {
 public:
  EIdHTTPProtocolException(std::int32_t replyCode, std::string statusLine, std::string bodyText)
      : EIdReplyRFCError(static_cast<std::int16_t>(replyCode), std::move(statusLine)),
        replyCode_(replyCode),
        bodyText_(std::move(bodyText)) {}
  // The status code as a 32-bit number (ErrorCode keeps the command-reply width).
  [[nodiscard]] std::int32_t ReplyCode() const noexcept { return replyCode_; }
  [[nodiscard]] const std::string& BodyText() const noexcept { return bodyText_; }
  [[nodiscard]] const char* ClassName() const noexcept override {
    return "EIdHTTPProtocolException";
  }

 private:
  std::int32_t replyCode_;
  std::string bodyText_;
};

// A proxy's refusal of a CONNECT tunnel: any final status but 2xx, a 407 included once its
// challenge can no longer be answered. The connection to the proxy is closed; a redirect
// among these is never followed (its Location names no tunnel target).
class EIdHTTPTunnelRefused : public EIdHTTPProtocolException {
 public:
  using EIdHTTPProtocolException::EIdHTTPProtocolException;
  [[nodiscard]] const char* ClassName() const noexcept override { return "EIdHTTPTunnelRefused"; }
};

// The other failures of the request cycle.
BRIXA_DECLARE_ID_EXCEPTION(EIdUnknownProtocol, EIdException);
// A URL (the caller's or a redirect's) whose scheme is neither http nor https: nothing is sent,
// and no other scheme is ever fetched over HTTP.
BRIXA_DECLARE_ID_EXCEPTION(EIdUnsupportedProtocol, EIdUnknownProtocol);
BRIXA_DECLARE_ID_EXCEPTION(EIdIOHandlerPropInvalid, EIdException);
// Caller text (URL, method, header value) holding a character that would end a line.
BRIXA_DECLARE_ID_EXCEPTION(EIdHTTPInvalidRequestText, EIdException);

inline constexpr const char* RSHTTPInvalidStatusLine = "Invalid HTTP status line";

// A response that cannot be read as HTTP/1.x. The request ends with one of these and the
// connection that carried the response is closed before it leaves the request, so nothing that
// follows on that connection is ever taken for a later answer.
BRIXA_DECLARE_ID_EXCEPTION(EIdHTTPResponseError, EIdException);
// The first line of the answer is not "HTTP/1.<digit> <3 digits>[ <reason>]": the peer is not
// speaking HTTP/1.x, or bytes left over from an earlier exchange precede the status line.
class EIdHTTPInvalidStatusLine : public EIdHTTPResponseError {
 public:
  explicit EIdHTTPInvalidStatusLine(std::string statusLine)
      : EIdHTTPResponseError(RSHTTPInvalidStatusLine), statusLine_(std::move(statusLine)) {}
  // The line as received (at most the handler's line length), raw: escape it before showing it.
  [[nodiscard]] const std::string& StatusLine() const noexcept { return statusLine_; }
  [[nodiscard]] const char* ClassName() const noexcept override {
    return "EIdHTTPInvalidStatusLine";
  }

 private:
  std::string statusLine_;
};
// The peer closed the connection inside the header block, a counted body or a chunked body.
BRIXA_DECLARE_ID_EXCEPTION(EIdHTTPIncompleteResponse, EIdHTTPResponseError);
// A "Content-Length" that is not a run of decimal digits or does not fit in 63 bits.
BRIXA_DECLARE_ID_EXCEPTION(EIdHTTPInvalidContentLength, EIdHTTPResponseError);
// Two "Content-Length" values that differ (in separate lines or one comma list).
BRIXA_DECLARE_ID_EXCEPTION(EIdHTTPConflictingContentLength, EIdHTTPInvalidContentLength);
// A chunk-size line that is not a hexadecimal number (a sign, junk, nothing).
BRIXA_DECLARE_ID_EXCEPTION(EIdHTTPInvalidChunkSize, EIdHTTPResponseError);
// A chunk size that does not fit in 63 bits.
BRIXA_DECLARE_ID_EXCEPTION(EIdHTTPChunkTooLarge, EIdHTTPInvalidChunkSize);
// A header block (or chunked trailer) with more lines than the client's HeaderLineLimit, or
// more bytes than kMaxHeaderBlockBytes.
BRIXA_DECLARE_ID_EXCEPTION(EIdHTTPHeaderBlockTooLarge, EIdHTTPResponseError);
// A server that kept answering with interim 1xx responses instead of a final status.
BRIXA_DECLARE_ID_EXCEPTION(EIdHTTPTooManyInterimResponses, EIdHTTPResponseError);

inline constexpr const char* RSHTTPUnknownProtocol = "Unknown Protocol";
inline constexpr const char* RSHTTPUnsupportedProtocol = "Protocol not supported";
inline constexpr const char* RSIOHandlerPropInvalid = "IOHandler value is not valid";
inline constexpr const char* RSHTTPMethodRequiresVersion =
    "Request method requires HTTP version 1.1";
inline constexpr const char* RSHTTPChunkStarted = "Chunk Started";
inline constexpr const char* RSHTTPInvalidRequestText =
    "Request text holds a CR, LF or NUL character";
inline constexpr const char* RSHTTPChunkTooLarge = "Chunk size too large";
inline constexpr const char* RSHTTPTooManyInterimResponses = "Too many interim responses";
inline constexpr const char* RSHTTPIncompleteHeader =
    "Connection closed before the response header was complete";
inline constexpr const char* RSHTTPIncompleteBody =
    "Connection closed before the response body was complete";
inline constexpr const char* RSHTTPInvalidContentLength = "Invalid Content-Length value";
inline constexpr const char* RSHTTPConflictingContentLength = "Conflicting Content-Length values";
inline constexpr const char* RSHTTPInvalidChunkSize = "Invalid chunk size";
inline constexpr const char* RSHTTPHeaderBlockTooLarge = "Response header block too large";

}  // namespace brixa
