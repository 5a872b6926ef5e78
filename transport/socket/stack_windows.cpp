// The Winsock 2 stack. The socket library is loaded at run time and never linked: each entry
// point is looked up by name on its first call, so start-up costs one library load and one
// WSAStartup, and a missing entry point fails only the call that needs it.
#include "transport/socket/stack_windows.h"

#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>
// After the socket headers, which it needs.
#include <mswsock.h>

#include <array>
#include <atomic>
#include <bit>
#include <cstring>
#include <mutex>

#include "platform/core/exception.h"
#include "platform/core/system_error.h"
#include "platform/library/dynamic_library.h"
#include "platform/system/wide_text_windows.h"
#include "runtime/text/format_invariant.h"
#include "transport/socket/stack_bsd.h"
#include "transport/socket/stack_exceptions.h"

namespace brixa {

namespace {

constexpr char kWinsockLibrary[] = "WS2_32.DLL";
constexpr char kIPv6ResolverLibrary[] = "Wship6.dll";
constexpr char kSocketSecurityLibrary[] = "Fwpuclnt.dll";
constexpr char kExtensionLibrary[] = "MSWSOCK.DLL";
constexpr DWORD kGetExtensionFunctionPointer = 0xC8000006;
constexpr WORD kWinsockVersion = 0x0202;
constexpr int kHostNameMax = 256;
constexpr int kNameInfoMax = 1025;
constexpr int kResolverSystemError = 11;

// ---- The library and its entry points ------------------------------------------------------

// The process's socket library, loaded once under gLoadLock; gWinsock points at it while it is
// loaded, so entry points bind without taking the lock.
TDynamicLibrary gWinsockLibrary;
std::atomic<const TDynamicLibrary*> gWinsock{nullptr};

struct EntryPoint {
  const char* name;
  std::atomic<FARPROC> address{nullptr};
};

[[noreturn]] void RaiseStubError(int number, const char* function) {
  throw EIdWinsockStubError(number, SystemErrorText(static_cast<unsigned long>(number)),
                            FormatInvariant(RSWinsockCallError, function));
}

// The entry point's address, looked up and kept on first use. Two threads binding the same
// entry point at once both store the same address.
[[nodiscard]] FARPROC Bound(EntryPoint& entry) {
  if (FARPROC known = entry.address.load(std::memory_order_acquire)) return known;
  const TDynamicLibrary* library = gWinsock.load();
  if (library == nullptr) RaiseStubError(Id_WSANOTINITIALISED, entry.name);
  const auto found = library->Function<FARPROC>(entry.name);
  if (found == nullptr) RaiseStubError(Id_WSAEINVAL, entry.name);
  entry.address.store(found, std::memory_order_release);
  return found;
}

template <class Fn>
[[nodiscard]] Fn Call(EntryPoint& entry) {
  return std::bit_cast<Fn>(Bound(entry));
}

// Every entry point the stack uses, one per line (the list stays as written).
// clang-format off
#define BRIXA_WINSOCK_ENTRIES(X)         \
  X(WSAStartup)                          \
  X(WSACleanup)                          \
  X(WSAGetLastError)                     \
  X(WSASetLastError)                     \
  X(socket)                              \
  X(WSASocketW)                          \
  X(bind)                                \
  X(connect)                             \
  X(listen)                              \
  X(accept)                              \
  X(closesocket)                         \
  X(shutdown)                            \
  X(recv)                                \
  X(send)                                \
  X(recvfrom)                            \
  X(sendto)                              \
  X(getsockopt)                          \
  X(setsockopt)                          \
  X(getsockname)                         \
  X(getpeername)                         \
  X(ioctlsocket)                         \
  X(select)                              \
  X(gethostname)                         \
  X(gethostbyname)                       \
  X(gethostbyaddr)                       \
  X(getservbyname)                       \
  X(getservbyport)                       \
  X(WSAIoctl)
// clang-format on

#define BRIXA_DEFINE_ENTRY(fn) EntryPoint g_##fn{#fn};
BRIXA_WINSOCK_ENTRIES(BRIXA_DEFINE_ENTRY)
#undef BRIXA_DEFINE_ENTRY

#define BRIXA_LIST_ENTRY(fn) &g_##fn,
EntryPoint* const kAllEntries[] = {BRIXA_WINSOCK_ENTRIES(BRIXA_LIST_ENTRY)};
#undef BRIXA_LIST_ENTRY

// WS(fn) is the library's fn, with the prototype the Winsock headers declare.
#define WS(fn) Call<decltype(&::fn)>(g_##fn)

void ForgetEntryPoints() {
  for (EntryPoint* entry : kAllEntries) entry->address.store(nullptr);
}

// ---- The optional system resolver ----------------------------------------------------------

struct Resolver {
  decltype(&::GetAddrInfoW) getAddrInfo = nullptr;
  decltype(&::GetNameInfoW) getNameInfo = nullptr;
  decltype(&::FreeAddrInfoW) freeAddrInfo = nullptr;
  TDynamicLibrary extraLibrary;  // Wship6.dll, when the functions came from there
  bool found = false;
};

// Functions looked up with the resolver but never required: none of them is on the client
// road, and a system without them still resolves.
struct OptionalFunction {
  const char* name;
  bool socketSecurity;  // from Fwpuclnt.dll rather than the resolver's library
  void* address = nullptr;
};

// Written under gLoadLock.
OptionalFunction gOptional[] = {
    {"InetPtonW", false},
    {"InetNtopW", false},
    {"GetAddrInfoExW", false},
    {"SetAddrInfoExW", false},
    {"FreeAddrInfoExW", false},
    {"WSASetSocketPeerTargetName", true},
    {"WSADeleteSocketPeerTargetName", true},
    {"WSAImpersonateSocketPeer", true},
    {"WSAQuerySocketSecurity", true},
    {"WSARevertImpersonation", true},
};
TDynamicLibrary gSocketSecurityLibrary;

void ProbeOptionalFunctions(const TDynamicLibrary& resolverLibrary) {
  (void)gSocketSecurityLibrary.Load(kSocketSecurityLibrary);
  for (OptionalFunction& function : gOptional) {
    const TDynamicLibrary& source =
        function.socketSecurity ? gSocketSecurityLibrary : resolverLibrary;
    function.address = source.Symbol(function.name);
  }
}

void ForgetOptionalFunctions() {
  for (OptionalFunction& function : gOptional) function.address = nullptr;
  gSocketSecurityLibrary.Free();
}

// The socket provider's extension functions, fetched through an I/O control on a socket. The
// older ones are also exported by MSWSOCK.DLL, which is loaded for them when the provider
// does not answer.
struct ExtensionFunction {
  const char* name;
  GUID id;
  bool older;
  std::atomic<void*> address{nullptr};
};

ExtensionFunction gExtensions[] = {
    {"TransmitFile", WSAID_TRANSMITFILE, true},
    {"AcceptEx", WSAID_ACCEPTEX, true},
    {"GetAcceptExSockaddrs", WSAID_GETACCEPTEXSOCKADDRS, true},
    {"TransmitPackets", WSAID_TRANSMITPACKETS, false},
    {"ConnectEx", WSAID_CONNECTEX, false},
    {"DisconnectEx", WSAID_DISCONNECTEX, false},
    {"WSARecvMsg", WSAID_WSARECVMSG, false},
    {"WSASendMsg", WSAID_WSASENDMSG, false},
    {"WSAPoll", WSAID_WSAPOLL, false},
};
std::mutex gExtensionLock;  // guards gExtensionLibrary
TDynamicLibrary gExtensionLibrary;

void ForgetExtensionFunctions() {
  for (ExtensionFunction& function : gExtensions) function.address.store(nullptr);
  std::lock_guard guard(gExtensionLock);
  gExtensionLibrary.Free();
}

[[nodiscard]] ExtensionFunction& ExtensionNamed(const std::string& name) {
  for (ExtensionFunction& function : gExtensions) {
    if (name == function.name) return function;
  }
  RaiseStubError(Id_WSAEINVAL, name.c_str());
}

[[nodiscard]] void* OlderExtensionFromLibrary(const char* name) {
  std::lock_guard guard(gExtensionLock);
  if (!gExtensionLibrary.Loaded() && !gExtensionLibrary.Load(kExtensionLibrary)) return nullptr;
  return gExtensionLibrary.Symbol(name);
}

Resolver gResolver;  // written once, under gLoadLock, before any lookup
std::atomic<bool> gResolverEnabled{false};
std::mutex gLoadLock;

// GetAddrInfoW from the socket library, else from Wship6.dll; usable only when GetNameInfoW and
// FreeAddrInfoW come with it. Every Windows this runs on belongs to the NT family from 5.0 on.
void ProbeResolver(const TDynamicLibrary& winsock) {
  using GetAddrInfoFn = decltype(&::GetAddrInfoW);
  Resolver resolver;
  const TDynamicLibrary* source = &winsock;
  resolver.getAddrInfo = source->Function<GetAddrInfoFn>("GetAddrInfoW");
  if (resolver.getAddrInfo == nullptr && resolver.extraLibrary.Load(kIPv6ResolverLibrary)) {
    source = &resolver.extraLibrary;
    resolver.getAddrInfo = source->Function<GetAddrInfoFn>("GetAddrInfoW");
  }
  if (resolver.getAddrInfo != nullptr) {
    resolver.getNameInfo = source->Function<decltype(&::GetNameInfoW)>("GetNameInfoW");
    resolver.freeAddrInfo = source->Function<decltype(&::FreeAddrInfoW)>("FreeAddrInfoW");
  }
  resolver.found = resolver.getAddrInfo != nullptr && resolver.getNameInfo != nullptr &&
                   resolver.freeAddrInfo != nullptr;
  if (resolver.found) ProbeOptionalFunctions(*source);
  if (!resolver.found) resolver = Resolver{};
  gResolver = std::move(resolver);
  gResolverEnabled.store(gResolver.found);
}

// Unloads everything when the process ends: the resolver library, then the socket library.
struct LibraryUnloader {
  ~LibraryUnloader() {
    if (gWinsock.exchange(nullptr) == nullptr) return;
    gResolverEnabled.store(false);
    ForgetOptionalFunctions();
    gResolver = Resolver{};
    ForgetExtensionFunctions();
    ForgetEntryPoints();
    detail::StopAndUnloadSocketLibrary(std::move(gWinsockLibrary));
  }
};

// Loads and starts the socket library the first time a stack is made; a failed attempt leaves
// nothing loaded, so a later stack tries again.
void EnsureSocketLibrary() {
  static LibraryUnloader unloader;
  std::lock_guard guard(gLoadLock);
  if (gWinsock.load() != nullptr) return;
  gWinsockLibrary = detail::LoadAndStartSocketLibrary(kWinsockLibrary);
  ProbeResolver(gWinsockLibrary);
  gWinsock.store(&gWinsockLibrary);
}

// ---- Helpers -------------------------------------------------------------------------------

// GetAddrInfoW's failure numbers as socket error numbers. Winsock already returns its own
// numbers (11001 for host not found), which pass unchanged; the small numbers are the
// resolver's generic codes.
[[nodiscard]] int ResolverErrorNumber(int code) {
  switch (code) {
    case 1:
      return 0;
    case 2:
      return Id_WSATRY_AGAIN;
    case 3:
      return Id_WSAEINVAL;
    case 4:
      return Id_WSANO_RECOVERY;
    case 5:
      return Id_WSAEAFNOSUPPORT;
    case 6:
      return 8;
    case 7:
      return Id_WSANO_DATA;
    case 8:
      return Id_WSAHOST_NOT_FOUND;
    case 9:
      return 10109;
    case 10:
      return 10044;
    default:
      return code;
  }
}

[[nodiscard]] SOCKET Native(TIdStackSocketHandle socket) {
  return socket == Id_INVALID_SOCKET ? INVALID_SOCKET : static_cast<SOCKET>(socket);
}

[[nodiscard]] TIdStackSocketHandle Ours(SOCKET socket) {
  return socket == INVALID_SOCKET ? Id_INVALID_SOCKET : static_cast<TIdStackSocketHandle>(socket);
}

// A process this one starts (the updater's installer) must never inherit a socket: it would
// hold the connection open, and the peer would not see it end, until the child exits.
// WSA_FLAG_NO_HANDLE_INHERIT makes the socket so atomically; systems older than Windows 7 SP1
// reject the flag (10022), and there the handle is changed right after it is made.
constexpr DWORD kSocketFlags = WSA_FLAG_OVERLAPPED;  // what socket() gives its sockets too

[[nodiscard]] SOCKET NonInheritable(SOCKET socket) {
  if (socket != INVALID_SOCKET) {
    (void)SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
  }
  return socket;
}

[[nodiscard]] const sockaddr* AsNative(const TIdSockAddr& address) {
  return reinterpret_cast<const sockaddr*>(address.Bytes);
}
[[nodiscard]] sockaddr* AsNative(TIdSockAddr& address) {
  return reinterpret_cast<sockaddr*>(address.Bytes);
}

// A GetAddrInfoW result list, freed with FreeAddrInfoW however the caller leaves.
class AddressList {
 public:
  AddressList() = default;
  ~AddressList() {
    if (list_ != nullptr) gResolver.freeAddrInfo(list_);
  }
  AddressList(const AddressList&) = delete;
  AddressList& operator=(const AddressList&) = delete;
  ADDRINFOW** Out() { return &list_; }
  [[nodiscard]] const ADDRINFOW* First() const { return list_; }

 private:
  ADDRINFOW* list_ = nullptr;
};

[[nodiscard]] TIdSockAddr CopiedAddress(const sockaddr* address, std::size_t length) {
  TIdSockAddr copy;
  length = std::min<std::size_t>(length, sizeof copy.Bytes);
  std::memcpy(copy.Bytes, address, length);
  copy.Length = static_cast<int>(length);
  return copy;
}

// ---- The stack -----------------------------------------------------------------------------

class TIdStackWindows final : public TIdStackBSDBase {
 public:
  TIdStackWindows() { EnsureSocketLibrary(); }

  std::string NameToAddress(const std::string& AHost, TIdIPVersion AIPVersion) override;
  std::string AddressToName(const std::string& AAddress, TIdIPVersion AIPVersion) override;
  std::string LocalHostName() override;
  void AddLocalAddressesToList(std::vector<std::string>& AList) override;
  bool SupportsIPv6() override { return gResolverEnabled.load() && CheckIPVersionSupport(Id_IPv6); }
  std::uint16_t ServiceToPort(const std::string& AService) override;
  std::vector<std::string> PortToServices(std::uint16_t APort) override;
  int IOControl(TIdStackSocketHandle ASocket, std::uint32_t ACommand,
                std::uint32_t& VValue) override {
    u_long value = VValue;
    const int result = WS(ioctlsocket)(Native(ASocket), static_cast<long>(ACommand), &value);
    VValue = static_cast<std::uint32_t>(value);
    return result;
  }

  // Both kinds come out overlapped, as socket() makes them; the flag only matters to callers
  // that ask for overlapped I/O explicitly.
  TIdStackSocketHandle RawSocket(int AFamily, int AType, int AProtocol, bool AOverlapped) override {
    const SOCKET made = WS(WSASocketW)(AFamily, AType, AProtocol, nullptr, 0,
                                       kSocketFlags | WSA_FLAG_NO_HANDLE_INHERIT);
    if (made != INVALID_SOCKET || WS(WSAGetLastError)() != WSAEINVAL) return Ours(made);
    if (AOverlapped) {
      return Ours(
          NonInheritable(WS(WSASocketW)(AFamily, AType, AProtocol, nullptr, 0, kSocketFlags)));
    }
    return Ours(NonInheritable(WS(socket)(AFamily, AType, AProtocol)));
  }
  int RawClose(TIdStackSocketHandle ASocket) override { return WS(closesocket)(Native(ASocket)); }
  int RawShutdown(TIdStackSocketHandle ASocket, int AHow) override {
    return WS(shutdown)(Native(ASocket), AHow);
  }
  int RawReceive(TIdStackSocketHandle ASocket, void* AData, int ALength, int AFlags) override {
    return WS(recv)(Native(ASocket), static_cast<char*>(AData), ALength, AFlags);
  }
  int RawSend(TIdStackSocketHandle ASocket, const void* AData, int ALength, int AFlags) override {
    return CheckSocketResult(
        WS(send)(Native(ASocket), static_cast<const char*>(AData), ALength, AFlags));
  }
  int RawReceiveFrom(TIdStackSocketHandle ASocket, void* AData, int ALength, int AFlags,
                     TIdSockAddr& VFrom) override {
    int length = sizeof VFrom.Bytes;
    const int result = WS(recvfrom)(Native(ASocket), static_cast<char*>(AData), ALength, AFlags,
                                    AsNative(VFrom), &length);
    VFrom.Length = length;
    return result;
  }
  int RawSendTo(TIdStackSocketHandle ASocket, const void* AData, int ALength, int AFlags,
                const TIdSockAddr& ATo) override {
    return WS(sendto)(Native(ASocket), static_cast<const char*>(AData), ALength, AFlags,
                      AsNative(ATo), ATo.Length);
  }
  int RawGetOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName, void* VValue,
                   int& VLength) override {
    return WS(getsockopt)(Native(ASocket), ALevel, AOptName, static_cast<char*>(VValue), &VLength);
  }
  int RawSelect(TIdSocketSet* VRead, TIdSocketSet* VWrite, TIdSocketSet* VExcept,
                int ATimeout) override;
  int ReceiveMsg(TIdStackSocketHandle ASocket, TIdByteArray& VBuffer, TIdByteArray& VControl,
                 TIdEndpoint& VSender) override;

  int LastSocketError() override { return WS(WSAGetLastError)(); }
  void SetLastSocketError(int AError) override { WS(WSASetLastError)(AError); }

 protected:
  int NativeFamily(TIdIPVersion AIPVersion) const override {
    return AIPVersion == Id_IPv6 ? AF_INET6 : AF_INET;
  }
  int RawBind(TIdStackSocketHandle ASocket, const TIdSockAddr& AAddress) override {
    return WS(bind)(Native(ASocket), AsNative(AAddress), AAddress.Length);
  }
  int RawConnect(TIdStackSocketHandle ASocket, const TIdSockAddr& AAddress) override {
    return WS(connect)(Native(ASocket), AsNative(AAddress), AAddress.Length);
  }
  int RawListen(TIdStackSocketHandle ASocket, int ABacklog) override {
    return WS(listen)(Native(ASocket), ABacklog);
  }
  TIdStackSocketHandle RawAccept(TIdStackSocketHandle ASocket, TIdSockAddr& VAddress) override {
    int length = sizeof VAddress.Bytes;
    const SOCKET accepted =
        NonInheritable(WS(accept)(Native(ASocket), AsNative(VAddress), &length));
    VAddress.Length = length;
    return Ours(accepted);
  }
  int RawLocalName(TIdStackSocketHandle ASocket, TIdSockAddr& VAddress) override {
    int length = sizeof VAddress.Bytes;
    const int result = WS(getsockname)(Native(ASocket), AsNative(VAddress), &length);
    VAddress.Length = length;
    return result;
  }
  int RawPeerName(TIdStackSocketHandle ASocket, TIdSockAddr& VAddress) override {
    int length = sizeof VAddress.Bytes;
    const int result = WS(getpeername)(Native(ASocket), AsNative(VAddress), &length);
    VAddress.Length = length;
    return result;
  }
  int RawSetOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName, const void* AValue,
                   int ALength) override {
    return WS(setsockopt)(Native(ASocket), ALevel, AOptName, static_cast<const char*>(AValue),
                          ALength);
  }

 private:
  [[nodiscard]] std::string FirstAddressOf(const std::string& AHost, TIdIPVersion AIPVersion);
  [[nodiscard]] std::string FirstAddressWithoutResolver(const std::string& AHost);
};

std::string TIdStackWindows::NameToAddress(const std::string& AHost, TIdIPVersion AIPVersion) {
  CheckIPVersion(AIPVersion);
  if (gResolverEnabled.load()) return FirstAddressOf(AHost, AIPVersion);
  if (AIPVersion == Id_IPv6) throw EIdIPv6Unavailable(RSIPv6Unavailable);
  return FirstAddressWithoutResolver(AHost);
}

std::string TIdStackWindows::FirstAddressOf(const std::string& AHost, TIdIPVersion AIPVersion) {
  // A name with an embedded NUL would be looked up cut short; no such host exists.
  if (AHost.find('\0') != std::string::npos) ThrowSocketError(Id_WSAHOST_NOT_FOUND);
  ADDRINFOW hints{};
  hints.ai_family = NativeFamily(AIPVersion);
  hints.ai_socktype = SOCK_STREAM;
  const std::wstring host = WideFromUtf8(AHost);
  AddressList found;
  const int code = gResolver.getAddrInfo(host.c_str(), nullptr, &hints, found.Out());
  if (code == kResolverSystemError) {
    const DWORD error = ::GetLastError();
    throw EOSError(SystemErrorText(error), error);
  }
  if (code != 0) ThrowSocketError(ResolverErrorNumber(code));
  // Only the first address is used; there is no fall-back to the others.
  const ADDRINFOW* first = found.First();
  return ParseSockAddr(CopiedAddress(first->ai_addr, first->ai_addrlen)).IP;
}

std::string TIdStackWindows::FirstAddressWithoutResolver(const std::string& AHost) {
  const hostent* entry = WS(gethostbyname)(AHost.c_str());
  if (entry == nullptr || entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) {
    ThrowSocketError(LastSocketError());
  }
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(entry->h_addr_list[0]);
  return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
         std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}

std::string TIdStackWindows::AddressToName(const std::string& AAddress, TIdIPVersion AIPVersion) {
  const TIdSockAddr address = MakeSockAddr(AAddress, AIPVersion, 0);
  if (gResolverEnabled.load()) {
    std::array<wchar_t, kNameInfoMax> host{};
    const int code =
        gResolver.getNameInfo(AsNative(address), address.Length, host.data(),
                              static_cast<DWORD>(host.size()), nullptr, 0, NI_NAMEREQD);
    if (code != 0) ThrowSocketError(ResolverErrorNumber(code));
    return Utf8FromWide(host.data());
  }
  if (AIPVersion == Id_IPv6) throw EIdIPv6Unavailable(RSIPv6Unavailable);
  const char* ipv4 = reinterpret_cast<const char*>(address.Bytes + 4);
  const hostent* entry = WS(gethostbyaddr)(ipv4, 4, AF_INET);
  if (entry == nullptr) ThrowSocketError(LastSocketError());
  return entry->h_name;
}

std::string TIdStackWindows::LocalHostName() {
  std::array<char, kHostNameMax + 1> name{};
  CheckSocketResult(WS(gethostname)(name.data(), kHostNameMax));
  return name.data();
}

void TIdStackWindows::AddLocalAddressesToList(std::vector<std::string>& AList) {
  const std::string host = LocalHostName();
  if (!gResolverEnabled.load()) {
    const hostent* entry = WS(gethostbyname)(host.c_str());
    if (entry == nullptr) ThrowSocketError(LastSocketError());
    for (char** at = entry->h_addr_list; at != nullptr && *at != nullptr; ++at) {
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(*at);
      AList.push_back(std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
                      std::to_string(bytes[2]) + "." + std::to_string(bytes[3]));
    }
    return;
  }
  ADDRINFOW hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  const std::wstring wideHost = WideFromUtf8(host);
  AddressList found;
  const int code = gResolver.getAddrInfo(wideHost.c_str(), nullptr, &hints, found.Out());
  if (code != 0) ThrowSocketError(ResolverErrorNumber(code));
  for (const ADDRINFOW* entry = found.First(); entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET && entry->ai_family != AF_INET6) continue;
    AList.push_back(ParseSockAddr(CopiedAddress(entry->ai_addr, entry->ai_addrlen)).IP);
  }
}

std::uint16_t TIdStackWindows::ServiceToPort(const std::string& AService) {
  if (!AService.empty() && AService.size() <= 5 &&
      AService.find_first_not_of("0123456789") == std::string::npos) {
    const int port = std::stoi(AService);
    if (port <= kMaxPort) return static_cast<std::uint16_t>(port);
  }
  const servent* entry = AService.find('\0') == std::string::npos
                             ? WS(getservbyname)(AService.c_str(), nullptr)
                             : nullptr;
  if (entry == nullptr) throw EIdInvalidServiceName(AService + " is not a valid service.");
  return NetworkToHost(static_cast<std::uint16_t>(entry->s_port));
}

std::vector<std::string> TIdStackWindows::PortToServices(std::uint16_t APort) {
  std::vector<std::string> names;
  const servent* entry = WS(getservbyport)(HostToNetwork(APort), nullptr);
  if (entry == nullptr) return names;
  names.emplace_back(entry->s_name);
  for (char** alias = entry->s_aliases; alias != nullptr && *alias != nullptr; ++alias) {
    names.emplace_back(*alias);
  }
  return names;
}

int TIdStackWindows::ReceiveMsg(TIdStackSocketHandle ASocket, TIdByteArray& VBuffer,
                                TIdByteArray& VControl, TIdEndpoint& VSender) {
  Require(!VBuffer.empty(), "receive buffer not empty");
  const auto receiveMessage =
      reinterpret_cast<LPFN_WSARECVMSG>(detail::WinsockExtensionFunction(ASocket, "WSARecvMsg"));
  TIdSockAddr from;
  WSABUF data{static_cast<ULONG>(std::min<std::size_t>(VBuffer.size(), MAXLONG)),
              reinterpret_cast<CHAR*>(VBuffer.data())};
  WSAMSG message{};
  message.name = AsNative(from);
  message.namelen = sizeof from.Bytes;
  message.lpBuffers = &data;
  message.dwBufferCount = 1;
  message.Control.len = static_cast<ULONG>(VControl.size());
  message.Control.buf = VControl.empty() ? nullptr : reinterpret_cast<CHAR*>(VControl.data());
  DWORD received = 0;
  const int result = receiveMessage(Native(ASocket), &message, &received, nullptr, nullptr);
  // A datagram larger than the buffer arrives cut, as on POSIX systems, rather than as a failure
  // (some providers report the cut without MSG_TRUNC in the flags).
  if (result != 0 && LastSocketError() == Id_WSAEMSGSIZE) {
    received = data.len;
  } else {
    CheckSocketResult(result);
  }
  from.Length = message.namelen;
  VControl.resize(message.Control.len);
  VSender = ParseSockAddr(from);
  return static_cast<int>(received);
}

int TIdStackWindows::RawSelect(TIdSocketSet* VRead, TIdSocketSet* VWrite, TIdSocketSet* VExcept,
                               int ATimeout) {
  static_assert(FD_SETSIZE >= Id_SOCKET_SET_SIZE, "a descriptor set holds a socket list");
  fd_set native[3];
  TIdSocketSet* sets[3] = {VRead, VWrite, VExcept};
  fd_set* given[3] = {};
  for (int s = 0; s < 3; ++s) {
    if (sets[s] == nullptr) continue;
    native[s].fd_count = static_cast<u_int>(sets[s]->Count);
    for (int i = 0; i < sets[s]->Count; ++i) native[s].fd_array[i] = Native(sets[s]->Sockets[i]);
    given[s] = &native[s];
  }
  timeval limit{ATimeout / 1000, (ATimeout % 1000) * 1000};
  const int result = WS(select)(0, given[0], given[1], given[2], ATimeout < 0 ? nullptr : &limit);
  if (result < 0) return result;
  // Winsock leaves only the ready sockets in each set.
  for (int s = 0; s < 3; ++s) {
    if (sets[s] == nullptr) continue;
    sets[s]->Count = static_cast<int>(native[s].fd_count);
    for (u_int i = 0; i < native[s].fd_count; ++i)
      sets[s]->Sockets[i] = Ours(native[s].fd_array[i]);
  }
  return result;
}

}  // namespace

namespace detail {

TDynamicLibrary LoadAndStartSocketLibrary(const std::string& AFileName) {
  const std::string title = FormatInvariant(RSWinsockLoadError, AFileName);
  try {
    TDynamicLibrary library;
    if (!library.Load(AFileName)) {
      throw EIdWinsockStubError(static_cast<int>(library.ErrorCode()), library.ErrorText(), title);
    }
    const auto startup = library.Function<decltype(&::WSAStartup)>("WSAStartup");
    WSADATA data{};
    const int started = startup == nullptr ? Id_WSAEINVAL : startup(kWinsockVersion, &data);
    if (started != 0) {
      throw EIdWinsockStubError(started, SystemErrorText(static_cast<unsigned long>(started)),
                                title);
    }
    return library;
  } catch (const Exception& failure) {
    throw EIdStackInitializationFailed(failure.Message());
  }
}

void StopAndUnloadSocketLibrary(TDynamicLibrary&& ALibrary) {
  TDynamicLibrary library = std::move(ALibrary);
  if (const auto cleanup = library.Function<decltype(&::WSACleanup)>("WSACleanup")) cleanup();
}

bool WinsockResolverAvailable() {
  return gResolverEnabled.load();
}

void SetWinsockResolverEnabled(bool AEnabled) {
  std::lock_guard guard(gLoadLock);
  gResolverEnabled.store(AEnabled && gResolver.found);
}

bool WinsockOptionalFunctionFound(const std::string& AName) {
  std::lock_guard guard(gLoadLock);
  for (const OptionalFunction& function : gOptional) {
    if (AName == function.name) return function.address != nullptr;
  }
  return false;
}

void* WinsockExtensionFunction(TIdStackSocketHandle ASocket, const std::string& AName) {
  ExtensionFunction& function = ExtensionNamed(AName);
  if (void* known = function.address.load(std::memory_order_acquire)) return known;
  GUID id = function.id;
  void* found = nullptr;
  DWORD length = 0;
  const int result = WS(WSAIoctl)(Native(ASocket), kGetExtensionFunctionPointer, &id, sizeof id,
                                  &found, sizeof found, &length, nullptr, nullptr);
  const int error = result == 0 ? 0 : WS(WSAGetLastError)();
  if ((result != 0 || found == nullptr) && function.older) {
    found = OlderExtensionFromLibrary(function.name);
  }
  if (found == nullptr) RaiseStubError(error, function.name);
  function.address.store(found, std::memory_order_release);
  return found;
}

}  // namespace detail

std::unique_ptr<TIdStack> NewPlatformStack() {
  return std::make_unique<TIdStackWindows>();
}

}  // namespace brixa
