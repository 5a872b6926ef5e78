// The status handling of the request cycle: what a final response leads to (success, a
// followed redirect, an answered challenge or EIdHTTPProtocolException) and what becomes of
// its body.
#include <algorithm>

#include "http/discard_stream.h"
#include "http/http.h"
#include "http/http_protocol.h"
#include "runtime/encoding.h"
#include "runtime/header_value.h"
#include "runtime/text.h"

namespace brixa {
namespace {

// Wait limits for bodies that servers commonly leave out: responses to HEAD, 204, 304 and 1xx
// get a short look; redirect bodies a longer one; everything else is read as framed.
constexpr std::int32_t kBodylessWaitMs = 100;
constexpr std::int32_t kRedirectBodyWaitMs = 5000;
constexpr std::int32_t kNoWaitLimit = -1;

bool IsIgnored(std::int32_t code, const TIdIgnoreReplies& ignoreReplies) {
  const auto code16 = static_cast<std::int16_t>(code);
  return std::find(ignoreReplies.begin(), ignoreReplies.end(), code16) != ignoreReplies.end();
}

bool IsChunked(const TIdHTTPResponse& response) {
  return LowerCase(response.HeaderLines().HeaderValue("Transfer-Encoding")).find("chunked") !=
         std::string::npos;
}

// Puts `replacement` in place of the response's body stream for the life of the object.
class BodyStreamSwap {
 public:
  BodyStreamSwap(TIdHTTPResponse& response, TStream* replacement)
      : response_(response), saved_(response.BodyStream()) {
    response_.SetBodyStream(replacement);
  }
  ~BodyStreamSwap() { response_.SetBodyStream(saved_); }
  BodyStreamSwap(const BodyStreamSwap&) = delete;
  BodyStreamSwap& operator=(const BodyStreamSwap&) = delete;

 private:
  TIdHTTPResponse& response_;
  TStream* saved_;
};

std::string BodyText(TMemoryStream& body, const std::string& contentType) {
  const auto* first = body.Memory();
  const TIdByteArray bytes(first, first + body.Size());
  return BytesToText(bytes, CharsetEncodingOf(contentType));
}

}  // namespace

TIdHTTPNextStep TIdHTTPProtocol::DecideNextStep(const TIdIgnoreReplies& ignoreReplies) {
  TIdHTTPResponse& response = *response_;
  if (client_.OnHeadersAvailable) {
    bool proceed = true;
    client_.OnHeadersAvailable(&client_, response.HeaderLines(), proceed);
    if (!proceed) {
      client_.closeAfterRequest_ = true;  // the body is still in the connection
      return nsDone;
    }
  }
  const std::int32_t code = response.StatusCode();
  const std::int32_t statusClass = code / 100;  // -1 (unreadable) is class 0
  if (!response.Location().empty()) return HandleRedirect(code, ignoreReplies);
  if (statusClass == 3 && code != 304) {
    // A redirect that names no target cannot be followed; going to "" would fetch the
    // directory of the current target instead.
    RaiseProtocolError(code, kNoWaitLimit, ignoreReplies);
    return nsDone;
  }
  if (statusClass == 2) return FinishAccepted(code, false);
  if (code == 401 || code == 407) {
    if (!AcceptChallenge(code, ignoreReplies)) return nsDone;
    return FinishAccepted(code, client_.HTTPOptions().Contains(hoInProcessAuth));
  }
  RaiseProtocolError(code, kNoWaitLimit, ignoreReplies);
  return nsDone;
}

TIdHTTPNextStep TIdHTTPProtocol::HandleRedirect(std::int32_t code,
                                                const TIdIgnoreReplies& ignoreReplies) {
  TIdHTTPResponse& response = *response_;
  TIdHTTPRequest& request = *request_;
  ++client_.redirectsSeen_;
  std::string location = response.Location();
  std::string method = request.RequestMethod();
  if (!client_.ConfirmRedirect(location, method, client_.redirectsSeen_)) {
    RaiseProtocolError(code, kNoWaitLimit, ignoreReplies);
    return nsDone;
  }
  // A HEAD answer has no body to wait seconds for.
  const std::int32_t waitMs =
      request.RequestMethod() == "HEAD" ? kBodylessWaitMs : kRedirectBodyWaitMs;
  TIdHTTPNextStep step = nsDone;
  if (client_.HandleRedirects() && client_.redirectsSeen_ < client_.RedirectMaximum()) {
    request.SetURL(location);
    request.SetRequestMethod(method);
    step = nsFollowRedirect;
  } else {
    response.SetLocation(location);
  }
  if (client_.IsConnected() && !BodylessChunked(code)) DiscardResponseBody(waitMs);
  return step;
}

bool TIdHTTPProtocol::AcceptChallenge(std::int32_t code, const TIdIgnoreReplies& ignoreReplies) {
  const bool server = code == 401;
  const std::int32_t attempts = server ? client_.serverAuthAttempts_ : client_.proxyAuthAttempts_;
  const bool accepted = attempts < client_.MaxAuthRetries() &&
                        (server ? client_.AuthorizeServer(*request_, *response_)
                                : client_.AuthorizeProxy(*request_, *response_));
  if (accepted) return true;
  TIdAuthentication* scheme = server ? request_->AuthScheme() : client_.ProxyParams().AuthScheme();
  if (scheme != nullptr) scheme->Restart();
  RaiseProtocolError(code, kNoWaitLimit, ignoreReplies);
  return false;
}

TIdHTTPNextStep TIdHTTPProtocol::FinishAccepted(std::int32_t code, bool retryInside) {
  if (retryInside) {
    DiscardResponseBody(BodyWait(code, kNoWaitLimit));
    return nsRetryWithAuth;
  }
  if (request_->RequestMethod() == "HEAD" || code == 204) {
    if (!BodylessChunked(code)) DiscardResponseBody(kBodylessWaitMs);
  } else if (response_->BodyStream() == nullptr) {
    // Nobody wants the body, but it must leave the connection before the next response.
    DiscardResponseBody(kNoWaitLimit);
  } else {
    client_.ReadResponseBody(*response_, kNoWaitLimit, true);
  }
  return nsDone;
}

void TIdHTTPProtocol::RaiseProtocolError(std::int32_t code, std::int32_t waitMs,
                                         const TIdIgnoreReplies& ignoreReplies) {
  TMemoryStream body;
  {
    BodyStreamSwap swap(*response_, &body);
    if (!BodylessChunked(code)) client_.ReadResponseBody(*response_, BodyWait(code, waitMs));
  }
  if (IsIgnored(code, ignoreReplies)) return;
  throw EIdHTTPProtocolException(code, response_->StatusLine(),
                                 BodyText(body, response_->ContentType()));
}

void TIdHTTPProtocol::DiscardResponseBody(std::int32_t waitMs) {
  TIdDiscardStream discard;
  BodyStreamSwap swap(*response_, &discard);
  client_.ReadResponseBody(*response_, waitMs);
}

// An answer to HEAD never has a body, whatever its length field announces (an error page's
// length included): waiting for the announced bytes would block until the server gives up on
// the connection.
std::int32_t TIdHTTPProtocol::BodyWait(std::int32_t code, std::int32_t waitMs) const {
  const bool bodyless =
      request_->RequestMethod() == "HEAD" || code / 100 == 1 || code == 204 || code == 304;
  return bodyless ? kBodylessWaitMs : waitMs;
}

bool TIdHTTPProtocol::BodylessChunked(std::int32_t code) {
  const bool bodyless = request_->RequestMethod() == "HEAD" || code == 204 || code == 304;
  return bodyless && IsChunked(*response_);
}

}  // namespace brixa
