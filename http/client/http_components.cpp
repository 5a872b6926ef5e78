// The client's links to the components it borrows (cookie manager, decompressor, store of
// finished authentications) and the cookie traffic through the manager.
#include "http/client/http.h"
#include "runtime/text/text.h"
#include "transport/tls/ssl_io_handler.h"

namespace brixa {

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
