// Proxy settings whose credentials are dropped whenever the proxy changes.

#include "http/message/proxy_connection_info.h"

#include "http/auth/auth_basic.h"
#include "http/client/http_exceptions.h"
#include "http/message/header_list.h"
#include "runtime/text/text.h"

namespace brixa {

TIdProxyConnectionInfo::TIdProxyConnectionInfo() = default;

TIdProxyConnectionInfo::~TIdProxyConnectionInfo() = default;

void TIdProxyConnectionInfo::ResetFields() {
  proxyServer_.clear();
  proxyUsername_.clear();
  proxyPassword_.clear();
  proxyPort_ = 0;
}

void TIdProxyConnectionInfo::SetProxyPort(std::int32_t value) {
  if (value != proxyPort_) authScheme_.reset();
  proxyPort_ = value;
}

void TIdProxyConnectionInfo::SetProxyServer(std::string value) {
  if (!SameTextNoCase(value, proxyServer_)) authScheme_.reset();
  proxyServer_ = std::move(value);
}

void TIdProxyConnectionInfo::WriteFields(TIdHeaderList& headers, const TIdAuthRequest& request) {
  if (!authScheme_ && basicAuthentication_) {
    auto basic = std::make_unique<TIdBasicAuthentication>();
    basic->StoreUsername(proxyUsername_);
    basic->StorePassword(proxyPassword_);
    authScheme_ = std::move(basic);
  }
  if (!authScheme_) return;
  authScheme_->SetRequest(request);
  const std::string value = authScheme_->BuildAuthorization();
  if (!value.empty()) headers.SetHeaderValue("Proxy-Authorization", value);
}

void TIdProxyConnectionInfo::CopyFields(TIdHeaderRecord& destination) const {
  auto* proxy = dynamic_cast<TIdProxyConnectionInfo*>(&destination);
  if (proxy == nullptr) throw EConvertError(AssignErrorText(ClassName(), destination.ClassName()));
  proxy->proxyPassword_ = proxyPassword_;
  proxy->SetProxyPort(proxyPort_);
  proxy->SetProxyServer(proxyServer_);
  proxy->proxyUsername_ = proxyUsername_;
  proxy->basicAuthentication_ = basicAuthentication_;
}

}  // namespace brixa
