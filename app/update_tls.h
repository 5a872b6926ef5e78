#pragma once

#include <string>

namespace brixa {

class TIdHTTP;

// Gives `http` a TLS I/O handler (owned by the client) that checks an https update server:
// its certificate must chain to the CA compiled in with BRIXA_UPDATE_CA, or to the system's
// trusted CAs when none was, and name the server. Plain http URLs go through it in clear.
// Nothing falls back to clear text: a failed check fails the request.
void AttachUpdateTls(TIdHTTP& http, const std::string& pinnedCaPem);

}  // namespace brixa
