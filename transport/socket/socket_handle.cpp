// The socket handle's bind (with port ranges), connect, readiness waits and the close that may
// come from another thread during a connect.

#include "transport/socket/socket_handle.h"

#include <algorithm>
#include <memory>
#include <mutex>

#include "runtime/network_exception.h"
#include "runtime/stack_usage.h"
#include "runtime/work_component.h"
#include "transport/socket/stack.h"
#include "transport/socket/stack_exceptions.h"

namespace brixa {

namespace {

[[nodiscard]] std::string RangeMessage(const char* prefix, int low, int high) {
  return std::string(prefix) + " (" + std::to_string(low) + " - " + std::to_string(high) + ")";
}

}  // namespace

TIdSocketHandle::TIdSocketHandle() {
  AcquireStack();
}

TIdSocketHandle::~TIdSocketHandle() {
  try {
    ReleaseSocket();
  } catch (...) {
    // Closing ignores failures already; nothing else can raise here.
  }
  ReleaseStack();
}

void TIdSocketHandle::OpenHandle(int AType, int AProtocol) {
  ReleaseSocket();
  SetSocketId(GStack().OpenSocket(AType, AProtocol, overlapped_, ipVersion_));
  // The flag set while no socket was open takes effect on the new one.
  if (broadcastEnabled_) SetSockOpt(Id_SOL_SOCKET, Id_SO_BROADCAST, 1);
}

void TIdSocketHandle::BindLocal() {
  if (port_ != 0 || clientPortMin_ == 0 || clientPortMax_ == 0) {
    if (!TryBind(port_)) throw EIdCouldNotBindSocket(RSCannotBindSocket);
    return;
  }
  if (clientPortMax_ < clientPortMin_) {
    throw EIdInvalidPortRange(RangeMessage("Invalid Port Range", clientPortMin_, clientPortMax_));
  }
  // Highest first, so clients sharing a range spread from its top.
  for (int port = clientPortMax_; port >= clientPortMin_; --port) {
    if (TryBind(static_cast<std::uint16_t>(port))) return;
  }
  throw EIdCanNotBindPortInRange(
      RangeMessage("Can not bind in port range", clientPortMin_, clientPortMax_));
}

bool TIdSocketHandle::TryBind(std::uint16_t APort) {
  try {
    GStack().BindSocket(SocketId(), ip_, ipVersion_, APort);
    UpdateLocalEndpoint();
    return true;
  } catch (const Exception&) {
    return false;
  }
}

void TIdSocketHandle::ConnectToRemote() {
  GStack().ConnectSocket(SocketId(), remoteIP_, ipVersion_, remotePort_);
  // A connect with a time limit may have closed the socket under this thread meanwhile; only a
  // socket that is still open has endpoints to refresh.
  std::lock_guard guard(connectionLock_);
  if (!IsAllocated()) return;
  UpdateLocalEndpoint();
  UpdateRemoteEndpoint();
}

void TIdSocketHandle::Listen(int ABacklog) {
  GStack().Listen(SocketId(), ABacklog);
}

void TIdSocketHandle::Accept(TIdStackSocketHandle AListener) {
  ReleaseSocket();
  TIdEndpoint peer;
  SetSocketId(GStack().Accept(AListener, peer));
  UpdateLocalEndpoint();
  remoteIP_ = peer.IP;
  remotePort_ = peer.Port;
}

void TIdSocketHandle::ReleaseSocket() {
  if (!IsAllocated()) return;
  std::lock_guard guard(connectionLock_);
  const TIdStackSocketHandle socket = SocketId();
  if (socket == Id_INVALID_SOCKET) return;  // closed by another thread meanwhile
  // Not allocated before the close, so nobody picks up a descriptor that is going away.
  SetSocketId(Id_INVALID_SOCKET);
  GStack().ShutdownAndClose(socket);
}

bool TIdSocketHandle::WaitReadable(int ATimeout) {
  int remaining = ATimeout == TimeoutUseDefault ? TimeoutInfinite : ATimeout;
  if (TIdAntiFreezeBase::AntiFreezeApplies()) {
    // A slice of at least 1 ms: a zero or negative IdleTimeOut would otherwise spin (or block
    // for good) instead of slicing.
    const int slice = std::max(1, TIdAntiFreezeBase::Registered()->IdleTimeOut());
    if (remaining == TimeoutInfinite) {
      while (!CheckReadable(slice)) {
      }
      return true;
    }
    while (slice < remaining) {
      if (CheckReadable(slice)) return true;
      remaining -= slice;
    }
  }
  return CheckReadable(remaining);
}

bool TIdSocketHandle::CheckReadable(int ATimeout) {
  if (!IsAllocated()) throw EIdConnClosedGracefully(RSConnectionClosedGracefully);
  const bool readable = readList_.SelectRead(ATimeout);
  TIdAntiFreezeBase::RunAntiFreeze(!readable);
  return readable;
}

bool TIdSocketHandle::WaitWritable(int ATimeout) {
  if (!IsAllocated()) throw EIdConnClosedGracefully(RSConnectionClosedGracefully);
  const std::unique_ptr<TIdSocketList> writable = readList_.Clone();
  return TIdSocketList::Select(nullptr, writable.get(), nullptr,
                               ATimeout == TimeoutUseDefault ? TimeoutInfinite : ATimeout);
}

void TIdSocketHandle::SetBlocking(bool ABlocking) {
  if (!IsAllocated()) throw EIdConnClosedGracefully(RSConnectionClosedGracefully);
  GStack().SetBlocking(SocketId(), ABlocking);
}

int TIdSocketHandle::Send(const TIdByteArray& ABuffer, int ASize, int AOffset) {
  return GStack().SendBytes(SocketId(), ABuffer, ASize, AOffset);
}

int TIdSocketHandle::Receive(TIdByteArray& VBuffer) {
  return GStack().ReceiveBytes(SocketId(), VBuffer);
}

int TIdSocketHandle::Receive(void* AData, int ALength) {
  Require(ALength > 0, "receive length above zero");
  TIdStack& stack = GStack();
  return stack.CheckSocketResult(stack.RawReceive(SocketId(), AData, ALength, 0));
}

int TIdSocketHandle::GetSockOpt(int ALevel, int AOptName) {
  return GStack().GetOption(SocketId(), ALevel, AOptName);
}

void TIdSocketHandle::SetSockOpt(int ALevel, int AOptName, int AValue) {
  GStack().SetOption(SocketId(), ALevel, AOptName, AValue);
}

void TIdSocketHandle::SetPeer(const std::string& AIP, std::uint16_t APort,
                              TIdIPVersion AIPVersion) {
  SetIPVersion(AIPVersion);
  remoteIP_ = AIP;
  remotePort_ = APort;
}

void TIdSocketHandle::Reset(bool AResetLocal) {
  // Forgetting an open socket would leak it: close it first.
  ReleaseSocket();
  remoteIP_.clear();
  remotePort_ = 0;
  ipVersion_ = Id_IPv4;
  if (!AResetLocal) return;
  ip_.clear();
  port_ = 0;
}

void TIdSocketHandle::UpdateLocalEndpoint() {
  const TIdEndpoint local = GStack().LocalEndpoint(SocketId());
  ip_ = local.IP;
  port_ = local.Port;
  ipVersion_ = local.IPVersion;
}

void TIdSocketHandle::UpdateRemoteEndpoint() {
  const TIdEndpoint remote = GStack().RemoteEndpoint(SocketId());
  remoteIP_ = remote.IP;
  remotePort_ = remote.Port;
}

void TIdSocketHandle::SetIPVersion(TIdIPVersion AValue) {
  if (AValue == ipVersion_) return;
  if (IsAllocated()) {
    throw EIdCannotSetIPVersionWhenConnected(RSCannotSetIPVersionWhenConnected);
  }
  TIdStack::CheckIPVersion(AValue);
  ipVersion_ = AValue;
}

void TIdSocketHandle::SetBroadcastEnabled(bool AValue) {
  if (AValue == broadcastEnabled_) return;
  broadcastEnabled_ = AValue;
  if (IsAllocated()) SetSockOpt(Id_SOL_SOCKET, Id_SO_BROADCAST, AValue ? 1 : 0);
}

void TIdSocketHandle::SetSocketId(TIdStackSocketHandle AValue) {
  const TIdStackSocketHandle old = socketId_.exchange(AValue);
  if (old != Id_INVALID_SOCKET) readList_.Remove(old);
  if (AValue != Id_INVALID_SOCKET) readList_.Add(AValue);
}

}  // namespace brixa
