// The client: the request cycle (URL checks, choosing and opening the connection: direct, TLS,
// proxy, tunnel; writing the request, applying each response's outcome), redirect confirmation and
// the answers to 401 / 407 challenges with the policy of which targets credentials may go to, and
// the links to the components it borrows (cookie manager, decompressor, store of finished
// authentications) with the cookie traffic through the manager.

#include "http/client/http.h"

#include <functional>
#include <limits>

#include "http/auth/logon/auth_negotiate.h"
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

// Rounds of "ask the application" one challenge may take. A handler that claims to have
// supplied credentials but leaves the scheme asking again would otherwise loop for ever.
constexpr int kMaxApplicationRounds = 16;

// "scheme://host:port" in lower case, the port always written: what a credential is bound to.
std::string OriginOf(const TIdURI& uri) {
  const bool https = SameTextNoCase(uri.Protocol(), "https");
  const std::string port = uri.PortText().empty() ? (https ? "443" : "80") : uri.PortText();
  return LowerCase(uri.Protocol()) + "://" + LowerCase(uri.Host()) + ":" + port;
}

// Whether a logon exchange already under way may go on under the caller's present permission
// (`logon`, `kerberosOnly`); any other scheme may.
bool LogonStillAllowed(const TIdAuthentication& scheme, bool logon, bool kerberosOnly) {
  const auto* exchange = dynamic_cast<const TIdLogonAuthentication*>(&scheme);
  if (exchange == nullptr) return true;
  return logon && (!kerberosOnly || exchange->Package() == TSecurityPackage::Kerberos);
}

// Tells a logon scheme which host it authenticates to; false for every other scheme.
bool PrepareLogonScheme(TIdAuthentication& scheme, const std::string& host) {
  auto* logon = dynamic_cast<TIdLogonAuthentication*>(&scheme);
  if (logon == nullptr) return false;
  logon->SetServiceHost(host);
  return true;
}

bool IsWithheldHeader(const std::string& name) {
  return SameTextNoCase(name, "Authorization") || SameTextNoCase(name, "Cookie");
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

// --- Redirects, challenges and where credentials may go -----------------------------------------

bool TIdCustomHTTP::ConfirmRedirect(std::string& location, std::string& method,
                                    std::int32_t redirectCount) {
  bool handled = HandleRedirects();
  if (OnRedirect) {
    std::int32_t count = redirectCount;  // the handler may change its copy only
    OnRedirect(this, location, count, handled, method);
  }
  return handled;
}

TIdRedirectVerdict TIdCustomHTTP::JudgeRedirect(std::string& location, std::string& method) {
  ++redirectsSeen_;
  if (!ConfirmRedirect(location, method, redirectsSeen_)) return rvRefused;
  // OnRedirect may have changed HandleRedirects: it is read after the handler ran.
  return HandleRedirects() && redirectsSeen_ < RedirectMaximum() ? rvFollow : rvReport;
}

bool TIdCustomHTTP::AnswerChallenge(bool server, TIdHTTPRequest& request,
                                    TIdHTTPResponse& response) {
  const std::int32_t attempts = server ? serverAuthAttempts_ : proxyAuthAttempts_;
  if (attempts >= MaxAuthRetries()) return false;
  return server ? AuthorizeServer(request, response) : AuthorizeProxy(request, response);
}

bool TIdCustomHTTP::RestartAuthExchange(bool server, TIdAuthentication& scheme) {
  if (authRestarted_) return false;
  authRestarted_ = true;
  scheme.Restart();
  const bool retry = scheme.Next() == naRetry;
  // The new connection's first leg is the request's first attempt.
  (server ? serverAuthAttempts_ : proxyAuthAttempts_) = 1;
  return retry;
}

// Who sent the challenge being answered. A server's 401 and a proxy's 407 are answered by one
// routine (Authorize); these are the points where the two really differ.
struct TIdCustomHTTP::TAuthParty {
  // The challenge lines: WWW-Authenticate or Proxy-Authenticate.
  const TIdHeaderList& Challenges;
  const TIdOnSelectAuthorization& OnSelect;
  const TIdOnAuthorization& OnAsk;
  // The scheme object in the record that owns it (the request, or ProxyParams), and how the
  // record takes a new one.
  std::function<TIdAuthentication*()> Scheme;
  std::function<void(std::unique_ptr<TIdAuthentication>)> Adopt;
  // The credentials the caller gave for this party, read afresh each time.
  std::function<std::string()> Username;
  std::function<std::string()> Password;
  // Credentials the application's handler supplied go back where the caller keeps them.
  std::function<void(const TIdAuthentication&)> TakeBack;
  // Whether this party may be answered at all: a server only at the origin the credentials
  // were given for.
  bool MayAnswer;
  // Whether there are credentials to answer with: for a server a password, or an application
  // that can be asked; for a proxy only the application's handler, which decides whether the
  // configured proxy credentials go out. Without them only a scheme that answers with the
  // logon is chosen or continued.
  bool HasCredentials;
  // A server's scheme keeps the header of the refused request in Params under
  // "Authorization", for the OnAuthorization handler to see; a proxy's does not.
  bool KeepsRefusedAnswer;
  // Whether the caller lets the user's own logon answer this party (LogonForServer /
  // LogonForProxy), and the host its service is named after: the origin's for a server, the
  // proxy's own for a proxy.
  bool Logon;
  std::string ServiceHost;
  // Only Kerberos may answer with the logon (LogonForProxyKerberosOnly).
  bool KerberosOnly;
};

bool TIdCustomHTTP::AuthorizeServer(TIdHTTPRequest& request, TIdHTTPResponse& response) {
  ++serverAuthAttempts_;
  TAuthParty server{
      .Challenges = response.WWWAuthenticate(),
      .OnSelect = OnSelectAuthorization,
      .OnAsk = OnAuthorization,
      .Scheme = [&request] { return request.AuthScheme(); },
      .Adopt =
          [this, &request](std::unique_ptr<TIdAuthentication> scheme) {
            request.SetAuthScheme(std::move(scheme));
            BindAuthenticationToTarget();
          },
      .Username = [&request] { return request.Username(); },
      .Password = [&request] { return request.Password(); },
      .TakeBack =
          [&request](const TIdAuthentication& scheme) {
            request.SetBasicAuthentication(true);
            request.SetUsername(scheme.Username());
            request.SetPassword(scheme.Password());
          },
      // Another origin's challenge is never answered with what the caller gave for its own.
      .MayAnswer = credentialsAllowed_,
      .HasCredentials = OnAuthorization || !Trim(request.Password()).empty(),
      .KeepsRefusedAnswer = true,
      .Logon = credentialsAllowed_ && LogonForServer(),
      .ServiceHost = CurrentURI().Host(),
      .KerberosOnly = false,
  };
  return Authorize(server);
}

bool TIdCustomHTTP::AuthorizeProxy(TIdHTTPRequest& /*request*/, TIdHTTPResponse& response) {
  ++proxyAuthAttempts_;
  TIdProxyConnectionInfo& proxy = ProxyParams();
  TAuthParty proxyParty{
      .Challenges = response.ProxyAuthenticate(),
      .OnSelect = OnSelectProxyAuthorization,
      .OnAsk = OnProxyAuthorization,
      .Scheme = [&proxy] { return proxy.AuthScheme(); },
      .Adopt =
          [&proxy](std::unique_ptr<TIdAuthentication> scheme) {
            proxy.SetAuthScheme(std::move(scheme));
          },
      .Username = [&proxy] { return proxy.ProxyUsername(); },
      .Password = [&proxy] { return proxy.ProxyPassword(); },
      .TakeBack =
          [&proxy](const TIdAuthentication& scheme) {
            proxy.SetProxyUsername(scheme.Username());
            proxy.SetProxyPassword(scheme.Password());
          },
      .MayAnswer = true,
      .HasCredentials = static_cast<bool>(OnProxyAuthorization),
      .KeepsRefusedAnswer = false,
      .Logon = LogonForProxy(),
      .ServiceHost = proxy.ProxyServer(),
      .KerberosOnly = LogonForProxyKerberosOnly(),
  };
  return Authorize(proxyParty);
}

bool TIdCustomHTTP::Authorize(TAuthParty& party) {
  if (!party.MayAnswer) return false;
  if (party.Scheme() != nullptr &&
      !LogonStillAllowed(*party.Scheme(), party.Logon, party.KerberosOnly)) {
    party.Adopt(nullptr);
  }
  if (party.Scheme() == nullptr) {
    // Only what can be answered is ranked: ranking may load what a scheme needs.
    TIdAuthenticationClass scheme = ChooseAuthScheme(party.Challenges, party.HasCredentials);
    // The logon is asked only where the caller allows it, and wins where it can answer.
    if (party.Logon) {
      scheme = PreferLogonScheme(scheme, party.Challenges, party.Username(), party.Password(),
                                 party.KerberosOnly);
    }
    if (!scheme) return false;
    if (party.OnSelect) party.OnSelect(this, scheme, party.Challenges);
    if (!scheme) return false;
    party.Adopt(scheme.Create());
  }
  TIdAuthentication& auth = *party.Scheme();
  const bool logon = PrepareLogonScheme(auth, party.ServiceHost);
  if (!party.HasCredentials && !logon && !auth.AnswersWithLogon()) return false;
  auth.StoreUsername(party.Username());
  auth.StorePassword(party.Password());
  if (party.KeepsRefusedAnswer)
    auth.Params().SetHeaderValue("Authorization", auth.BuildAuthorization());
  auth.SetAuthParams(party.Challenges);
  for (int round = 0; round < kMaxApplicationRounds; ++round) {
    const TAuthNextAction action = auth.Next();
    if (action == naRetry) return true;
    // Without a handler nobody can supply what the scheme asks for.
    if (action == naFail || !party.OnAsk) return false;
    auth.StoreUsername(party.Username());
    auth.StorePassword(party.Password());
    bool handled = false;
    party.OnAsk(this, &auth, handled);
    if (!handled) return false;
    party.TakeBack(auth);
  }
  return false;
}

// An exchange tied to its connection (NTLM) is over when the connection is: a finished one goes
// to the store and is freed. Basic and Digest do not depend on the connection; a challenge
// answered just before the server closed is answered on the next connection, and a Digest
// nonce stays usable.
void TIdCustomHTTP::DoOnDisconnected() {
  disconnectPending_ = false;
  TIdTCPClientCustom::DoOnDisconnected();
  if (TIdAuthentication* auth = Request().AuthScheme(); auth != nullptr && auth->Completed()) {
    if (authStore_ != nullptr) authStore_->AddAuthentication(*auth, CurrentURI());
    if (auth->NeedsKeepAlive()) {
      Request().SetAuthScheme(nullptr);
      boundAuthentication_ = nullptr;
    }
  }
  if (TIdAuthentication* proxyAuth = ProxyParams().AuthScheme();
      proxyAuth != nullptr && proxyAuth->Completed()) {
    proxyAuth->Restart();
  }
}

void TIdCustomHTTP::RestartConnectionBoundExchanges() {
  for (TIdAuthentication* auth : {Request().AuthScheme(), ProxyParams().AuthScheme()}) {
    if (auth == nullptr || !auth->NeedsSameConnection()) continue;
    auth->Restart();
    // Without a user name the scheme stays at its start and sends nothing: the challenge that
    // follows asks the application again.
    (void)auth->Next();
  }
}

void TIdCustomHTTP::BindAuthenticationToTarget() {
  boundAuthentication_ = Request().AuthScheme();
  authenticationOrigin_ = passOrigin_;
}

void TIdCustomHTTP::BindCredentialsToOrigin(bool callerURL) {
  passOrigin_ = OriginOf(CurrentURI());
  if (callerURL) requestOrigin_ = passOrigin_;
  credentialsAllowed_ = locationTrusted_ || passOrigin_ == requestOrigin_;
  TIdHTTPRequest& request = Request();
  if (request.AuthScheme() != nullptr && request.AuthScheme() != boundAuthentication_) {
    // An object the caller (or a preemptive Basic) put there: the caller's, for its own URL.
    boundAuthentication_ = request.AuthScheme();
    authenticationOrigin_ = requestOrigin_;
  }
  if (request.AuthScheme() != nullptr && authenticationOrigin_ != passOrigin_) {
    if (authenticationOrigin_ == requestOrigin_ && !withheldAuthentication_) {
      withheldAuthentication_ = request.TakeAuthScheme();
    } else {
      request.FreeAuthScheme();
    }
    boundAuthentication_ = nullptr;
  }
  if (request.AuthScheme() == nullptr && withheldAuthentication_ && passOrigin_ == requestOrigin_) {
    request.SetAuthScheme(std::move(withheldAuthentication_));
    BindAuthenticationToTarget();
  }
}

void TIdCustomHTTP::RestoreWithheldAuthentication() {
  if (!withheldAuthentication_) return;
  Request().SetAuthScheme(std::move(withheldAuthentication_));
  boundAuthentication_ = Request().AuthScheme();
  authenticationOrigin_ = requestOrigin_;
}

void TIdCustomHTTP::WriteRequestHeadWithCredentialPolicy(TIdHTTPProtocol& protocol,
                                                         const TIdURI* cookieUri) {
  TIdHTTPRequest& request = protocol.Request();
  if (credentialsAllowed_) {
    protocol.WriteRequestHead(cookieUri);
    // A preemptive Basic made while writing belongs here.
    if (request.AuthScheme() != boundAuthentication_) BindAuthenticationToTarget();
    return;
  }
  // The caller's settings come back whatever happens while writing.
  TIdHeaderList saved;
  saved.AssignLines(request.CustomHeaders());
  const bool basic = request.BasicAuthentication();
  TIdHeaderList& custom = request.CustomHeaders();
  for (int i = custom.Count() - 1; i >= 0; --i) {
    if (IsWithheldHeader(custom.LineName(i))) custom.Delete(i);
  }
  request.SetBasicAuthentication(false);
  try {
    protocol.WriteRequestHead(cookieUri);
  } catch (...) {
    request.CustomHeaders().AssignLines(saved);
    request.SetBasicAuthentication(basic);
    throw;
  }
  request.CustomHeaders().AssignLines(saved);
  request.SetBasicAuthentication(basic);
}

// --- Borrowed components and cookies ------------------------------------------------------------

void TIdCustomHTTP::SetProxyParams(const TIdProxyConnectionInfo& value) {
  proxyParams_->Assign(value);
}

void TIdCustomHTTP::SetRequest(const TIdHTTPRequest& value) {
  Request().Assign(value);
}

void TIdCustomHTTP::SetCookieManager(TIdCookieManager* value) {
  if (value == cookieManager_) return;
  if (ownsCookieManager_) {
    FreeOwnCookieManager();
  } else if (cookieManager_ != nullptr) {
    RemoveFreeNotification(cookieManager_);
  }
  cookieManager_ = value;
  if (value != nullptr) FreeNotification(value);
}

void TIdCustomHTTP::SetCompressor(TIdZLibCompressorBase* value) {
  if (value == compressor_) return;
  if (compressor_ != nullptr) RemoveFreeNotification(compressor_);
  compressor_ = value;
  if (value != nullptr) FreeNotification(value);
}

void TIdCustomHTTP::SetAuthStore(TIdAuthenticationStore* value) {
  if (value == authStore_) return;
  if (authStore_ != nullptr) RemoveFreeNotification(authStore_);
  authStore_ = value;
  if (value != nullptr) FreeNotification(value);
}

void TIdCustomHTTP::Notification(TComponent* component, TOperation operation) {
  TIdTCPClientCustom::Notification(component, operation);
  if (operation != TOperation::opRemove) return;
  if (component == cookieManager_) {
    cookieManager_ = nullptr;
    ownsCookieManager_ = false;
  }
  if (component == compressor_) compressor_ = nullptr;
  if (component == authStore_) authStore_ = nullptr;
}

void TIdCustomHTTP::FreeOwnCookieManager() {
  if (!ownsCookieManager_) return;
  TIdCookieManager* own = cookieManager_;
  cookieManager_ = nullptr;
  ownsCookieManager_ = false;
  delete own;  // owned by this client; deleting removes it from the owner's list
}

void TIdCustomHTTP::StoreResponseCookies(TIdHTTPResponse& response) {
  if (cookieManager_ == nullptr && allowCookies_) {
    cookieManager_ = new TIdCookieManager(this);
    ownsCookieManager_ = true;
  }
  if (cookieManager_ == nullptr) return;
  const TIdHeaderList& lines = response.HeaderLines();
  const std::string& host = CurrentURI().Host();
  for (const std::string& value : lines.CollectValues("Set-cookie")) {
    cookieManager_->AddSetCookie(value, host);
  }
  for (const std::string& value : lines.CollectValues("Set-cookie2")) {
    cookieManager_->AddSetCookie2(value, host);
  }
}

void TIdCustomHTTP::AddRequestCookies(TIdHTTPRequest& request, const TIdURI& uri) {
  // Secure cookies travel only inside TLS: a TLS handler carrying clear text does not count.
  const auto* tls = dynamic_cast<const TIdSSLIOHandlerSocketBase*>(IOHandler());
  const bool secure = tls != nullptr && tls->TLSActive() && SameTextNoCase(uri.Protocol(), "https");
  const std::string cookies = cookieManager_->BuildCookieHeader(uri, secure);
  if (!cookies.empty()) request.HeaderLines().SetHeaderValue("Cookie", cookies);
}

}  // namespace brixa
