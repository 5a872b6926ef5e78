#pragma once
// TIdHTTPResponse, the response record, and the status-line and list-token helpers it is read
// with.

#include <cstdint>
#include <string>
#include <string_view>

#include "http/message/response_header_info.h"
#include "platform/core/stream.h"

namespace brixa {

class TIdCustomHTTP;

enum TIdHTTPProtocolVersion { pv1_0, pv1_1 };

// The status code of a status line: the first word after the protocol word, read as a decimal
// number; -1 when there is no such word or it is not a number ("HTTP/1.1 404 Not Found" gives
// 404, "HTTP/1.1" and "HTTP/1.1 OK" give -1).
[[nodiscard]] std::int32_t StatusCodeOf(std::string_view statusLine);

// Whether `statusLine` is an HTTP/1.x status line (RFC 9112, 4): "HTTP/1.", one digit, one
// space, three digits, and nothing more or one space and a reason phrase. Anything else is
// another protocol, or bytes of an earlier exchange in front of the line.
[[nodiscard]] bool IsHTTP1StatusLine(std::string_view statusLine) noexcept;

// Whether the comma-separated list `value` holds `token`, ignoring case and blanks
// ("keep-alive, Upgrade" holds "upgrade").
[[nodiscard]] bool HasListToken(std::string_view value, std::string_view token);

// The response record of the HTTP client. Fields are replaced by every status line and header
// block the client reads; StatusCode and StaysOpen are worked out afresh on every read.
class TIdHTTPResponse : public TIdResponseHeaderInfo {
 public:
  // `client` is the client whose connection and protocol version decide StaysOpen; it
  // outlives the record.
  explicit TIdHTTPResponse(TIdCustomHTTP& client) : client_(client) {}
  [[nodiscard]] const char* ClassName() const noexcept override { return "TIdHTTPResponse"; }

  [[nodiscard]] const std::string& StatusLine() const noexcept { return statusLine_; }
  void SetStatusLine(std::string value) { statusLine_ = std::move(value); }
  // Computed from StatusLine on every read (and stored); -1 when no number can be read.
  [[nodiscard]] std::int32_t StatusCode();
  // Whether the connection may be used for the next request. Reading it takes the version of
  // the status line into StatusVersion (1.0, or 1.1 for any later minor version), lets the
  // connection notice a peer that closed, and then applies the keep-alive rule (RFC 9112, 9.3):
  // "close" in "Connection" (or the proxy form) always closes; when the response or the
  // client's ProtocolVersion is 1.0, only "keep-alive" there keeps the connection.
  [[nodiscard]] bool StaysOpen();
  // The stream that receives the body, borrowed; no body is read when it is null.
  [[nodiscard]] TStream* BodyStream() const noexcept { return bodyStream_; }
  void SetBodyStream(TStream* value) noexcept { bodyStream_ = value; }
  [[nodiscard]] TIdHTTPProtocolVersion StatusVersion() const noexcept { return statusVersion_; }

 private:
  TIdCustomHTTP& client_;
  std::string statusLine_;
  std::int32_t statusCode_ = -1;
  TStream* bodyStream_ = nullptr;
  TIdHTTPProtocolVersion statusVersion_ = pv1_1;
};

}  // namespace brixa
