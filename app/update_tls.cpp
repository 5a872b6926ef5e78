#include "app/update_tls.h"

#include "http/http.h"
#include "transport/ssl_openssl.h"

namespace brixa {

void AttachUpdateTls(TIdHTTP& http, const std::string& pinnedCaPem) {
  auto* tls = new TIdSSLIOHandlerSocketOpenSSL(&http);  // owned by the client
  tls->SSLOptions().SetVerifyMode({sslvrfPeer});
  tls->SSLOptions().SetPinnedRootCertPEM(pinnedCaPem);
  http.SetIOHandler(tls);
}

}  // namespace brixa
