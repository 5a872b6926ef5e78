// Status-line checks, the status code, and whether the connection stays open after a response.

#include "http/message/http_response.h"

#include <charconv>

#include "http/client/http.h"
#include "runtime/text/text.h"

namespace brixa {
namespace {

// "HTTP/1.1 200 OK": the protocol name and major version, the minor digit, the status code.
constexpr std::string_view kHTTP1Prefix = "HTTP/1.";
constexpr std::size_t kMinorOffset = 7;
constexpr std::size_t kCodeOffset = 9;
constexpr std::size_t kCodeEnd = 12;

}  // namespace

bool IsHTTP1StatusLine(std::string_view statusLine) noexcept {
  if (statusLine.size() < kCodeEnd || !statusLine.starts_with(kHTTP1Prefix)) return false;
  if (!IsDigit(statusLine[kMinorOffset]) || statusLine[kMinorOffset + 1] != ' ') return false;
  for (std::size_t i = kCodeOffset; i < kCodeEnd; ++i) {
    if (!IsDigit(statusLine[i])) return false;
  }
  return statusLine.size() == kCodeEnd || statusLine[kCodeEnd] == ' ';
}

bool HasListToken(std::string_view value, std::string_view token) {
  while (!value.empty()) {
    const std::size_t comma = value.find(',');
    if (SameTextNoCase(Trim(value.substr(0, comma)), token)) return true;
    if (comma == std::string_view::npos) break;
    value.remove_prefix(comma + 1);
  }
  return false;
}

std::int32_t StatusCodeOf(std::string_view statusLine) {
  const std::size_t space = statusLine.find(' ');
  if (space == std::string_view::npos) return -1;
  std::string rest = Trim(statusLine.substr(space + 1));
  const std::string code = TakeUpTo(rest, " ");
  // Decimal only: the runtime conversion would also take "$1F" or "0x1F".
  std::int32_t value = 0;
  const char* end = code.data() + code.size();
  const auto [stop, error] = std::from_chars(code.data(), end, value);
  if (code.empty() || error != std::errc() || stop != end) return -1;
  return value;
}

std::int32_t TIdHTTPResponse::StatusCode() {
  statusCode_ = StatusCodeOf(statusLine_);
  return statusCode_;
}

bool TIdHTTPResponse::StaysOpen() {
  if (statusLine_.size() > kMinorOffset && statusLine_.starts_with(kHTTP1Prefix) &&
      IsDigit(statusLine_[kMinorOffset])) {
    statusVersion_ = statusLine_[kMinorOffset] == '0' ? pv1_0 : pv1_1;
  }
  if (!client_.IsConnected()) return false;
  if (HasListToken(Connection(), "close") || HasListToken(ProxyConnection(), "close")) {
    return false;
  }
  if (statusVersion_ == pv1_0 || client_.ProtocolVersion() == pv1_0) {
    return HasListToken(Connection(), "keep-alive") ||
           HasListToken(ProxyConnection(), "keep-alive");
  }
  return true;
}

}  // namespace brixa
