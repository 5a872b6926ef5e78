// On Windows the system backend is Schannel and the default; OpenSSL stays available by name.

#include "transport/tls/ssl_backend.h"
#include "transport/tls/ssl_openssl.h"
#include "transport/tls/ssl_schannel_windows.h"

namespace brixa {

TIdTlsBackend DefaultTlsBackend() noexcept {
  return TIdTlsBackend::tbSystem;
}

std::unique_ptr<TIdSSLIOHandlerSocketBase> NewTlsIOHandler(TIdTlsBackend ABackend,
                                                           TComponent* AOwner) {
  if (ABackend == TIdTlsBackend::tbOpenSSL) {
    return std::make_unique<TIdSSLIOHandlerSocketOpenSSL>(AOwner);
  }
  return std::make_unique<TIdSSLIOHandlerSocketSchannel>(AOwner);
}

}  // namespace brixa
