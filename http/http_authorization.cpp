// Redirect confirmation and the answers to 401 / 407 challenges, and what becomes of a
// finished authentication when the connection closes.
#include "http/http.h"
#include "runtime/text.h"

namespace brixa {
namespace {

// Rounds of "ask the application" one challenge may take. A handler that claims to have
// supplied credentials but leaves the scheme asking again would otherwise loop for ever.
constexpr int kMaxApplicationRounds = 16;

// The first challenge whose scheme word names a registered scheme.
TIdAuthenticationClass SchemeFor(const TIdHeaderList& challenges) {
  for (const std::string& line : challenges.Lines()) {
    std::string rest = line;
    const std::string word = TakeUpTo(rest, " ");
    if (const TIdAuthenticationClass found = FindAuthScheme(word)) return found;
  }
  return {};
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

bool TIdCustomHTTP::AuthorizeServer(TIdHTTPRequest& request, TIdHTTPResponse& response) {
  ++serverAuthAttempts_;
  if (request.AuthScheme() == nullptr) {
    TIdAuthenticationClass scheme = SchemeFor(response.WWWAuthenticate());
    if (!scheme) return false;
    if (OnSelectAuthorization) OnSelectAuthorization(this, scheme, response.WWWAuthenticate());
    if (!scheme) return false;
    request.SetAuthScheme(scheme.Create());
  }
  if (!OnAuthorization && Trim(request.Password()).empty()) return false;
  TIdAuthentication& auth = *request.AuthScheme();
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
    TIdAuthenticationClass scheme = SchemeFor(response.ProxyAuthenticate());
    if (!scheme) return false;
    if (OnSelectProxyAuthorization) {
      OnSelectProxyAuthorization(this, scheme, response.ProxyAuthenticate());
    }
    if (scheme) proxy.SetAuthScheme(scheme.Create());
  }
  if (proxy.AuthScheme() == nullptr || !OnProxyAuthorization) return false;
  TIdAuthentication& auth = *proxy.AuthScheme();
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

void TIdCustomHTTP::DoOnDisconnected() {
  disconnectPending_ = false;
  TIdTCPClientCustom::DoOnDisconnected();
  if (TIdAuthentication* auth = Request().AuthScheme();
      auth != nullptr && auth->Step() == auth->StepCount()) {
    if (authStore_ != nullptr) authStore_->AddAuthentication(*auth, CurrentURI());
    Request().SetAuthScheme(nullptr);
  }
  if (TIdAuthentication* proxyAuth = ProxyParams().AuthScheme();
      proxyAuth != nullptr && proxyAuth->Step() == proxyAuth->StepCount()) {
    proxyAuth->Restart();
  }
}

}  // namespace brixa
