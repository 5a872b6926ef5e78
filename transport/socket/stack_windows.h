#pragma once
// Parts of the Winsock stack that tests reach directly. Defined only in the Windows build.

#include <string>

#include "platform/library/dynamic_library.h"
#include "transport/socket/stack_consts.h"

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

// Whether an optional function was found when the resolver was probed: "InetPtonW",
// "InetNtopW", the "...AddrInfoExW" functions, and the socket-security functions of
// "Fwpuclnt.dll". None is required; the resolver works without them.
[[nodiscard]] bool WinsockOptionalFunctionFound(const std::string& AName);
// The socket provider's extension function `AName` ("TransmitFile", "AcceptEx",
// "GetAcceptExSockaddrs", "TransmitPackets", "ConnectEx", "DisconnectEx", "WSARecvMsg",
// "WSASendMsg", "WSAPoll") for the provider of the open socket; the older ones come from
// "MSWSOCK.DLL" when the provider does not hand them out. Raises EIdWinsockStubError titled
// "Error on call to Winsock2 library function <name>" with the last socket error when there is
// none.
[[nodiscard]] void* WinsockExtensionFunction(TIdStackSocketHandle ASocket,
                                             const std::string& AName);

}  // namespace brixa::detail
