// On POSIX both backends are OpenSSL.

#include "transport/tls/ssl_backend.h"
#include "transport/tls/ssl_openssl.h"

namespace brixa {

TIdTlsBackend DefaultTlsBackend() noexcept {
  return TIdTlsBackend::tbOpenSSL;
}

// OpenSSL is the system's TLS here, and its default verify paths are the system's trust store.
std::unique_ptr<TIdSSLIOHandlerSocketBase> NewTlsIOHandler(TIdTlsBackend /*ABackend*/,
                                                           TComponent* AOwner) {
  return std::make_unique<TIdSSLIOHandlerSocketOpenSSL>(AOwner);
}

}  // namespace brixa
