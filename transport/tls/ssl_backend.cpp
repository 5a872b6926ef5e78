// Backend names as given on a command line or in settings.

#include "transport/tls/ssl_backend.h"

namespace brixa {

std::optional<TIdTlsBackend> TlsBackendFromName(std::string_view AName) noexcept {
  if (AName == "openssl") return TIdTlsBackend::tbOpenSSL;
  if (AName == "system") return TIdTlsBackend::tbSystem;
  return std::nullopt;
}

}  // namespace brixa
