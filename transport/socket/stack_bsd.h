#pragma once
// TIdStackBSDBase: the socket calls common to every BSD-style socket library.

#include <memory>
#include <string>

#include "transport/socket/stack.h"

namespace brixa {

// The part of the stack that is the same over every BSD-style socket library: socket
// addresses, endpoints, the send/receive contracts, options and multicast, all built on a few
// raw calls the platform stack supplies. Option levels and names are Winsock-numbered
// throughout (the platform translates them in its raw option calls).
class TIdStackBSDBase : public TIdStack {
 public:
  [[nodiscard]] TIdStackSocketHandle OpenSocket(int AType, int AProtocol, bool AOverlapped,
                                                TIdIPVersion AIPVersion) override;
  void BindSocket(TIdStackSocketHandle ASocket, const std::string& AIP, TIdIPVersion AIPVersion,
                  std::uint16_t APort) override;
  void ConnectSocket(TIdStackSocketHandle ASocket, const std::string& AIP, TIdIPVersion AIPVersion,
                     std::uint16_t APort) override;
  void Listen(TIdStackSocketHandle ASocket, int ABacklog) override;
  [[nodiscard]] TIdStackSocketHandle Accept(TIdStackSocketHandle ASocket,
                                            TIdEndpoint& VPeer) override;
  void ShutdownAndClose(TIdStackSocketHandle ASocket) override;
  [[nodiscard]] TIdEndpoint LocalEndpoint(TIdStackSocketHandle ASocket) override;
  [[nodiscard]] TIdEndpoint RemoteEndpoint(TIdStackSocketHandle ASocket) override;

  int SendBytes(TIdStackSocketHandle ASocket, const TIdByteArray& ABuffer, int ASize = -1,
                int AOffset = 0) override;
  int ReceiveBytes(TIdStackSocketHandle ASocket, TIdByteArray& ABuffer) override;
  int ReceiveFrom(TIdStackSocketHandle ASocket, TIdByteArray& ABuffer,
                  TIdEndpoint& VSender) override;
  int SendTo(TIdStackSocketHandle ASocket, const TIdByteArray& ABuffer, int AOffset, int ASize,
             const std::string& AIP, std::uint16_t APort, TIdIPVersion AIPVersion) override;

  [[nodiscard]] int GetOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName) override;
  void SetOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName, int AValue) override;
  void SetOptionBuffer(TIdStackSocketHandle ASocket, int ALevel, int AOptName, const void* AValue,
                       int ALength) override;
  void SetBlocking(TIdStackSocketHandle ASocket, bool ABlocking) override;
  [[nodiscard]] bool CheckIPVersionSupport(TIdIPVersion AIPVersion) override;

  void SetMulticastTTL(TIdStackSocketHandle ASocket, std::uint8_t ATTL,
                       TIdIPVersion AIPVersion) override;
  void SetLoopBack(TIdStackSocketHandle ASocket, bool AValue, TIdIPVersion AIPVersion) override;
  void AddMulticastMembership(TIdStackSocketHandle ASocket, const std::string& AGroupIP,
                              const std::string& ALocalIP, TIdIPVersion AIPVersion) override;
  void DropMulticastMembership(TIdStackSocketHandle ASocket, const std::string& AGroupIP,
                               const std::string& ALocalIP, TIdIPVersion AIPVersion) override;

  // The socket address for an address text: zero-filled, family, port in network order, the
  // address (any address when the text is empty). Raises EIdIPVersionUnsupported for another
  // version, EIdInvalidIPv6Address for bad IPv6 text and EConvertError for bad IPv4 text.
  [[nodiscard]] TIdSockAddr MakeSockAddr(const std::string& AIP, TIdIPVersion AIPVersion,
                                         std::uint16_t APort);
  // Address text, version and port of a socket address: IPv4 dotted, IPv6 as eight upper-case
  // hex groups without compression. Another family raises EIdIPVersionUnsupported.
  [[nodiscard]] TIdEndpoint ParseSockAddr(const TIdSockAddr& AAddress);

 protected:
  // The platform's address family number for a version (AF_INET / AF_INET6).
  [[nodiscard]] virtual int NativeFamily(TIdIPVersion AIPVersion) const = 0;
  // Raw calls as the platform library returns them: -1 (or an invalid socket) on failure with
  // the last socket error set, never raising.
  virtual int RawBind(TIdStackSocketHandle ASocket, const TIdSockAddr& AAddress) = 0;
  virtual int RawConnect(TIdStackSocketHandle ASocket, const TIdSockAddr& AAddress) = 0;
  virtual int RawListen(TIdStackSocketHandle ASocket, int ABacklog) = 0;
  [[nodiscard]] virtual TIdStackSocketHandle RawAccept(TIdStackSocketHandle ASocket,
                                                       TIdSockAddr& VAddress) = 0;
  virtual int RawLocalName(TIdStackSocketHandle ASocket, TIdSockAddr& VAddress) = 0;
  virtual int RawPeerName(TIdStackSocketHandle ASocket, TIdSockAddr& VAddress) = 0;
  virtual int RawSetOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName,
                           const void* AValue, int ALength) = 0;
};

// The stack class of this platform: the Winsock stack on Windows, the POSIX stack elsewhere.
[[nodiscard]] std::unique_ptr<TIdStack> NewPlatformStack();

}  // namespace brixa
