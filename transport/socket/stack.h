#pragma once
// TIdStack, the socket layer: the only code that calls the operating system's socket library,
// with one instance per process.

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "runtime/text/bytes.h"
#include "runtime/text/ip_text.h"
#include "transport/socket/stack_consts.h"

namespace brixa {

// A socket address in the layout both supported platforms share: the family as a host-order
// 16-bit value, the port in network order, then the address (IPv4 at byte 4, IPv6 at byte 8).
// Length is 16 for IPv4 and 28 for IPv6.
struct TIdSockAddr {
  alignas(8) std::uint8_t Bytes[Id_SOCKADDR_MAX] = {};
  int Length = Id_SOCKADDR_MAX;
};

// The most sockets one wait can watch (the size of a Winsock descriptor set).
inline constexpr int Id_SOCKET_SET_SIZE = 64;

// A set of sockets for a readiness wait.
struct TIdSocketSet {
  int Count = 0;
  TIdStackSocketHandle Sockets[Id_SOCKET_SET_SIZE] = {};
};

// The socket layer: the only code that talks to the operating system's socket library.
//
// One instance exists per process while anything uses it (see GStack). Every failing call
// raises: EIdSocketError (EIdNotASocket for 10038) carrying the Winsock error number and the
// message "Socket Error # <n>\r\n<text>", identical on every platform. Sockets are blocking;
// time limits come from select-style waits. All operations may be called from any thread.
class TIdStack {
 public:
  TIdStack() = default;
  virtual ~TIdStack();
  TIdStack(const TIdStack&) = delete;
  TIdStack& operator=(const TIdStack&) = delete;

  // --- Names and addresses -------------------------------------------------------------------

  // "LOCALHOST" (any case) -> "127.0.0.1" and IPv4 literals unchanged for Id_IPv4; the canonical
  // form of an IPv6 literal for Id_IPv6; anything else goes to NameToAddress.
  [[nodiscard]] std::string ResolveHostAddress(const std::string& AHost, TIdIPVersion AIPVersion);
  // Exactly four "."-separated decimal pieces, each 0..255.
  [[nodiscard]] static bool IsIPv4Literal(const std::string& AText);

  // The first address a name lookup gives, as text. Host not found raises 11001.
  [[nodiscard]] virtual std::string NameToAddress(const std::string& AHost,
                                                  TIdIPVersion AIPVersion) = 0;
  // Reverse lookup; a failed lookup raises its socket error.
  [[nodiscard]] virtual std::string AddressToName(const std::string& AAddress,
                                                  TIdIPVersion AIPVersion) = 0;
  [[nodiscard]] virtual std::string LocalHostName() = 0;
  // The machine's own addresses, gathered on first use and kept while the stack lives.
  [[nodiscard]] const std::vector<std::string>& LocalAddresses();
  virtual void AddLocalAddressesToList(std::vector<std::string>& AList) = 0;
  [[nodiscard]] virtual bool SupportsIPv6() = 0;
  // Opens and closes a socket of the version's family.
  [[nodiscard]] virtual bool CheckIPVersionSupport(TIdIPVersion AIPVersion) = 0;
  // A service name or a decimal number 0..65535 -> port; else EIdInvalidServiceName.
  [[nodiscard]] virtual std::uint16_t ServiceToPort(const std::string& AService) = 0;
  // The names the services database knows for a port (empty when none).
  [[nodiscard]] virtual std::vector<std::string> PortToServices(std::uint16_t APort) = 0;

  // --- Sockets -------------------------------------------------------------------------------

  [[nodiscard]] virtual TIdStackSocketHandle OpenSocket(int AType, int AProtocol, bool AOverlapped,
                                                        TIdIPVersion AIPVersion) = 0;
  // An empty address binds to any address.
  virtual void BindSocket(TIdStackSocketHandle ASocket, const std::string& AIP,
                          TIdIPVersion AIPVersion, std::uint16_t APort) = 0;
  virtual void ConnectSocket(TIdStackSocketHandle ASocket, const std::string& AIP,
                             TIdIPVersion AIPVersion, std::uint16_t APort) = 0;
  virtual void Listen(TIdStackSocketHandle ASocket, int ABacklog) = 0;
  // Waits for a connection on a listening socket; the peer lands in VPeer.
  [[nodiscard]] virtual TIdStackSocketHandle Accept(TIdStackSocketHandle ASocket,
                                                    TIdEndpoint& VPeer) = 0;
  // shutdown(send) then close; both results ignored.
  virtual void ShutdownAndClose(TIdStackSocketHandle ASocket) = 0;
  [[nodiscard]] virtual TIdEndpoint LocalEndpoint(TIdStackSocketHandle ASocket) = 0;
  [[nodiscard]] virtual TIdEndpoint RemoteEndpoint(TIdStackSocketHandle ASocket) = 0;

  // --- Data ----------------------------------------------------------------------------------

  // One send of the bytes from AOffset on (at most ASize of them when ASize >= 0). Returns what
  // the system accepted, which may be fewer; 0 without a call when nothing is to be sent.
  virtual int SendBytes(TIdStackSocketHandle ASocket, const TIdByteArray& ABuffer, int ASize = -1,
                        int AOffset = 0) = 0;
  // One receive into the whole buffer (which must not be empty); 0 means the peer closed.
  virtual int ReceiveBytes(TIdStackSocketHandle ASocket, TIdByteArray& ABuffer) = 0;
  // Datagram forms (not used by TCP clients).
  virtual int ReceiveFrom(TIdStackSocketHandle ASocket, TIdByteArray& ABuffer,
                          TIdEndpoint& VSender) = 0;
  virtual int SendTo(TIdStackSocketHandle ASocket, const TIdByteArray& ABuffer, int AOffset,
                     int ASize, const std::string& AIP, std::uint16_t APort,
                     TIdIPVersion AIPVersion) = 0;
  // One datagram with the control data the system attaches to it (what options such as
  // Id_IP_PKTINFO ask for) in the platform's own layout. VControl is the room offered and is
  // cut to what arrived; VSender is where the datagram came from. Returns the data length.
  virtual int ReceiveMsg(TIdStackSocketHandle ASocket, TIdByteArray& VBuffer,
                         TIdByteArray& VControl, TIdEndpoint& VSender) = 0;

  // --- Options and control -------------------------------------------------------------------

  [[nodiscard]] virtual int GetOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName) = 0;
  virtual void SetOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName, int AValue) = 0;
  virtual void SetOptionBuffer(TIdStackSocketHandle ASocket, int ALevel, int AOptName,
                               const void* AValue, int ALength) = 0;
  // ioctlsocket pass-through; returns the raw result (-1 on failure, not raised).
  virtual int IOControl(TIdStackSocketHandle ASocket, std::uint32_t ACommand,
                        std::uint32_t& VValue) = 0;
  virtual void SetBlocking(TIdStackSocketHandle ASocket, bool ABlocking) = 0;
  // True when a raw result failed with 10035 (any other failure raises).
  [[nodiscard]] bool WouldBlock(int AResult);

  virtual void SetMulticastTTL(TIdStackSocketHandle ASocket, std::uint8_t ATTL,
                               TIdIPVersion AIPVersion) = 0;
  virtual void SetLoopBack(TIdStackSocketHandle ASocket, bool AValue, TIdIPVersion AIPVersion) = 0;
  virtual void AddMulticastMembership(TIdStackSocketHandle ASocket, const std::string& AGroupIP,
                                      const std::string& ALocalIP, TIdIPVersion AIPVersion) = 0;
  virtual void DropMulticastMembership(TIdStackSocketHandle ASocket, const std::string& AGroupIP,
                                       const std::string& ALocalIP, TIdIPVersion AIPVersion) = 0;

  // --- Raw calls: return the system's result; only RawSend raises (on -1) --------------------

  [[nodiscard]] virtual TIdStackSocketHandle RawSocket(int AFamily, int AType, int AProtocol,
                                                       bool AOverlapped) = 0;
  virtual int RawClose(TIdStackSocketHandle ASocket) = 0;
  virtual int RawShutdown(TIdStackSocketHandle ASocket, int AHow) = 0;
  virtual int RawReceive(TIdStackSocketHandle ASocket, void* AData, int ALength, int AFlags) = 0;
  virtual int RawSend(TIdStackSocketHandle ASocket, const void* AData, int ALength, int AFlags) = 0;
  virtual int RawReceiveFrom(TIdStackSocketHandle ASocket, void* AData, int ALength, int AFlags,
                             TIdSockAddr& VFrom) = 0;
  virtual int RawSendTo(TIdStackSocketHandle ASocket, const void* AData, int ALength, int AFlags,
                        const TIdSockAddr& ATo) = 0;
  virtual int RawGetOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName, void* VValue,
                           int& VLength) = 0;
  // select() over up to three sets (null for none): waits until a member is ready or ATimeout
  // ms pass (TimeoutInfinite, or any negative value, for no limit; 0 polls) and leaves in each
  // set only its ready members. Returns the number of ready sockets, or -1 on failure.
  virtual int RawSelect(TIdSocketSet* VRead, TIdSocketSet* VWrite, TIdSocketSet* VExcept,
                        int ATimeout) = 0;

  // --- Errors --------------------------------------------------------------------------------

  // The calling thread's last socket error, as a Winsock number.
  [[nodiscard]] virtual int LastSocketError() = 0;
  virtual void SetLastSocketError(int AError) = 0;
  // For socket calls made outside the stack (a TLS library reading and writing the socket
  // itself): the calling thread's socket error as the system holds it now (errno on POSIX,
  // the Winsock error on Windows), as a Winsock number, 0 for none; it also becomes
  // LastSocketError(). Read right after the call that failed, before anything else runs.
  [[nodiscard]] virtual int TakeSystemSocketError() { return LastSocketError(); }
  // Clears that error and LastSocketError(), so that a failure without an error of its own is
  // never blamed on an earlier call.
  virtual void ClearSystemSocketError() { SetLastSocketError(0); }
  // "Socket Error # <n>\r\n<text>"; the text is empty for numbers without an entry.
  [[nodiscard]] virtual std::string TranslateSocketError(int AErrorCode);
  // Raises EIdNotASocket for 10038, EIdSocketError for every other number.
  [[noreturn]] virtual void ThrowSocketError(int AErrorCode);
  // -1 raises the last socket error; anything else is returned.
  int CheckSocketResult(int AResult);
  // -1 returns the last error when it is one of ATolerated, else raises it; anything else is
  // returned unchanged.
  int CheckSocketResult(int AResult, std::initializer_list<int> ATolerated);
  // Raises EIdIPVersionUnsupported unless the value is Id_IPv4 or Id_IPv6.
  static void CheckIPVersion(TIdIPVersion AIPVersion);

  // --- Byte order ----------------------------------------------------------------------------

  [[nodiscard]] static std::uint16_t HostToNetwork(std::uint16_t AValue);
  [[nodiscard]] static std::uint32_t HostToNetwork(std::uint32_t AValue);
  [[nodiscard]] static std::uint64_t HostToNetwork(std::uint64_t AValue);
  static void HostToNetwork(TIdIPv6Address& VAddress);
  [[nodiscard]] static std::uint16_t NetworkToHost(std::uint16_t AValue);
  [[nodiscard]] static std::uint32_t NetworkToHost(std::uint32_t AValue);
  [[nodiscard]] static std::uint64_t NetworkToHost(std::uint64_t AValue);
  static void NetworkToHost(TIdIPv6Address& VAddress);

  // --- Internet checksum ---------------------------------------------------------------------

  // The ones'-complement sum of the bytes taken as big-endian 16-bit words (RFC 1071), as the
  // value to put on the wire (high byte first).
  [[nodiscard]] static std::uint16_t CalcCheckSum(const TIdByteArray& AData);
  // Zeroes the two bytes at AOffset, sums the whole buffer and stores the checksum there.
  static void WriteChecksum(TIdByteArray& VBuffer, int AOffset);

 private:
  std::unique_ptr<std::vector<std::string>> localAddresses_;
};

// The process-wide stack. Valid while at least one use is taken (AcquireStack: every network
// component and input buffer takes one); calling it with no use taken is a programming error.
// When the instance could not be created (the socket library failed to start), each call tries
// again and raises the creation failure if it persists.
[[nodiscard]] TIdStack& GStack();

// The stack class to instantiate, chosen once at start-up (the platform's stack). Tests may
// swap it while no use is taken.
using TIdStackFactory = std::unique_ptr<TIdStack> (*)();
void SetStackClass(TIdStackFactory AFactory);
[[nodiscard]] TIdStackFactory StackClass();

// Creates / destroys the process-wide instance; installed as the stack usage hooks, so callers
// normally go through AcquireStack / ReleaseStack. Creating raises "Stack Class is undefined."
// without a stack class and "Stack already created." when an instance exists.
void CreateStackInstance();
void DestroyStackInstance();

}  // namespace brixa
