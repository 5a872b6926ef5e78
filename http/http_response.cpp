#include "http/http_response.h"

#include <charconv>

#include "http/http.h"
#include "runtime/text.h"

namespace brixa {
namespace {

// "HTTP/1.1": the version digits are characters 6 to 8 of the status line.
constexpr std::size_t kVersionOffset = 5;
constexpr std::size_t kVersionLength = 3;

}  // namespace

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
  if (statusLine_.size() >= kVersionOffset + kVersionLength) {
    const std::string_view version =
        std::string_view(statusLine_).substr(kVersionOffset, kVersionLength);
    if (SameTextNoCase(version, "1.0")) {
      statusVersion_ = pv1_0;
    } else if (SameTextNoCase(version, "1.1")) {
      statusVersion_ = pv1_1;
    }
  }
  if (!client_.IsConnected()) return false;
  const std::string connection = Trim(Connection());
  const std::string proxyConnection = Trim(ProxyConnection());
  if (client_.ProtocolVersion() == pv1_0) {
    return SameTextNoCase(connection, "KEEP-ALIVE") ||
           SameTextNoCase(proxyConnection, "KEEP-ALIVE");
  }
  return !SameTextNoCase(connection, "CLOSE") && !SameTextNoCase(proxyConnection, "CLOSE");
}

}  // namespace brixa
