// One request/response exchange: the request head written after its caller text is checked,
// the response head read, and the status handling: what a final response leads to (success, a
// followed redirect, an answered challenge or EIdHTTPProtocolException) and what becomes of
// its body.

#include "http/client/http_protocol.h"

#include <algorithm>

#include "http/body/discard_stream.h"
#include "http/body/response_body_reader.h"
#include "http/client/http.h"
#include "runtime/text/encoding.h"
#include "runtime/text/header_value.h"
#include "runtime/text/text.h"
#include "transport/io/io_handler.h"

namespace brixa {

namespace {

const char* const kVersionText[] = {"1.0", "1.1"};

// Caller text that ends up inside the request head must not be able to end a line early:
// a CR or LF would start a header (or a second request) of the caller's making.
bool HoldsLineBreak(std::string_view text) {
  // One pass over the text: a set search would scan the set once per character.
  return std::any_of(text.begin(), text.end(),
                     [](char ch) { return ch == '\r' || ch == '\n' || ch == '\0'; });
}

// Every caller-set text that the header writer turns into header lines. The writer folds a
// value at any CR LF it holds, so a line break in a value would come out as a line of the
// caller's making; the check runs on the values, before they are written.
void RequireSingleLineFields(const TIdHTTPRequest& request, const TIdProxyConnectionInfo& proxy) {
  request.CheckOneLineFields(RequireSingleLine);
  RequireSingleLine(proxy.ProxyUsername());
  for (const std::string& line : request.CustomHeaders().Lines()) RequireSingleLine(line);
}

// Redirect bodies get a wait limit (a redirect the server sends without its announced body
// costs at most this, and the connection); everything else is read as framed.
constexpr std::int32_t kRedirectBodyWaitMs = 5000;
constexpr std::int32_t kNoWaitLimit = -1;

bool IsIgnored(std::int32_t code, const TIdIgnoreReplies& ignoreReplies) {
  const auto code16 = static_cast<std::int16_t>(code);
  return std::find(ignoreReplies.begin(), ignoreReplies.end(), code16) != ignoreReplies.end();
}

// Keeps the first kMaxErrorBodyBytes of an error text. A longer one is not read to its end:
// the write that would pass the cap raises ErrorTextCapReached, and the connection goes.
struct ErrorTextCapReached {};

class CappedErrorText : public TStream {
 public:
  std::int64_t Read(void* /*buffer*/, std::int64_t /*count*/) override { return 0; }
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    if (count > kMaxErrorBodyBytes - text_.Size()) {
      text_.Write(buffer, kMaxErrorBodyBytes - text_.Size());
      throw ErrorTextCapReached();
    }
    return text_.Write(buffer, count);
  }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    return text_.Seek(offset, origin);
  }
  void SetSize(std::int64_t size) override { text_.SetSize(size); }
  [[nodiscard]] std::int64_t Size() override { return text_.Size(); }
  [[nodiscard]] TMemoryStream& Text() noexcept { return text_; }

 private:
  TMemoryStream text_;
};

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

void RequireSingleLine(std::string_view text) {
  if (HoldsLineBreak(text)) throw EIdHTTPInvalidRequestText(RSHTTPInvalidRequestText);
}

TIdHTTPProtocol::TIdHTTPProtocol(TIdCustomHTTP& client, TIdHTTPProtocolClient& exchangeClient)
    : client_(client),
      exchangeClient_(exchangeClient),
      request_(std::make_unique<TIdHTTPRequest>()),
      response_(std::make_unique<TIdHTTPResponse>(client)) {}

TIdHTTPProtocol::~TIdHTTPProtocol() = default;

void TIdHTTPProtocol::WriteRequestHead(const TIdURI* cookieUri) {
  TIdHTTPRequest& request = *request_;
  RequireSingleLineFields(request, client_.ProxyParams());
  request.WriteFields();
  // Inside a CONNECT tunnel the request goes to the origin: the proxy's credentials belong to
  // the CONNECT alone.
  if (request.ConnectionKind() != ckTLSProxy || request.RequestMethod() == "CONNECT") {
    client_.ProxyParams().WriteFields(request.HeaderLines(), request.AuthRequest());
  }
  if (cookieUri != nullptr && client_.CookieManager() != nullptr) {
    exchangeClient_.AddRequestCookies(request, *cookieUri);
  }
  const std::string requestLine = request.RequestMethod() + " " + request.URL() + " HTTP/" +
                                  kVersionText[client_.ProtocolVersion()];
  RequireSingleLine(requestLine);
  const TIdHeaderList& lines = request.HeaderLines();
  for (const std::string& line : lines.Lines()) RequireSingleLine(line);

  TIdIOHandler& io = *client_.IOHandler();
  io.OpenWriteBuffer();
  try {
    io.WriteLine(requestLine);
    for (const std::string& line : lines.Lines()) {
      if (!line.empty()) io.WriteLine(line);
    }
    io.WriteLine("");
    io.CloseWriteBuffer();
  } catch (...) {
    io.CancelWriteBuffer();
    throw;
  }
}

void TIdHTTPProtocol::ReadStatusLine() {
  TIdHTTPResponse& response = *response_;
  response.SetStatusLine(ReadProtocolLine(*client_.IOHandler()));
  if (!IsHTTP1StatusLine(response.StatusLine())) {
    throw EIdHTTPInvalidStatusLine(response.StatusLine());
  }
}

void TIdHTTPProtocol::ReadResponseHeaders(std::int32_t lineLimit) {
  TIdHTTPResponse& response = *response_;
  TIdHeaderList& lines = response.HeaderLines();
  lines.Clear();
  const auto statusLineBytes = static_cast<std::int32_t>(
      std::min<std::size_t>(response.StatusLine().size() + 2, kMaxHeaderBlockBytes));
  bool cut = false;
  try {
    ReadHeaderBlock(*client_.IOHandler(), lines, lineLimit, statusLineBytes);
  } catch (const EIdConnClosedGracefully&) {
    // Whatever framing the missing lines held is unknown: no body can be read after this.
    cut = true;
  }
  response.ReadFields();
  if (cut) throw EIdHTTPIncompleteResponse(RSHTTPIncompleteHeader);
}

// --- Status handling ----------------------------------------------------------------------------

TIdHTTPOutcome TIdHTTPProtocol::DecideNextStep(const TIdIgnoreReplies& ignoreReplies) {
  TIdHTTPResponse& response = *response_;
  if (client_.OnHeadersAvailable) {
    bool proceed = true;
    client_.OnHeadersAvailable(&client_, response.HeaderLines(), proceed);
    if (!proceed) return {.step = nsDone, .closeAfter = true};
  }
  const std::int32_t code = response.StatusCode();
  const std::int32_t statusClass = code / 100;  // -1 (unreadable) is class 0
  if (!response.Location().empty()) return {.step = HandleRedirect(code, ignoreReplies)};
  if (statusClass == 3 && code != 304) {
    // A redirect that names no target cannot be followed; going to "" would fetch the
    // directory of the current target instead.
    RaiseProtocolError(code, kNoWaitLimit, ignoreReplies);
    return {};
  }
  if (statusClass == 2) return {.step = FinishAccepted(code, false)};
  if (code == 401 || code == 407) {
    if (!AcceptChallenge(code, ignoreReplies)) return {};
    return {.step = FinishAccepted(code, client_.HTTPOptions().Contains(hoInProcessAuth))};
  }
  RaiseProtocolError(code, kNoWaitLimit, ignoreReplies);
  return {};
}

bool TIdHTTPProtocol::JudgeTunnelAnswer() {
  const std::int32_t code = response_->StatusCode();
  if (code / 100 == 2) return true;
  if (code == 407 && AcceptChallenge(code, {})) {
    DiscardResponseBody(code, kNoWaitLimit);
    return false;
  }
  RaiseProtocolError(code, kNoWaitLimit, {});
  return false;  // not reached: nothing is ignored, so the error is raised
}

TIdHTTPNextStep TIdHTTPProtocol::HandleRedirect(std::int32_t code,
                                                const TIdIgnoreReplies& ignoreReplies) {
  TIdHTTPResponse& response = *response_;
  TIdHTTPRequest& request = *request_;
  std::string location = response.Location();
  std::string method = request.RequestMethod();
  const TIdRedirectVerdict verdict = exchangeClient_.JudgeRedirect(location, method);
  if (verdict == rvRefused) {
    RaiseProtocolError(code, kNoWaitLimit, ignoreReplies);
    return nsDone;
  }
  TIdHTTPNextStep step = nsDone;
  if (verdict == rvFollow) {
    request.SetURL(location);
    request.SetRequestMethod(method);
    step = nsFollowRedirect;
  } else {
    response.SetLocation(location);
  }
  if (client_.IsConnected()) DiscardResponseBody(code, kRedirectBodyWaitMs);
  return step;
}

bool TIdHTTPProtocol::AcceptChallenge(std::int32_t code, const TIdIgnoreReplies& ignoreReplies) {
  const bool server = code == 401;
  bool accepted = exchangeClient_.AnswerChallenge(server, *request_, *response_);
  TIdAuthentication* scheme = server ? request_->AuthScheme() : client_.ProxyParams().AuthScheme();
  // A scheme whose legs are bound to one connection cannot answer a challenge on the next one.
  // When the peer closes after its challenge, the exchange starts over on a new connection,
  // once; a second close ends it with the status.
  if (accepted && scheme != nullptr && scheme->NeedsSameConnection() && !response_->StaysOpen()) {
    accepted = exchangeClient_.RestartAuthExchange(server, *scheme);
  }
  if (accepted) return true;
  if (scheme != nullptr) scheme->Restart();
  RaiseProtocolError(code, kNoWaitLimit, ignoreReplies);
  return false;
}

TIdHTTPNextStep TIdHTTPProtocol::FinishAccepted(std::int32_t code, bool retryInside) {
  if (retryInside) {
    DiscardResponseBody(code, kNoWaitLimit);
    return nsRetryWithAuth;
  }
  if (response_->BodyStream() == nullptr || CannotHaveBody(code)) {
    // Nobody wants the body, but it must leave the connection before the next response.
    DiscardResponseBody(code, kNoWaitLimit);
  } else {
    client_.ReadResponseBody(*response_, kNoWaitLimit, true);
  }
  return nsDone;
}

void TIdHTTPProtocol::RaiseProtocolError(std::int32_t code, std::int32_t waitMs,
                                         const TIdIgnoreReplies& ignoreReplies) {
  const bool ignored = IsIgnored(code, ignoreReplies);
  if (ignored || !client_.KeepErrorText()) {
    // Nobody will see the text.
    DiscardResponseBody(code, waitMs);
    if (ignored) return;
    throw EIdHTTPProtocolException(code, response_->StatusLine(), "");
  }
  CappedErrorText body;
  if (!CannotHaveBody(code)) {
    BodyStreamSwap swap(*response_, &body);
    try {
      client_.ReadResponseBody(*response_, waitMs);
    } catch (const ErrorTextCapReached&) {
      exchangeClient_.DropConnection();  // the rest of the text is still on its way
    }
  }
  throw EIdHTTPProtocolException(code, response_->StatusLine(),
                                 BodyText(body.Text(), response_->ContentType()));
}

// Only a short framed body is worth reading to keep the connection; nothing in it is decoded.
// A body with both framings is not read at all: its connection goes anyway.
void TIdHTTPProtocol::DiscardResponseBody(std::int32_t code, std::int32_t waitMs) {
  TIdIOHandler* const io = client_.IOHandler();
  if (CannotHaveBody(code) || io == nullptr) return;
  const TIdBodyFrame frame = BodyFrameOf(response_->HeaderLines());
  TIdDiscardStream discard;
  if (!frame.closeAfter && ReadFramedBody(*io, discard, frame, waitMs, client_.HeaderLineLimit(),
                                          kMaxUnwantedBodyBytes) == TIdBodyEnd::kComplete) {
    return;
  }
  exchangeClient_.DropConnection();
}

// RFC 9112, 6.3 (1): an answer to HEAD, and any 1xx, 204 or 304, ends with its header block,
// whatever its length or transfer fields announce. Nothing is waited for: bytes a server sends
// anyway are found before the connection carries another request.
bool TIdHTTPProtocol::CannotHaveBody(std::int32_t code) const {
  return request_->RequestMethod() == "HEAD" || code / 100 == 1 || code == 204 || code == 304;
}

}  // namespace brixa
