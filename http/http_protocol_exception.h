#pragma once

#include <cstdint>
#include <string>

#include "runtime/exception.h"
#include "transport/tcp_reply.h"

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

// The other failures of the request cycle.
BRIXA_DECLARE_ID_EXCEPTION(EIdUnknownProtocol, EIdException);
BRIXA_DECLARE_ID_EXCEPTION(EIdIOHandlerPropInvalid, EIdException);
// Caller text (URL, method, header value) holding a character that would end a line.
BRIXA_DECLARE_ID_EXCEPTION(EIdHTTPInvalidRequestText, EIdException);
// A chunk-size line announcing more than the client reads in one chunk.
BRIXA_DECLARE_ID_EXCEPTION(EIdHTTPChunkTooLarge, EIdException);
// A server that kept answering with interim 100 responses instead of a final status.
BRIXA_DECLARE_ID_EXCEPTION(EIdHTTPTooManyInterimResponses, EIdException);

inline constexpr const char* RSHTTPUnknownProtocol = "Unknown Protocol";
inline constexpr const char* RSIOHandlerPropInvalid = "IOHandler value is not valid";
inline constexpr const char* RSHTTPMethodRequiresVersion =
    "Request method requires HTTP version 1.1";
inline constexpr const char* RSHTTPChunkStarted = "Chunk Started";
inline constexpr const char* RSHTTPInvalidRequestText =
    "Request text holds a CR, LF or NUL character";
inline constexpr const char* RSHTTPChunkTooLarge = "Chunk size too large";
inline constexpr const char* RSHTTPTooManyInterimResponses = "Too many interim responses";

}  // namespace brixa
