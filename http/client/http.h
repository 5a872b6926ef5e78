#pragma once
// TIdHTTP, the HTTP/1.x client: requests over kept-alive connections, proxies, redirects,
// authentication, cookies and progress events.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

#include "http/auth/authentication.h"
#include "http/body/compressor.h"
#include "http/client/http_exceptions.h"
#include "http/client/http_protocol.h"
#include "http/client/http_protocol_exception.h"
#include "http/cookies/cookie_manager.h"
#include "http/message/header_list.h"
#include "http/message/proxy_connection_info.h"
#include "http/message/request_header_info.h"
#include "http/message/response_header_info.h"
#include "http/message/uri.h"
#include "transport/io/tcp_client.h"

namespace brixa {

enum TIdHTTPOption { hoInProcessAuth, hoKeepOrigProtocol, hoForceEncodeParams };

// A set of TIdHTTPOption values.
class TIdHTTPOptions {
 public:
  constexpr TIdHTTPOptions() noexcept = default;
  constexpr TIdHTTPOptions(std::initializer_list<TIdHTTPOption> options) noexcept {
    for (const auto o : options) bits_ |= Bit(o);
  }
  [[nodiscard]] constexpr bool Contains(TIdHTTPOption o) const noexcept {
    return (bits_ & Bit(o)) != 0;
  }
  constexpr void Include(TIdHTTPOption o) noexcept { bits_ |= Bit(o); }
  constexpr void Exclude(TIdHTTPOption o) noexcept { bits_ &= ~Bit(o); }
  friend constexpr bool operator==(TIdHTTPOptions, TIdHTTPOptions) noexcept = default;

 private:
  static constexpr unsigned Bit(TIdHTTPOption o) noexcept { return 1u << static_cast<unsigned>(o); }
  unsigned bits_ = 0;
};

// Receives the authentication exchanges that finished on a connection, with the URI they were
// made for, so that an application can offer the credentials again; the client frees its own
// object right after handing it over.
class TIdAuthenticationStore : public TComponent {
 public:
  explicit TIdAuthenticationStore(TComponent* owner = nullptr) : TComponent(owner) {}
  virtual void AddAuthentication(const TIdAuthentication& authentication, const TIdURI& uri) = 0;
};

// Event types. All events fire on the thread that runs the request, inside the call.
using TIdHTTPOnHeadersAvailable =
    std::function<void(TComponent* Sender, TIdHeaderList& AHeaders, bool& VContinue)>;
using TIdHTTPOnRedirectEvent =
    std::function<void(TComponent* Sender, std::string& dest, std::int32_t& NumRedirect,
                       bool& Handled, std::string& VMethod)>;
using TIdOnSelectAuthorization =
    std::function<void(TComponent* Sender, TIdAuthenticationClass& AuthenticationClass,
                       const TIdHeaderList& AuthInfo)>;
using TIdOnAuthorization =
    std::function<void(TComponent* Sender, TIdAuthentication* Authentication, bool& Handled)>;

// The HTTP/1.x client: HEAD and GET (and any method through PerformRequest) over a kept-alive
// or new connection, directly or through an HTTP proxy, with redirects, Basic/Digest
// authorisation, cookies and progress reports through the work events.
//
// A client is used by one thread at a time; requests block that thread, and every event fires
// on it. Between requests the client keeps its connection (when the last response allowed it),
// CurrentURI (relative URLs resolve against it), every Request field and the last response.
class TIdCustomHTTP : public TIdTCPClientCustom, private TIdHTTPProtocolClient {
 public:
  static constexpr std::int32_t DefaultRedirectMaximum = 15;
  static constexpr std::int32_t DefaultMaxAuthRetries = 3;
  static constexpr std::int32_t DefaultHeaderLineLimit = 255;
  // Interim 100 responses skipped before one request's final status. Servers send one, or a
  // handful; a server that never stops would otherwise keep the client reading for ever.
  static constexpr std::int32_t MaxInterimResponses = 64;

  explicit TIdCustomHTTP(TComponent* owner = nullptr);
  ~TIdCustomHTTP() override;

  // HEAD: the answer lands in LastResponse's header fields; any body is dropped.
  void Head(const std::string& AURL);
  // GET into `AResponseContent` (required). Status codes in `AIgnoreReplies` end the request
  // normally, without the error body in the stream.
  void Get(const std::string& AURL, TStream* AResponseContent);
  void Get(const std::string& AURL, TStream* AResponseContent,
           const TIdIgnoreReplies& AIgnoreReplies);
  // The whole request cycle for any method. `ASource` is sent as the body when given; the body
  // of an accepted response goes to `AResponseContent` when given.
  virtual void PerformRequest(const std::string& AMethod, const std::string& AURL, TStream* ASource,
                              TStream* AResponseContent, const TIdIgnoreReplies& AIgnoreReplies);

  // --- properties ----------------------------------------------------------------------------
  [[nodiscard]] bool HandleRedirects() const noexcept { return handleRedirects_; }
  void SetHandleRedirects(bool value) noexcept { handleRedirects_ = value; }
  [[nodiscard]] std::int32_t RedirectMaximum() const noexcept { return redirectMaximum_; }
  void SetRedirectMaximum(std::int32_t value) noexcept { redirectMaximum_ = value; }
  [[nodiscard]] TIdHTTPProtocolVersion ProtocolVersion() const noexcept { return protocolVersion_; }
  void SetProtocolVersion(TIdHTTPProtocolVersion value) noexcept { protocolVersion_ = value; }
  [[nodiscard]] TIdHTTPOptions HTTPOptions() const noexcept { return options_; }
  void SetHTTPOptions(TIdHTTPOptions value) noexcept { options_ = value; }
  [[nodiscard]] std::int32_t MaxAuthRetries() const noexcept { return maxAuthRetries_; }
  void SetMaxAuthRetries(std::int32_t value) noexcept { maxAuthRetries_ = value; }
  [[nodiscard]] bool AllowCookies() const noexcept { return allowCookies_; }
  void SetAllowCookies(bool value) noexcept { allowCookies_ = value; }
  [[nodiscard]] TIdProxyConnectionInfo& ProxyParams() noexcept { return *proxyParams_; }
  void SetProxyParams(const TIdProxyConnectionInfo& value);
  [[nodiscard]] TIdHTTPRequest& Request() noexcept { return protocol_->Request(); }
  // Copies the request fields of `value` (as assigning one request record to another does).
  void SetRequest(const TIdHTTPRequest& value);
  [[nodiscard]] TIdCookieManager* CookieManager() const noexcept { return cookieManager_; }
  // Takes `value` without owning it; a manager the client made itself is freed first.
  void SetCookieManager(TIdCookieManager* value);
  [[nodiscard]] TIdZLibCompressorBase* Compressor() const noexcept { return compressor_; }
  void SetCompressor(TIdZLibCompressorBase* value);
  [[nodiscard]] TIdAuthenticationStore* AuthStore() const noexcept { return authStore_; }
  void SetAuthStore(TIdAuthenticationStore* value);
  [[nodiscard]] std::int32_t HeaderLineLimit() const noexcept { return headerLineLimit_; }
  void SetHeaderLineLimit(std::int32_t value) noexcept { headerLineLimit_ = value; }
  // Credentials (Request's user name and password, the URL's user information, an
  // authentication object) and the caller's own "Authorization" and "Cookie" lines go only to
  // the origin (scheme, host and port) of the URL the caller gave. A redirect to another origin
  // goes without them, and that origin's 401 is not answered. True lets them follow redirects
  // to any origin, for servers the caller trusts with them (curl's --location-trusted).
  [[nodiscard]] bool LocationTrusted() const noexcept { return locationTrusted_; }
  void SetLocationTrusted(bool value) noexcept { locationTrusted_ = value; }
  // Whether a server's 401 / the proxy's 407 may be answered by the system with the user's own
  // logon (Negotiate; NTLM too on Windows). Off unless the caller turns it on: the logon is
  // offered only to peers the caller chose. A user name in Request / ProxyParams selects given
  // credentials instead where the system can use them (Windows).
  [[nodiscard]] bool LogonForServer() const noexcept { return logonForServer_; }
  void SetLogonForServer(bool value) noexcept { logonForServer_ = value; }
  [[nodiscard]] bool LogonForProxy() const noexcept { return logonForProxy_; }
  void SetLogonForProxy(bool value) noexcept { logonForProxy_ = value; }
  // With LogonForProxy: the proxy gets the logon through Kerberos alone (a ticket for its own
  // service name, Negotiate that cannot fall back to NTLM), for a proxy nobody vouched for. An
  // exchange begun under a wider permission does not go on under a narrower one.
  [[nodiscard]] bool LogonForProxyKerberosOnly() const noexcept { return proxyKerberosOnly_; }
  void SetLogonForProxyKerberosOnly(bool value) noexcept { proxyKerberosOnly_ = value; }

  // Whether the body of a refused answer is read (its first kMaxErrorBodyBytes) into
  // EIdHTTPProtocolException's BodyText. False, for a caller that shows only the status: the
  // text is left unread as any body nobody reads is (at most kMaxUnwantedBodyBytes read off the
  // connection to keep it) and BodyText is empty.
  [[nodiscard]] bool KeepErrorText() const noexcept { return keepErrorText_; }
  void SetKeepErrorText(bool value) noexcept { keepErrorText_ = value; }

  [[nodiscard]] TIdHTTPResponse& LastResponse() noexcept { return protocol_->Response(); }
  [[nodiscard]] std::int32_t StatusCode() { return LastResponse().StatusCode(); }
  [[nodiscard]] const std::string& StatusLine() noexcept { return LastResponse().StatusLine(); }
  [[nodiscard]] TIdURI& CurrentURI() noexcept { return *currentURI_; }
  [[nodiscard]] std::int32_t RedirectsSeen() const noexcept { return redirectsSeen_; }
  [[nodiscard]] std::int32_t ServerAuthAttempts() const noexcept { return serverAuthAttempts_; }
  [[nodiscard]] std::int32_t ProxyAuthAttempts() const noexcept { return proxyAuthAttempts_; }
  // True when the current CookieManager was made by the client and is freed by it.
  [[nodiscard]] bool OwnsCookieManager() const noexcept { return ownsCookieManager_; }

  TIdHTTPOnHeadersAvailable OnHeadersAvailable;
  TIdHTTPOnRedirectEvent OnRedirect;
  TIdOnSelectAuthorization OnSelectAuthorization;
  TIdOnSelectAuthorization OnSelectProxyAuthorization;
  TIdOnAuthorization OnAuthorization;
  TIdOnAuthorization OnProxyAuthorization;

  // Reads the body of `response` into its BodyStream by its framing (chunked, counted, until
  // close), inflating it through the Compressor when one can; the stream grows only by what
  // arrives. A positive `waitMs` first waits that long for bytes and reads nothing when none
  // arrived. A body cut short by the peer raises EIdHTTPIncompleteResponse with
  // `shortBodyIsError`, and otherwise ends quietly with what came; a cut or skipped body closes
  // the connection. Framing errors raise the EIdHTTPResponseError family.
  void ReadResponseBody(TIdHTTPResponse& response, std::int32_t waitMs,
                        bool shortBodyIsError = false);

  // Closes as the connection does, and runs the after-close step (OnDisconnected, then the
  // settling of finished authentications) exactly once for every connection the client opened:
  // here when the client closes it, and here too when the peer had closed it first (the
  // handler then closed itself while reading, without that step).
  void CloseConnection(bool ANotifyPeer = true) override;

 protected:
  // Whether the 401 of `response` can be answered with credentials on the next request; makes
  // the request's authentication object when it has none.
  virtual bool AuthorizeServer(TIdHTTPRequest& request, TIdHTTPResponse& response);
  // The same for a proxy's 407 with ProxyParams' object.
  virtual bool AuthorizeProxy(TIdHTTPRequest& request, TIdHTTPResponse& response);
  // Whether a redirect to `location` is followed; OnRedirect may change the location, the
  // method and the answer.
  virtual bool ConfirmRedirect(std::string& location, std::string& method,
                               std::int32_t redirectCount);
  // After the connection closed: a finished server authentication goes to the AuthStore and is
  // freed; a finished proxy authentication starts over.
  void DoOnDisconnected() override;
  // Marks the new connection as one whose end is still to be settled.
  void DoOnConnected() override;
  void Notification(TComponent* component, TOperation operation) override;

 private:
  [[nodiscard]] TIdRedirectVerdict JudgeRedirect(std::string& location,
                                                 std::string& method) override;
  [[nodiscard]] bool AnswerChallenge(bool server, TIdHTTPRequest& request,
                                     TIdHTTPResponse& response) override;
  [[nodiscard]] bool RestartAuthExchange(bool server, TIdAuthentication& scheme) override;
  // Who sent a challenge and what differs between answering a server and a proxy.
  struct TAuthParty;
  // The one routine behind AuthorizeServer and AuthorizeProxy.
  [[nodiscard]] bool Authorize(TAuthParty& party);
  // On a new connection: an exchange whose next leg needed the previous connection (the peer
  // closed it, announced or not) starts again with its first leg.
  void RestartConnectionBoundExchanges();
  // Judges the response `protocol` just read and keeps what it says about the connection.
  [[nodiscard]] TIdHTTPNextStep TakeNextStep(TIdHTTPProtocol& protocol,
                                             const TIdIgnoreReplies& ignoreReplies);
  void RunRequestLoop(const std::string& url, TStream* responseContent, std::int64_t start,
                      const TIdIgnoreReplies& ignoreReplies);
  // `callerURL`: Request.URL is the caller's URL (whose user information becomes the
  // credentials), not a redirect's.
  void MergeRequestURL(bool callerURL);
  // Decides, for the target MergeRequestURL just set, whether credentials may go there; with
  // `callerURL` that target's origin becomes the one they were given for. An authentication
  // object made for another origin is put aside (the caller's) or dropped.
  void BindCredentialsToOrigin(bool callerURL);
  // Gives the request back an authentication object put aside for another origin.
  void RestoreWithheldAuthentication();
  // Writes the head of `protocol`'s request, without the caller's credentials when they may not
  // go to the current target.
  void WriteRequestHeadWithCredentialPolicy(TIdHTTPProtocol& protocol, const TIdURI* cookieUri);
  // Records that the request's current authentication object belongs to the current target.
  void BindAuthenticationToTarget();
  [[nodiscard]] TIdHTTPConnectionKind ChooseConnectionTarget();
  [[nodiscard]] std::string ProxyHostText();
  void OpenAndSendRequest();
  // OpenAndSendRequest and ReadStatusAndHeaders, sent once more on a new connection when a
  // reused one turns out to have been closed before any byte of an answer came back.
  void SendAndReadHead(TIdHTTPProtocol& protocol);
  [[nodiscard]] bool MayRepeatOnNewConnection(bool reused);
  void SetConnectionFields(TIdHTTPConnectionKind kind);
  void SetAcceptEncoding();
  void OpenTunnel();
  [[nodiscard]] bool ExchangeConnect(TIdHTTPProtocol& tunnel);
  void StartTlsInTunnel();
  // "host:port" of CurrentURI, the target of a CONNECT tunnel.
  [[nodiscard]] std::string TunnelTarget();
  void EnsureConnected(TIdHTTPResponse& response);
  void ReadStatusAndHeaders(TIdHTTPProtocol& protocol);
  void StoreResponseCookies(TIdHTTPResponse& response);
  void AddRequestCookies(TIdHTTPRequest& request, const TIdURI& uri) override;
  void FreeOwnCookieManager();
  void CloseAfterRequest();
  void DropUncleanConnection();
  // Closes the connection and forgets what it had buffered.
  void DropConnection() override;

  std::unique_ptr<TIdHTTPProtocol> protocol_;
  std::unique_ptr<TIdURI> currentURI_;
  std::unique_ptr<TIdProxyConnectionInfo> proxyParams_;
  TIdCookieManager* cookieManager_ = nullptr;
  bool ownsCookieManager_ = false;
  TIdZLibCompressorBase* compressor_ = nullptr;
  TIdAuthenticationStore* authStore_ = nullptr;

  bool handleRedirects_ = false;
  std::int32_t redirectMaximum_ = DefaultRedirectMaximum;
  TIdHTTPProtocolVersion protocolVersion_ = pv1_1;
  TIdHTTPOptions options_{hoForceEncodeParams};
  std::int32_t maxAuthRetries_ = DefaultMaxAuthRetries;
  bool logonForServer_ = false;
  bool logonForProxy_ = false;
  bool proxyKerberosOnly_ = false;
  bool allowCookies_ = true;
  std::int32_t headerLineLimit_ = DefaultHeaderLineLimit;
  bool locationTrusted_ = false;
  bool keepErrorText_ = true;

  // Origins ("http://host:80", lower case): the caller's URL of the current request, and the
  // target of the current pass.
  std::string requestOrigin_;
  std::string passOrigin_;
  bool credentialsAllowed_ = true;
  // The authentication object whose origin is known, and that origin; any other object in the
  // request record was put there by the caller and belongs to the caller's URL.
  const TIdAuthentication* boundAuthentication_ = nullptr;
  std::string authenticationOrigin_;
  // The caller's authentication object while a redirect visits another origin.
  std::unique_ptr<TIdAuthentication> withheldAuthentication_;

  std::int32_t redirectsSeen_ = 0;
  std::int32_t serverAuthAttempts_ = 0;
  std::int32_t proxyAuthAttempts_ = 0;
  // Whether a connection-bound exchange (NTLM) of this request already started over after the
  // peer closed between its legs; it does so once.
  bool authRestarted_ = false;
  // Set when the connection cannot serve another request whatever the response said: the
  // application stopped before the body, an error text ran past its cap, the framing was
  // suspect, or the protocol was switched.
  bool closeAfterRequest_ = false;
  // Set while a connection the client opened has not had its after-close step.
  bool disconnectPending_ = false;
  // The target of the CONNECT tunnel the open connection carries; empty for any other one.
  std::string tunnelTarget_;
};

// The client as programs use it: TIdCustomHTTP with every property public; it adds
// nothing else.
class TIdHTTP : public TIdCustomHTTP {
 public:
  using TIdCustomHTTP::TIdCustomHTTP;
};

}  // namespace brixa
