// The TLS handler the updater's clients get, and the CA bundle it trusts.

#include "update/net/update_tls.h"

#include <utility>

#include "http/client/http.h"
#include "transport/tls/ssl_backend.h"

namespace brixa {

namespace {

std::string& CaPem() {
  static std::string pem;  // the program sets its compiled-in CAs at start-up
  return pem;
}

}  // namespace

void AttachUpdateTls(TIdHTTP& http) {
  // The platform's own TLS: on Windows nothing beside the program, and a trust store the
  // system keeps current.
  auto tls = NewTlsIOHandler(DefaultTlsBackend(), &http);
  tls->SSLOptions().SetVerifyMode({sslvrfPeer});
  tls->SSLOptions().SetPinnedRootCertPEM(UpdateCaPem());
  http.SetIOHandler(tls.release());  // owned by the client
}

const std::string& UpdateCaPem() {
  return CaPem();
}

void SetUpdateCaPem(std::string APem) {
  CaPem() = std::move(APem);
}

}  // namespace brixa
