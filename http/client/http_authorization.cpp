// Redirect confirmation, the answers to 401 / 407 challenges, what becomes of a finished
// authentication when the connection closes, and which targets credentials may go to.
#include <functional>

#include "http/auth/logon/auth_negotiate.h"
#include "http/client/http.h"
#include "runtime/text/text.h"

namespace brixa {
namespace {

// Rounds of "ask the application" one challenge may take. A handler that claims to have
// supplied credentials but leaves the scheme asking again would otherwise loop for ever.
constexpr int kMaxApplicationRounds = 16;

// "scheme://host:port" in lower case, the port always written: what a credential is bound to.
std::string OriginOf(const TIdURI& uri) {
  const bool https = SameTextNoCase(uri.Protocol(), "https");
  const std::string port = uri.PortText().empty() ? (https ? "443" : "80") : uri.PortText();
  return LowerCase(uri.Protocol()) + "://" + LowerCase(uri.Host()) + ":" + port;
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
  };
  return Authorize(proxyParty);
}

bool TIdCustomHTTP::Authorize(TAuthParty& party) {
  if (!party.MayAnswer) return false;
  if (party.Scheme() == nullptr) {
    // Only what can be answered is ranked: ranking may load what a scheme needs.
    TIdAuthenticationClass scheme = ChooseAuthScheme(party.Challenges, party.HasCredentials);
    // The logon is asked only where the caller allows it, and wins where it can answer.
    if (party.Logon) {
      scheme = PreferLogonScheme(scheme, party.Challenges, party.Username(), party.Password());
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

}  // namespace brixa
