// One request/response exchange: the request head written after its caller text is checked,
// the response head read and judged, the body read or skipped.

#include "http/client/http_protocol.h"

#include <algorithm>

#include "http/body/response_body_reader.h"
#include "http/client/http.h"
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

}  // namespace brixa
