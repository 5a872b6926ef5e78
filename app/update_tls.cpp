#include "app/update_tls.h"

#include <utility>

#include "brixa/build_config.h"
#include "http/http.h"
#include "transport/ssl_openssl.h"

namespace brixa {

namespace {

std::string& CaPem() {
  static std::string pem = kUpdateCaPem;
  return pem;
}

}  // namespace

void AttachUpdateTls(TIdHTTP& http) {
  auto* tls = new TIdSSLIOHandlerSocketOpenSSL(&http);  // owned by the client
  tls->SSLOptions().SetVerifyMode({sslvrfPeer});
  tls->SSLOptions().SetPinnedRootCertPEM(UpdateCaPem());
  http.SetIOHandler(tls);
}

const std::string& UpdateCaPem() {
  return CaPem();
}

void SetUpdateCaPem(std::string APem) {
  CaPem() = std::move(APem);
}

}  // namespace brixa
