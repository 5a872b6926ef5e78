#pragma once

#include <string>

#include "platform/dynamic_library.h"

// Parts of the Winsock stack that tests reach directly. Defined only in the Windows build.
namespace brixa::detail {

// Loads the named socket library (with the missing-file dialog suppressed) and starts it for
// version 2.2; unloads it again when starting fails. Raises EIdStackInitializationFailed whose
// message begins with "Error on loading Winsock2 library (<name>)". Used once per process with
// "WS2_32.DLL"; a test may try a name that does not exist.
[[nodiscard]] TDynamicLibrary LoadAndStartSocketLibrary(const std::string& AFileName);
// Stops and unloads a library that LoadAndStartSocketLibrary returned. Loads are counted by the
// system, so a test's own load and unload leave the process's library in place.
void StopAndUnloadSocketLibrary(TDynamicLibrary&& ALibrary);

// Whether the system resolver (GetAddrInfoW and friends) is in use. A test may switch it off to
// exercise the fall-back lookup; it is switched back on only if the probe found it.
[[nodiscard]] bool WinsockResolverAvailable();
void SetWinsockResolverEnabled(bool AEnabled);

}  // namespace brixa::detail
