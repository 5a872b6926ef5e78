#pragma once
// TLS for the update server: certificate checks against the compiled-in CAs or the system's.

#include <string>

namespace brixa {

class TIdHTTP;

// Gives `http` a TLS I/O handler (owned by the client) that checks an https update server:
// its certificate must chain to the CAs of UpdateCaPem(), or to the system's trusted CAs when
// that is empty, and name the server. Plain http URLs go through it in clear. Nothing falls
// back to clear text: a failed check fails the request.
void AttachUpdateTls(TIdHTTP& http);

// The CA certificates (PEM) an https update server must chain to: the ones compiled in with
// BRIXA_UPDATE_CA unless SetUpdateCaPem replaced them. Read on the main thread only.
[[nodiscard]] const std::string& UpdateCaPem();
// Replaces them, for the rest of the process (tests aim the updater at their own servers).
void SetUpdateCaPem(std::string APem);

}  // namespace brixa
