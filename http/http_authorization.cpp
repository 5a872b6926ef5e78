// Redirect confirmation, the answers to 401 / 407 challenges, what becomes of a finished
// authentication when the connection closes, and which targets credentials may go to.
#include "http/auth_digest.h"
#include "http/auth_negotiate.h"
#include "http/auth_ntlm.h"
#include "http/http.h"
#include "runtime/text.h"

namespace brixa {
namespace {

// Rounds of "ask the application" one challenge may take. A handler that claims to have
// supplied credentials but leaves the scheme asking again would otherwise loop for ever.
constexpr int kMaxApplicationRounds = 16;

// How much a challenge is preferred: Digest (by the strength of its algorithm) over any other
// registered scheme over Basic, which sends the password itself. NTLM without a DES to compute
// it ranks below Basic, and is taken only when nothing else is offered (its constructor then
// tells why it cannot answer). 0: not answerable.
int ChallengePreference(std::string_view word, const std::string& line) {
  if (SameTextNoCase(word, "Digest")) {
    const int strength = DigestChallengeStrength(line);
    return strength == 0 ? 0 : 100 + strength;
  }
  if (SameTextNoCase(word, "Basic")) return 2;
  if (SameTextNoCase(word, "NTLM") && !NTLMDesAvailable()) return 1;
  return 50;
}

// The user's logon, where the caller allows it and the system can answer: above every scheme
// that sends something derived from a password.
constexpr int kLogonPreference = 1000;

// Who may answer with the logon, and as whom.
struct TLogonPermit {
  bool allowed = false;
  std::string user;
  std::string password;
};

// The scheme of the most preferred challenge whose scheme word names a registered scheme (or a
// logon scheme the permit allows); the first of equals.
TIdAuthenticationClass SchemeFor(const TIdHeaderList& challenges, const TLogonPermit& logon = {}) {
  TIdAuthenticationClass best;
  int bestPreference = 0;
  for (const std::string& line : challenges.Lines()) {
    std::string rest = line;
    const std::string word = TakeUpTo(rest, " ");
    const bool byLogon = logon.allowed && LogonSchemeFor(word) &&
                         LogonSchemeUsable(word, logon.user, logon.password);
    const TIdAuthenticationClass found = byLogon ? LogonSchemeFor(word) : FindAuthScheme(word);
    if (!found) continue;
    const int preference = byLogon ? kLogonPreference : ChallengePreference(word, line);
    if (preference > bestPreference) {
      best = found;
      bestPreference = preference;
    }
  }
  return best;
}

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

bool TIdCustomHTTP::AuthorizeServer(TIdHTTPRequest& request, TIdHTTPResponse& response) {
  ++serverAuthAttempts_;
  // Another origin's challenge is never answered with what the caller gave for its own.
  if (!credentialsAllowed_) return false;
  if (request.AuthScheme() == nullptr) {
    const TLogonPermit logon{LogonForServer(), request.Username(), request.Password()};
    TIdAuthenticationClass scheme = SchemeFor(response.WWWAuthenticate(), logon);
    if (!scheme) return false;
    if (OnSelectAuthorization) OnSelectAuthorization(this, scheme, response.WWWAuthenticate());
    if (!scheme) return false;
    request.SetAuthScheme(scheme.Create());
    BindAuthenticationToTarget();
  }
  TIdAuthentication& auth = *request.AuthScheme();
  const bool byLogon = PrepareLogonScheme(auth, CurrentURI().Host());
  if (!byLogon && !OnAuthorization && Trim(request.Password()).empty()) return false;
  auth.StoreUsername(request.Username());
  auth.StorePassword(request.Password());
  auth.Params().SetHeaderValue("Authorization", auth.BuildAuthorization());
  auth.SetAuthParams(response.WWWAuthenticate());
  for (int round = 0; round < kMaxApplicationRounds; ++round) {
    const TAuthNextAction action = auth.Next();
    if (action == naRetry) return true;
    // Without a handler nobody can supply what the scheme asks for.
    if (action == naFail || !OnAuthorization) return false;
    auth.StoreUsername(request.Username());
    auth.StorePassword(request.Password());
    bool handled = false;
    OnAuthorization(this, &auth, handled);
    if (!handled) return false;
    request.SetBasicAuthentication(true);
    request.SetUsername(auth.Username());
    request.SetPassword(auth.Password());
  }
  return false;
}

bool TIdCustomHTTP::AuthorizeProxy(TIdHTTPRequest& /*request*/, TIdHTTPResponse& response) {
  ++proxyAuthAttempts_;
  TIdProxyConnectionInfo& proxy = ProxyParams();
  if (proxy.AuthScheme() == nullptr) {
    const TLogonPermit logon{LogonForProxy(), proxy.ProxyUsername(), proxy.ProxyPassword()};
    TIdAuthenticationClass scheme = SchemeFor(response.ProxyAuthenticate(), logon);
    if (!scheme) return false;
    if (OnSelectProxyAuthorization) {
      OnSelectProxyAuthorization(this, scheme, response.ProxyAuthenticate());
    }
    if (scheme) proxy.SetAuthScheme(scheme.Create());
  }
  if (proxy.AuthScheme() == nullptr) return false;
  TIdAuthentication& auth = *proxy.AuthScheme();
  if (!PrepareLogonScheme(auth, proxy.ProxyServer()) && !OnProxyAuthorization) return false;
  auth.StoreUsername(proxy.ProxyUsername());
  auth.StorePassword(proxy.ProxyPassword());
  auth.SetAuthParams(response.ProxyAuthenticate());
  for (int round = 0; round < kMaxApplicationRounds; ++round) {
    const TAuthNextAction action = auth.Next();
    if (action == naRetry) return true;
    if (action == naFail) return false;
    auth.StoreUsername(proxy.ProxyUsername());
    auth.StorePassword(proxy.ProxyPassword());
    bool handled = false;
    OnProxyAuthorization(this, &auth, handled);
    if (!handled) return false;
    proxy.SetProxyUsername(auth.Username());
    proxy.SetProxyPassword(auth.Password());
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
  if (TIdAuthentication* auth = Request().AuthScheme();
      auth != nullptr && auth->Step() == auth->StepCount()) {
    if (authStore_ != nullptr) authStore_->AddAuthentication(*auth, CurrentURI());
    if (auth->NeedsKeepAlive()) {
      Request().SetAuthScheme(nullptr);
      boundAuthentication_ = nullptr;
    }
  }
  if (TIdAuthentication* proxyAuth = ProxyParams().AuthScheme();
      proxyAuth != nullptr && proxyAuth->Step() == proxyAuth->StepCount()) {
    proxyAuth->Restart();
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
