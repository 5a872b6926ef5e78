#pragma once
// The choice of TLS implementation (OpenSSL or the system's) and the factory of TLS I/O handlers.

#include <memory>
#include <optional>
#include <string_view>

#include "transport/tls/ssl_io_handler.h"

namespace brixa {

class TComponent;

// Which TLS implementation a handler runs on. tbSystem is the platform's own: Schannel with
// the Windows trust store on Windows; elsewhere OpenSSL with the system's trusted CAs.
enum class TIdTlsBackend { tbOpenSSL, tbSystem };

// The backend the products use unless told otherwise: the system's on Windows (nothing to
// ship beside the program), OpenSSL elsewhere (which is the system's there).
[[nodiscard]] TIdTlsBackend DefaultTlsBackend() noexcept;

// "openssl" or "system"; empty for anything else.
[[nodiscard]] std::optional<TIdTlsBackend> TlsBackendFromName(std::string_view AName) noexcept;

// A new TLS handler of the backend, TLSActive() false. With an owner the owner deletes it too,
// so a caller that hands the handler over releases the pointer.
[[nodiscard]] std::unique_ptr<TIdSSLIOHandlerSocketBase> NewTlsIOHandler(
    TIdTlsBackend ABackend, TComponent* AOwner = nullptr);

}  // namespace brixa
