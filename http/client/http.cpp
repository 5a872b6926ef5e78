// The client's request cycle: URL checks, choosing and opening the connection (direct, TLS, proxy,
// tunnel), writing the request, and applying each response's outcome.

#include "http/client/http.h"

#include <limits>

#include "http/body/response_body_reader.h"
#include "http/client/http_exceptions.h"
#include "runtime/text/header_value.h"
#include "runtime/text/ip_text.h"
#include "runtime/text/text.h"
#include "transport/io/io_handler.h"
#include "transport/socket/stack_exceptions.h"
#include "transport/tls/ssl_exceptions.h"
#include "transport/tls/ssl_io_handler.h"

namespace brixa {
namespace {

constexpr std::int64_t kMaxStartPosition = std::numeric_limits<std::int32_t>::max();

TIdSSLIOHandlerSocketBase* TlsHandlerOf(TIdIOHandler* handler) {
  return dynamic_cast<TIdSSLIOHandlerSocketBase*>(handler);
}

bool IsOneOfNoCase(std::string_view text, std::initializer_list<std::string_view> words) {
  for (const auto word : words) {
    if (SameTextNoCase(text, word)) return true;
  }
  return false;
}

// The port of a URL as a number: decimal digits only, 1 to 65535. Anything else would
// otherwise be read as some other port (or as 80) and reach a server nobody named.
std::string ValidPortText(const std::string& portText) {
  const std::int32_t port = ParsePortNumber(portText);
  if (port < 0) throw EIdMalformedURL(RSURIInvalidPort);
  return std::to_string(port);
}

// A host goes into the "Host" line as it stands: a blank or control character there would be
// a malformed request of the server's (or a Location's) making.
void RequirePlainHost(const std::string& host) {
  for (const char ch : host) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte <= 0x20 || byte == 0x7F) throw EIdMalformedURL(RSURIInvalidHost);
  }
}

// "Host" value: the host, and ":" with the port unless it is 80. An IPv6 literal is written in
// brackets (RFC 9110, 7.2), or the colons of the address could not be told from the port's.
std::string HostHeaderValue(const TIdURI& uri) {
  const std::string host =
      uri.Host().find(':') != std::string::npos ? "[" + uri.Host() + "]" : uri.Host();
  return uri.PortText() == std::to_string(kHttpDefaultPort) ? host : host + ":" + uri.PortText();
}

}  // namespace

TIdCustomHTTP::TIdCustomHTTP(TComponent* owner)
    : TIdTCPClientCustom(owner),
      protocol_(
          std::make_unique<TIdHTTPProtocol>(*this, static_cast<TIdHTTPProtocolClient&>(*this))),
      currentURI_(std::make_unique<TIdURI>()),
      proxyParams_(std::make_unique<TIdProxyConnectionInfo>()) {}

TIdCustomHTTP::~TIdCustomHTTP() {
  FreeOwnCookieManager();
}

void TIdCustomHTTP::Head(const std::string& AURL) {
  PerformRequest("HEAD", AURL, nullptr, nullptr, {});
}

void TIdCustomHTTP::Get(const std::string& AURL, TStream* AResponseContent) {
  Get(AURL, AResponseContent, {});
}

void TIdCustomHTTP::Get(const std::string& AURL, TStream* AResponseContent,
                        const TIdIgnoreReplies& AIgnoreReplies) {
  Require(AResponseContent != nullptr, "Get needs a response stream");
  PerformRequest("GET", AURL, nullptr, AResponseContent, AIgnoreReplies);
}

void TIdCustomHTTP::PerformRequest(const std::string& AMethod, const std::string& AURL,
                                   TStream* ASource, TStream* AResponseContent,
                                   const TIdIgnoreReplies& AIgnoreReplies) {
  redirectsSeen_ = 0;
  serverAuthAttempts_ = 0;
  proxyAuthAttempts_ = 0;
  authRestarted_ = false;
  closeAfterRequest_ = false;
  RequireSingleLine(AMethod);
  RequireSingleLine(AURL);
  const std::int64_t start = AResponseContent != nullptr ? AResponseContent->Position() : 0;
  if (start > kMaxStartPosition) throw ERangeError(RSRangeError);
  Request().SetURL(AURL);
  Request().SetRequestMethod(AMethod);
  Request().SetBodySource(ASource);
  LastResponse().SetBodyStream(AResponseContent);
  DropUncleanConnection();
  try {
    RunRequestLoop(AURL, AResponseContent, start, AIgnoreReplies);
  } catch (const EIdHTTPProtocolException&) {
    // An answer the caller does not accept, read to its end: the connection is in step.
    CloseAfterRequest();
    throw;
  } catch (...) {
    // Whatever failed (a read, the framing, the caller's stream, an event handler), the rest of
    // the answer may still be on its way: nothing on this connection can be trusted again.
    DropConnection();
    throw;
  }
  CloseAfterRequest();
}

void TIdCustomHTTP::RunRequestLoop(const std::string& /*url*/, TStream* responseContent,
                                   std::int64_t start, const TIdIgnoreReplies& ignoreReplies) {
  bool redirected = false;
  try {
    while (true) {
      MergeRequestURL(!redirected);
      BindCredentialsToOrigin(!redirected);
      if (TIdSSLIOHandlerSocketBase* tls = TlsHandlerOf(IOHandler())) {
        tls->SetCheckedURI(CurrentURI().URI());
      }
      SendAndReadHead(*protocol_);
      switch (TakeNextStep(*protocol_, ignoreReplies)) {
        case nsFollowRedirect:
          if (responseContent != nullptr) {
            responseContent->SetPosition(start);
            responseContent->SetSize(start);
          }
          serverAuthAttempts_ = 0;
          proxyAuthAttempts_ = 0;
          redirected = true;
          break;
        case nsRetryWithAuth:
          // The target that asked for credentials, which after a redirect is not the URL the
          // caller gave.
          Request().SetURL(CurrentURI().URI());
          break;
        case nsDone:
          RestoreWithheldAuthentication();
          return;
      }
    }
  } catch (...) {
    RestoreWithheldAuthentication();
    throw;
  }
}

TIdHTTPNextStep TIdCustomHTTP::TakeNextStep(TIdHTTPProtocol& protocol,
                                            const TIdIgnoreReplies& ignoreReplies) {
  // After 101 the connection speaks another protocol, which this client does not. The mark
  // comes first: the judgement raises for a status the caller does not accept.
  if (protocol.Response().StatusCode() == 101) closeAfterRequest_ = true;
  const TIdHTTPOutcome outcome = protocol.DecideNextStep(ignoreReplies);
  if (outcome.closeAfter) closeAfterRequest_ = true;
  return outcome.step;
}

void TIdCustomHTTP::CloseAfterRequest() {
  const bool staysOpen = LastResponse().StaysOpen();
  // Bytes past the end of the answer are not the start of the next one (requests are never
  // pipelined): a peer that sent them is out of step.
  const bool leftovers = IOHandler() != nullptr && IOHandler()->InBuffer().Size() > 0;
  if (closeAfterRequest_ || !staysOpen || leftovers) DropConnection();
}

// Between requests a server sends nothing but a close. Bytes that came on an idle kept
// connection (a body sent after a HEAD answer, a late error page) would be read as the next
// answer, so the connection goes, and so does one that fails when looked at.
void TIdCustomHTTP::DropUncleanConnection() {
  if (IOHandler() == nullptr || !IsConnected()) return;
  bool clean = false;
  try {
    clean = IOHandler()->InBuffer().Size() == 0 && !IOHandler()->HasDataOnSource(0);
  } catch (const EIdException&) {
    clean = false;
  }
  if (!clean) DropConnection();
}

void TIdCustomHTTP::CloseConnection(bool ANotifyPeer) {
  try {
    TIdTCPClientCustom::CloseConnection(ANotifyPeer);
  } catch (...) {
    if (disconnectPending_) DoOnDisconnected();
    throw;
  }
  // The connection closes the handler and runs the step only while the handler is open; a
  // handler that saw the peer go has already closed itself.
  if (disconnectPending_) DoOnDisconnected();
}

void TIdCustomHTTP::DoOnConnected() {
  tunnelTarget_.clear();
  TIdTCPClientCustom::DoOnConnected();
  disconnectPending_ = true;
  RestartConnectionBoundExchanges();
}

void TIdCustomHTTP::DropConnection() {
  tunnelTarget_.clear();
  CloseConnection();
  // Bytes still buffered belong to a response nobody will read; left there, they would make
  // the closed connection count as open and be taken for the next response.
  if (IOHandler() != nullptr) IOHandler()->InBuffer().Clear();
}

void TIdCustomHTTP::MergeRequestURL(bool callerURL) {
  TIdHTTPRequest& request = Request();
  TIdURI& current = CurrentURI();
  const TIdURI next(request.URL());
  if (!next.Protocol().empty() && !IsOneOfNoCase(next.Protocol(), {"http", "https"})) {
    throw EIdUnsupportedProtocol(RSHTTPUnsupportedProtocol);
  }
  RequirePlainHost(next.Host());
  const std::string nextPort = next.PortText().empty() ? "" : ValidPortText(next.PortText());
  // User information is taken as credentials only from the caller's own URL: a server does not
  // get to choose the credentials the client sends.
  if (callerURL && !next.User().empty()) {
    request.SetUsername(next.User());
    request.SetPassword(next.Password());
  }
  current.SetUser(request.Username());
  current.SetPassword(request.Password());
  current.SetDirectory(ResolveRelativePath(current.Directory(), next.Directory(), "/"));
  current.SetResource(next.Resource());
  current.SetQuery(next.Query());
  if (!next.Host().empty()) {
    current.SetHost(next.Host());
    // A relative URL keeps the address family of the host it resolves against.
    current.SetIPVersion(next.IPVersion());
  }
  if (!next.Protocol().empty()) {
    current.SetProtocol(next.Protocol());
  } else {
    current.SetProtocol(SameTextNoCase(current.Protocol(), "https") ? "https" : "http");
  }
  if (!nextPort.empty()) {
    current.SetPortText(nextPort);
  } else if (!next.Protocol().empty() || !next.Host().empty()) {
    // A new scheme, or a new host ("//host/x"), names the default port of the scheme.
    current.SetPortText(std::to_string(
        SameTextNoCase(current.Protocol(), "https") ? kHttpsDefaultPort : kHttpDefaultPort));
  } else if (current.PortText().empty()) {
    throw EIdUnknownProtocol(RSHTTPUnknownProtocol);
  }
  request.SetURL(current.PathAndQuery());
  if (request.RequestMethod() == "OPTIONS" && next.Resource() == "*") request.SetURL("*");
  request.SetIPVersion(current.IPVersion());
  if (IsOneOfNoCase(request.RequestMethod(), {"TRACE", "PUT", "OPTIONS", "DELETE"}) &&
      ProtocolVersion() != pv1_1) {
    throw EIdException(RSHTTPMethodRequiresVersion);
  }
  request.SetContentLength(request.BodySource() != nullptr ? request.BodySource()->Size() : -1);
  request.SetHost(HostHeaderValue(current));
}

// The proxy's host as the resolver takes it: an IPv6 address may be given in URL brackets.
std::string TIdCustomHTTP::ProxyHostText() {
  const std::string& server = ProxyParams().ProxyServer();
  if (server.size() > 2 && server.front() == '[' && server.back() == ']') {
    return server.substr(1, server.size() - 2);
  }
  return server;
}

// The connection target for CurrentURI: the origin server or the proxy. A kept connection to
// another target (or over another address family) is closed here.
TIdHTTPConnectionKind TIdCustomHTTP::ChooseConnectionTarget() {
  const bool viaProxy = !ProxyParams().ProxyServer().empty();
  std::string host = viaProxy ? ProxyHostText() : CurrentURI().Host();
  std::int32_t port = viaProxy ? ProxyParams().ProxyPort()
                               : StrToIntDefTrim(CurrentURI().PortText(), kHttpDefaultPort);
  if (!viaProxy && IPVersion() != CurrentURI().IPVersion() && IsConnected()) DropConnection();
  if ((!SameTextNoCase(host, Host()) || port != Port()) && IsConnected()) DropConnection();
  const bool tls = SameTextNoCase(CurrentURI().Protocol(), "HTTPS");
  TIdSSLIOHandlerSocketBase* const handler = TlsHandlerOf(IOHandler());
  // Without a TLS handler an https target cannot be served, directly or through a proxy's
  // tunnel: refusing beats sending the request in clear text.
  if (tls && handler == nullptr) throw EIdIOHandlerPropInvalid(RSIOHandlerPropInvalid);
  // What a kept connection carries was fixed when it was made: clear text, TLS to the origin,
  // or a tunnel to one target. Anything else needs a connection of its own.
  const std::string tunnel = tls && viaProxy ? TunnelTarget() : std::string();
  const bool tlsDirect = tls && !viaProxy;
  if (IsConnected() && (tunnel != tunnelTarget_ ||
                        (handler != nullptr && !viaProxy && handler->TLSActive() != tlsDirect))) {
    DropConnection();
  }
  if (handler != nullptr) {
    handler->SetTLSHostName(tls ? CurrentURI().Host() : std::string());
    // Through a proxy, TLS starts only inside the tunnel; a kept tunnel already runs it.
    if (!(viaProxy && IsConnected())) handler->SetTLSActive(tlsDirect);
  }
  if (port < 0 || port > kMaxPort) throw ERangeError(RSRangeError);
  SetHost(host);
  SetPort(static_cast<std::uint16_t>(port));
  if (tls) return viaProxy ? ckTLSProxy : ckTLS;
  return viaProxy ? ckProxy : ckDirect;
}

std::string TIdCustomHTTP::TunnelTarget() {
  return CurrentURI().Host() + ":" + CurrentURI().PortText();
}

void TIdCustomHTTP::OpenAndSendRequest() {
  TIdHTTPRequest& request = Request();
  const TIdHTTPConnectionKind kind = ChooseConnectionTarget();
  request.SetConnectionKind(kind);
  if (kind == ckProxy) request.SetURL(CurrentURI().URI());
  SetConnectionFields(kind);
  SetAcceptEncoding();
  if (kind == ckTLSProxy) {
    if (!LastResponse().StaysOpen()) DropConnection();
    if (IOHandler() != nullptr) IOHandler()->DetectClosure(false);
    if (!IsConnected() || tunnelTarget_ != TunnelTarget()) OpenTunnel();
  } else {
    EnsureConnected(LastResponse());
  }
  WriteRequestHeadWithCredentialPolicy(*protocol_, &CurrentURI());
  if (request.BodySource() != nullptr)
    IOHandler()->WriteFromStream(*request.BodySource(), 0, false);
}

void TIdCustomHTTP::SetConnectionFields(TIdHTTPConnectionKind kind) {
  TIdHTTPRequest& request = Request();
  const bool wantKeepAlive = ProtocolVersion() == pv1_0 && request.Connection().empty();
  switch (kind) {
    case ckDirect:
      if (wantKeepAlive) request.SetConnection("keep-alive");
      break;
    case ckProxy:
      if (wantKeepAlive) request.SetProxyConnection("keep-alive");
      break;
    case ckTLS:
    case ckTLSProxy:
      request.SetConnection("");
      break;
  }
}

void TIdCustomHTTP::SetAcceptEncoding() {
  TIdHTTPRequest& request = Request();
  auto offer = [&request](const std::string& coding) {
    const std::string current = request.AcceptEncoding();
    if (current.find(coding) != std::string::npos) return;
    request.SetAcceptEncoding(current.empty() ? coding : current + ", " + coding);
  };
  if (compressor_ != nullptr && compressor_->CanInflate()) {
    offer("deflate");
    offer("gzip");
  }
  offer("identity");
}

// A CONNECT tunnel through the proxy for a TLS target: the CONNECT request (answering the
// proxy's 407 challenges, at most MaxAuthRetries times) goes out on a short-lived exchange of
// its own; TLS starts over the tunnel once the proxy answers 2xx. Any other answer ends the
// request with EIdHTTPTunnelRefused and the proxy's connection: what follows that answer on
// the connection is not a tunnel, and a redirect names no other tunnel to try.
void TIdCustomHTTP::OpenTunnel() {
  TIdHTTPProtocol tunnel(*this, *this);
  TIdHTTPRequest& connect = tunnel.Request();
  connect.SetUserAgent(Request().UserAgent());
  connect.SetHost(Request().Host());
  connect.SetContentLength(Request().ContentLength());
  connect.SetPragma("no-cache");
  connect.SetURL(CurrentURI().Host() + ":" + CurrentURI().PortText());
  connect.SetRequestMethod("CONNECT");
  connect.SetProxyConnection("keep-alive");
  TMemoryStream content;
  tunnel.Response().SetBodyStream(&content);
  while (!ExchangeConnect(tunnel)) {
  }
  StartTlsInTunnel();
}

// One CONNECT and the proxy's answer; true when the tunnel is open.
bool TIdCustomHTTP::ExchangeConnect(TIdHTTPProtocol& tunnel) {
  EnsureConnected(tunnel.Response());
  tunnel.WriteRequestHead(nullptr);
  TIdHTTPResponse& answer = tunnel.Response();
  answer.SetStatusLine(ReadProtocolLine(*IOHandler()));
  if (answer.StatusLine().empty()) {
    answer.SetStatusLine("HTTP/1.0 200 OK");
    answer.SetConnection("close");
    return true;
  }
  // Anything but an HTTP/1.x status line is not the proxy's answer: TLS must not start over
  // whatever sent it.
  if (!IsHTTP1StatusLine(answer.StatusLine())) {
    throw EIdHTTPInvalidStatusLine(answer.StatusLine());
  }
  tunnel.ReadResponseHeaders(HeaderLineLimit());
  StoreResponseCookies(answer);
  try {
    return tunnel.JudgeTunnelAnswer();
  } catch (const EIdHTTPProtocolException& refused) {
    DropConnection();
    throw EIdHTTPTunnelRefused(refused.ReplyCode(), refused.Message(), refused.BodyText());
  }
}

// The proxy answered the CONNECT: TLS to the origin starts over the tunnel. A failed handshake
// leaves nothing usable on this connection.
void TIdCustomHTTP::StartTlsInTunnel() {
  TIdSSLIOHandlerSocketBase* const handler = TlsHandlerOf(IOHandler());
  try {
    handler->SetTLSHostName(CurrentURI().Host());
    handler->SetTLSActive(true);
  } catch (const EIdSSLProtocolReplyError&) {
    DropConnection();
    throw;
  }
  tunnelTarget_ = TunnelTarget();
}

void TIdCustomHTTP::EnsureConnected(TIdHTTPResponse& response) {
  if (!response.StaysOpen()) DropConnection();
  if (IOHandler() != nullptr) IOHandler()->DetectClosure(false);
  if (IsConnected()) return;
  // A kept connection the peer closed while idle ends here, before its successor opens.
  DropConnection();
  // The proxy, when there is one, is the peer: its address decides the family.
  const bool viaProxy = !ProxyParams().ProxyServer().empty();
  SetIPVersion(!viaProxy                          ? CurrentURI().IPVersion()
               : IPv6TextToWords(ProxyHostText()) ? Id_IPv6
                                                  : Id_IPv4);
  try {
    ConnectToHost();
  } catch (const EIdSSLProtocolReplyError&) {
    DropConnection();
    throw;
  }
}

// A server may end an idle kept-alive connection at the moment the next request is sent on it;
// the request then meets a close (or a reset) before any byte of an answer. It never reached the
// application, so a request that is safe to repeat (RFC 9110, 9.2.2) and has no body to send
// again goes once more on a new connection. Anything else that fails stays a failure.
void TIdCustomHTTP::SendAndReadHead(TIdHTTPProtocol& protocol) {
  const bool reused = IsConnected();
  try {
    OpenAndSendRequest();
    ReadStatusAndHeaders(protocol);
    return;
  } catch (const EIdConnClosedGracefully&) {
    if (!MayRepeatOnNewConnection(reused)) throw;
  } catch (const EIdSocketError&) {
    if (!MayRepeatOnNewConnection(reused)) throw;
  }
  DropConnection();
  OpenAndSendRequest();
  ReadStatusAndHeaders(protocol);
}

bool TIdCustomHTTP::MayRepeatOnNewConnection(bool reused) {
  if (!reused || Request().BodySource() != nullptr) return false;
  if (IOHandler() != nullptr && IOHandler()->InBuffer().Size() > 0) return false;
  return IsOneOfNoCase(Request().RequestMethod(),
                       {"GET", "HEAD", "OPTIONS", "TRACE", "PUT", "DELETE"});
}

void TIdCustomHTTP::ReadStatusAndHeaders(TIdHTTPProtocol& protocol) {
  TIdHTTPResponse& response = protocol.Response();
  for (std::int32_t interim = 0;; ++interim) {
    if (interim > MaxInterimResponses) {
      // The server is still mid-answer: nothing more on this connection can be trusted.
      closeAfterRequest_ = true;
      throw EIdHTTPTooManyInterimResponses(RSHTTPTooManyInterimResponses);
    }
    protocol.ReadStatusLine();
    protocol.ReadResponseHeaders(HeaderLineLimit());
    StoreResponseCookies(response);
    // RFC 9110, 15.2: every 1xx but 101 (which ends HTTP on the connection) is interim.
    const std::int32_t code = response.StatusCode();
    if (code / 100 != 1 || code == 101) return;
  }
}

void TIdCustomHTTP::ReadResponseBody(TIdHTTPResponse& response, std::int32_t waitMs,
                                     bool shortBodyIsError) {
  TStream* const body = response.BodyStream();
  if (body == nullptr || IOHandler() == nullptr) return;
  const TIdBodyFrame frame = BodyFrameOf(response.HeaderLines());
  if (frame.closeAfter) closeAfterRequest_ = true;
  enum class Coding { kNone, kDeflate, kGzip } coding = Coding::kNone;
  if (compressor_ != nullptr && compressor_->CanInflate()) {
    if (SameTextNoCase(response.ContentEncoding(), "deflate")) coding = Coding::kDeflate;
    if (SameTextNoCase(response.ContentEncoding(), "gzip")) coding = Coding::kGzip;
  }
  std::unique_ptr<TMemoryStream> compressed;
  if (coding != Coding::kNone) compressed = std::make_unique<TMemoryStream>();
  TStream& target = compressed ? *compressed : *body;
  if (frame.framing == TIdBodyFraming::kChunked) ReportStatus(hsStatusText, RSHTTPChunkStarted);
  const TIdBodyEnd end = ReadFramedBody(*IOHandler(), target, frame, waitMs, HeaderLineLimit());
  if (end != TIdBodyEnd::kComplete) {
    // Cut or skipped, the body's rest may still come: the connection cannot carry a request.
    DropConnection();
    if (end == TIdBodyEnd::kCut && shortBodyIsError) {
      throw EIdHTTPIncompleteResponse(RSHTTPIncompleteBody);
    }
  }
  if (!compressed) return;
  compressed->SetPosition(0);
  if (coding == Coding::kGzip) {
    compressor_->InflateGZip(*compressed, *body);
  } else {
    compressor_->InflateDeflate(*compressed, *body);
  }
}

}  // namespace brixa
