#pragma once
// TIdProxyConnectionInfo: the client's HTTP proxy settings and its Proxy-Authorization header.

#include <cstdint>
#include <memory>
#include <string>

#include "http/auth/authentication.h"
#include "http/message/header_record.h"

namespace brixa {

class TIdHeaderList;

// The HTTP proxy settings of a client and the proxy's credentials header.
//
// The record owns the scheme object negotiated with the proxy. Pointing the record at another
// proxy (a different port, or a server name that differs other than in letter case) frees that
// object, so credentials negotiated with one proxy are never sent to another.
class TIdProxyConnectionInfo : public TIdHeaderRecord {
 public:
  TIdProxyConnectionInfo();
  ~TIdProxyConnectionInfo() override;

  // Adds "Proxy-Authorization" to `headers` when the scheme object (made as Basic from
  // ProxyUsername/ProxyPassword when BasicAuthentication is on and none exists) gives a value
  // for `request`, the request those headers go with.
  void WriteFields(TIdHeaderList& headers, const TIdAuthRequest& request = {});
  // ProxyServer, ProxyUsername, ProxyPassword empty; ProxyPort 0.
  void ResetFields();
  [[nodiscard]] const char* ClassName() const noexcept override { return "TIdProxyConnectionInfo"; }
  // Into another proxy record: password, port, server, user name, BasicAuthentication.
  void CopyFields(TIdHeaderRecord& destination) const override;

  [[nodiscard]] TIdAuthentication* AuthScheme() const noexcept { return authScheme_.get(); }
  void SetAuthScheme(std::unique_ptr<TIdAuthentication> scheme) noexcept {
    authScheme_ = std::move(scheme);
  }
  void FreeAuthScheme() noexcept { authScheme_.reset(); }
  [[nodiscard]] const std::string& ProxyPassword() const noexcept { return proxyPassword_; }
  void SetProxyPassword(std::string value) { proxyPassword_ = std::move(value); }
  [[nodiscard]] std::int32_t ProxyPort() const noexcept { return proxyPort_; }
  void SetProxyPort(std::int32_t value);
  [[nodiscard]] const std::string& ProxyServer() const noexcept { return proxyServer_; }
  void SetProxyServer(std::string value);
  [[nodiscard]] const std::string& ProxyUsername() const noexcept { return proxyUsername_; }
  void SetProxyUsername(std::string value) { proxyUsername_ = std::move(value); }
  [[nodiscard]] bool BasicAuthentication() const noexcept { return basicAuthentication_; }
  void SetBasicAuthentication(bool value) noexcept { basicAuthentication_ = value; }

 private:
  std::unique_ptr<TIdAuthentication> authScheme_;
  std::string proxyPassword_;
  std::int32_t proxyPort_ = 0;
  std::string proxyServer_;
  std::string proxyUsername_;
  bool basicAuthentication_ = false;
};

}  // namespace brixa
