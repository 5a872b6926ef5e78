#pragma once
// TIdSocketHandle: one socket with its local and remote endpoints, bound, connected, waited on
// and closed through the stack.

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/core/sync.h"
#include "runtime/text/bytes.h"
#include "transport/socket/socket_list.h"
#include "transport/socket/stack_consts.h"

namespace brixa {

// One socket with its local and remote endpoints.
//
// The handle takes a use of the process-wide stack for its whole life, so it may close its
// socket in its destructor whatever else has gone. One thread uses a handle at a time, with one
// exception: ReleaseSocket may run on another thread while ConnectToRemote blocks (a connect
// with a time limit closes the socket under a connect thread); the connection lock makes the
// close and the endpoint refresh at the end of the connect exclusive.
class TIdSocketHandle {
 public:
  TIdSocketHandle();
  ~TIdSocketHandle();  // closes the socket
  TIdSocketHandle(const TIdSocketHandle&) = delete;
  TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

  // Closes any open socket, then opens one of IPVersion() with the overlapped flag.
  void OpenHandle(int AType = Id_SOCK_STREAM, int AProtocol = Id_IPPROTO_IP);
  // Binds to IP():Port(), or to the highest free port of ClientPortMin..ClientPortMax when
  // Port() is 0 and both bounds are set; refreshes IP, Port and IPVersion from the system.
  // Raises EIdCouldNotBindSocket, EIdInvalidPortRange or EIdCanNotBindPortInRange.
  void BindLocal();
  // Connects to RemoteIP():RemotePort(); afterwards (when the socket is still open) both
  // endpoints are refreshed from the system.
  void ConnectToRemote();
  void Listen(int ABacklog = 5);
  // Waits for one connection on AListener and takes it over (closing what this handle held),
  // with its endpoints.
  void Accept(TIdStackSocketHandle AListener);
  // Shuts down and closes the socket, if one is open; safe to call from another thread while
  // ConnectToRemote blocks.
  void ReleaseSocket();

  // True when data (or the end of the stream) can be read within ATimeout ms
  // (TimeoutUseDefault and TimeoutInfinite wait without limit; 0 polls). Raises
  // EIdConnClosedGracefully "Connection Closed Gracefully." when no socket is open, even for 0.
  // With an anti-freeze in use on the main thread the wait is cut into slices of its
  // IdleTimeOut, letting it process between slices.
  [[nodiscard]] bool WaitReadable(int ATimeout);
  // True when a send would take bytes within ATimeout ms (same limits as WaitReadable, without
  // the anti-freeze slicing: only non-blocking sockets wait for this, briefly).
  [[nodiscard]] bool WaitWritable(int ATimeout);
  // Switches the open socket between blocking and non-blocking calls.
  void SetBlocking(bool ABlocking);

  // One send / one receive through the stack (see TIdStack::SendBytes / ReceiveBytes).
  int Send(const TIdByteArray& ABuffer, int ASize = -1, int AOffset = 0);
  int Receive(TIdByteArray& VBuffer);
  // One receive straight into caller memory (ALength > 0); -1 from the system raises.
  // Returns 0 when the peer closed.
  int Receive(void* AData, int ALength);

  [[nodiscard]] int GetSockOpt(int ALevel, int AOptName);
  void SetSockOpt(int ALevel, int AOptName, int AValue);

  // Stores the peer to connect to (the version change follows the IPVersion rule).
  void SetPeer(const std::string& AIP, std::uint16_t APort, TIdIPVersion AIPVersion = Id_IPv4);
  // Closes any open socket; clears the remote endpoint, IPVersion back to Id_IPv4, and with
  // AResetLocal also IP and Port.
  void Reset(bool AResetLocal = true);
  // Refresh IP, Port and IPVersion (local) or RemoteIP and RemotePort (remote) from the system.
  void UpdateLocalEndpoint();
  void UpdateRemoteEndpoint();

  [[nodiscard]] const std::string& IP() const noexcept { return ip_; }
  void SetIP(const std::string& AValue) { ip_ = AValue; }
  [[nodiscard]] std::uint16_t Port() const noexcept { return port_; }
  void SetPort(std::uint16_t AValue) noexcept { port_ = AValue; }
  [[nodiscard]] std::uint16_t ClientPortMin() const noexcept { return clientPortMin_; }
  void SetClientPortMin(std::uint16_t AValue) noexcept { clientPortMin_ = AValue; }
  [[nodiscard]] std::uint16_t ClientPortMax() const noexcept { return clientPortMax_; }
  void SetClientPortMax(std::uint16_t AValue) noexcept { clientPortMax_ = AValue; }
  [[nodiscard]] TIdIPVersion IPVersion() const noexcept { return ipVersion_; }
  // Raises EIdCannotSetIPVersionWhenConnected for a different value while a socket is open.
  void SetIPVersion(TIdIPVersion AValue);
  [[nodiscard]] bool BroadcastEnabled() const noexcept { return broadcastEnabled_; }
  // Applied at once (SO_BROADCAST) when a socket is open.
  void SetBroadcastEnabled(bool AValue);
  [[nodiscard]] const std::string& RemoteIP() const noexcept { return remoteIP_; }
  void SetRemoteIP(const std::string& AValue) { remoteIP_ = AValue; }
  [[nodiscard]] std::uint16_t RemotePort() const noexcept { return remotePort_; }
  void SetRemotePort(std::uint16_t AValue) noexcept { remotePort_ = AValue; }
  [[nodiscard]] bool Overlapped() const noexcept { return overlapped_; }
  void SetOverlapped(bool AValue) noexcept { overlapped_ = AValue; }

  [[nodiscard]] TIdStackSocketHandle SocketId() const noexcept { return socketId_.load(); }
  // Moves ReadList to the new socket. Does not close the old one.
  void SetSocketId(TIdStackSocketHandle AValue);
  [[nodiscard]] bool IsAllocated() const noexcept { return SocketId() != Id_INVALID_SOCKET; }

  // Holds exactly this handle's socket (nothing while none is open).
  [[nodiscard]] const TIdSocketList& ReadList() const noexcept { return readList_; }

 private:
  [[nodiscard]] bool CheckReadable(int ATimeout);
  [[nodiscard]] bool TryBind(std::uint16_t APort);

  std::string ip_;
  std::uint16_t port_ = 0;
  std::uint16_t clientPortMin_ = 0;
  std::uint16_t clientPortMax_ = 0;
  TIdIPVersion ipVersion_ = Id_IPv4;
  bool broadcastEnabled_ = false;
  bool overlapped_ = false;
  std::string remoteIP_;
  std::uint16_t remotePort_ = 0;
  std::atomic<TIdStackSocketHandle> socketId_{Id_INVALID_SOCKET};
  TIdCriticalSection connectionLock_;
  TIdSocketList readList_;
};

}  // namespace brixa
