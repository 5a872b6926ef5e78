// The SOCKS proxy: the handshakes of an outgoing connection (version 4 and 4a requests, the
// version 5 method and user name negotiation), inbound connections through BIND, and the
// version 5 UDP relay.

#include "transport/socks/socks_info.h"

#include <algorithm>
#include <cstring>

#include "runtime/text/ip_text.h"
#include "transport/io/io_handler_socket.h"
#include "transport/io/io_handler_stack.h"
#include "transport/socket/socket_handle.h"
#include "transport/socket/stack.h"
#include "transport/socket/stack_exceptions.h"
#include "transport/socks/socks_session.h"
#include "transport/socks/socks_wire.h"

namespace brixa {

namespace detail {

void RaiseSocks4Result(std::uint8_t AResult) {
  switch (AResult) {
    case socks::kSocks4Rejected:
      throw EIdSocksRequestFailed(RSSocksRequestFailed);
    case socks::kSocks4NoIdentd:
      throw EIdSocksRequestServerFailed(RSSocksRequestServerFailed);
    case socks::kSocks4IdentMismatch:
      throw EIdSocksRequestIdentFailed(RSSocksRequestIdentFailed);
    default:
      throw EIdSocksUnknownError(RSSocksUnknownError);
  }
}

void RaiseSocks5Reply(std::uint8_t AReply) {
  const std::string message = socks::Socks5ReplyMessage(AReply);
  switch (AReply) {
    case 1:
      throw EIdSocksServerGeneralError(message);
    case 2:
      throw EIdSocksServerPermissionError(message);
    case 3:
      throw EIdSocksServerNetUnreachableError(message);
    case 4:
      throw EIdSocksServerHostUnreachableError(message);
    case 5:
      throw EIdSocksServerConnectionRefusedError(message);
    case 6:
      throw EIdSocksServerTTLExpiredError(message);
    case 7:
      throw EIdSocksServerCommandError(message);
    case 8:
      throw EIdSocksServerAddressError(message);
    default:
      throw EIdSocksUnknownError(RSSocksUnknownError);
  }
}

}  // namespace detail

using detail::ReadReplyBytes;
using detail::ReadSocks5Reply;
using detail::ReplyTimeLimit;

TIdSocksInfo::TIdSocksInfo(TComponent* owner) : TIdCustomTransparentProxy(owner) {
  SetPort(IdPORT_SOCKS);
}

TIdSocksInfo::~TIdSocksInfo() = default;

void TIdSocksInfo::Assign(const TIdCustomTransparentProxy& ASource) {
  TIdCustomTransparentProxy::Assign(ASource);
  if (const auto* socks = dynamic_cast<const TIdSocksInfo*>(&ASource)) {
    authentication_ = socks->authentication_;
    version_ = socks->version_;
  }
}

TIdIOHandlerStack& TIdSocksInfo::UdpControl() {
  if (udpControl_ == nullptr) udpControl_ = std::make_unique<TIdIOHandlerStack>();
  return *udpControl_;
}

void TIdSocksInfo::MakeConnection(TIdIOHandler& AIOHandler, const std::string& AHost,
                                  std::uint16_t APort, TIdIPVersion) {
  const ReplyTimeLimit limit(AIOHandler);
  switch (version_) {
    case svSocks4:
    case svSocks4A: {
      MakeSocks4Request(AIOHandler, socks::kCommandConnect, AHost, APort);
      const TIdByteArray reply = ReadReplyBytes(AIOHandler, socks::kSocks4ReplyLength);
      if (reply[1] != socks::kSocks4Granted) detail::RaiseSocks4Result(reply[1]);
      return;
    }
    case svSocks5:
      NegotiateSocks5Method(AIOHandler);
      MakeSocks5Request(AIOHandler, socks::kCommandConnect, AHost, APort);
      (void)ReadSocks5Reply(AIOHandler);  // the bound address means nothing to a client
      return;
    case svNoSocks:
      return;
  }
}

void TIdSocksInfo::MakeSocks4Request(TIdIOHandler& AIOHandler, std::uint8_t ACommand,
                                     const std::string& AHost, std::uint16_t APort) {
  std::uint8_t address[4] = {0, 0, 0, 1};
  std::string name;
  if (version_ == svSocks4) {
    const std::string resolved = GStack().ResolveHostAddress(AHost, Id_IPv4);
    const std::uint32_t value = IPv4TextToValue(resolved).value_or(0);
    for (int i = 0; i < 4; ++i) address[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
  } else {
    name = AHost;
  }
  const TIdByteArray request = socks::Socks4Request(ACommand, APort, address, Username(), name);
  AIOHandler.OpenWriteBuffer();
  try {
    AIOHandler.WriteBytes(request);
    AIOHandler.CloseWriteBuffer();
  } catch (...) {
    AIOHandler.CancelWriteBuffer();
    throw;
  }
}

void TIdSocksInfo::NegotiateSocks5Method(TIdIOHandler& AIOHandler) {
  const std::uint8_t method =
      authentication_ == saUsernamePassword ? socks::kMethodUsernamePassword : socks::kMethodNone;
  AIOHandler.WriteBytes(TIdByteArray{socks::kVersion5, 1, method});
  const TIdByteArray chosen = ReadReplyBytes(AIOHandler, 2);
  if (chosen[1] != method || chosen[1] == socks::kMethodNoneAcceptable) {
    throw EIdSocksAuthMethodError(RSSocksAuthMethodError);
  }
  if (method != socks::kMethodUsernamePassword) return;
  AIOHandler.WriteBytes(socks::Socks5UserPassRequest(Username(), Password()));
  const TIdByteArray status = ReadReplyBytes(AIOHandler, 2);
  if (status[1] != 0) throw EIdSocksAuthError(RSSocksAuthError);
}

void TIdSocksInfo::MakeSocks5Request(TIdIOHandler& AIOHandler, std::uint8_t ACommand,
                                     const std::string& AHost, std::uint16_t APort) {
  AIOHandler.WriteBytes(socks::Socks5Request(ACommand, AHost, APort));
}

// --- Inbound connections: BIND, then the connection the proxy accepts ---------------------------

namespace {

// The socket handler a bind needs; any other handler cannot carry one.
[[nodiscard]] TIdIOHandlerSocket& SocketHandlerOf(TIdIOHandler& AIOHandler) {
  auto* handler = dynamic_cast<TIdIOHandlerSocket*>(&AIOHandler);
  if (handler == nullptr) throw EIdTransparentProxyCantBind(RSTransparentProxyCannotBind);
  return *handler;
}

[[nodiscard]] bool IsAnyAddress(const std::string& AIP) {
  return AIP == "0.0.0.0" || CanonicalIPv6(AIP) == "0:0:0:0:0:0:0:0";
}

// Closes the handler when the bind or the wait fails: its stream is mid-reply and unusable.
template <class Body>
auto ClosingOnFailure(TIdIOHandlerSocket& AHandler, Body&& ABody) {
  try {
    return ABody();
  } catch (...) {
    try {
      AHandler.CloseHandler();
    } catch (...) {
      // The bind's own failure is the one to report.
    }
    throw;
  }
}

}  // namespace

void TIdSocksInfo::ConnectToProxy(TIdIOHandlerSocket& AHandler) {
  const TIdIOHandlerSocket::ProxyBypass bypass(AHandler);
  AHandler.SetHost(Host());
  AHandler.SetPort(Port());
  AHandler.SetIPVersion(IPVersion());
  AHandler.OpenHandler();
}

void TIdSocksInfo::BindThrough(TIdIOHandler& AIOHandler, const std::string& AHost,
                               std::uint16_t APort, TIdIPVersion AIPVersion) {
  if (version_ == svNoSocks) {
    TIdCustomTransparentProxy::BindThrough(AIOHandler, AHost, APort, AIPVersion);
    return;
  }
  TIdIOHandlerSocket& handler = SocketHandlerOf(AIOHandler);
  ClosingOnFailure(handler, [&] {
    ConnectToProxy(handler);
    const detail::ReplyTimeLimit limit(handler);
    if (version_ == svSocks5) {
      NegotiateSocks5Method(handler);
      MakeSocks5Request(handler, socks::kCommandBind, AHost, APort);
    } else {
      MakeSocks4Request(handler, socks::kCommandBind, AHost, APort);
    }
    ReadBindReply(handler);
  });
}

bool TIdSocksInfo::ListenThrough(TIdIOHandler& AIOHandler, std::int32_t ATimeout) {
  if (version_ == svNoSocks) return TIdCustomTransparentProxy::ListenThrough(AIOHandler, ATimeout);
  TIdIOHandlerSocket& handler = SocketHandlerOf(AIOHandler);
  return ClosingOnFailure(handler, [&] {
    // The second reply may already sit in the input buffer behind the first.
    if (handler.InBuffer().Size() == 0 && !handler.Binding()->WaitReadable(ATimeout)) return false;
    const detail::ReplyTimeLimit limit(handler);
    ReadBindReply(handler);
    return true;
  });
}

void TIdSocksInfo::ReadBindReply(TIdIOHandlerSocket& AHandler) {
  TIdSocketHandle& binding = *AHandler.Binding();
  std::string ip;
  std::uint16_t port = 0;
  TIdIPVersion version = Id_IPv4;
  if (version_ == svSocks5) {
    const socks::Address address = detail::ReadSocks5Reply(AHandler);
    ip = address.Host;
    port = address.Port;
    version = address.IPVersion;
    if (address.Type == socks::kAddressName) {
      ip = GStack().ResolveHostAddress(address.Host, binding.IPVersion());
      version = binding.IPVersion();
    }
  } else {
    const TIdByteArray result = detail::ReadReplyBytes(AHandler, 2);
    if (result[1] != socks::kSocks4Granted) detail::RaiseSocks4Result(result[1]);
    const TIdByteArray rest = detail::ReadReplyBytes(AHandler, 6);
    port = static_cast<std::uint16_t>(rest[0] << 8 | rest[1]);
    ip = socks::DottedIPv4(std::span<const std::uint8_t>(rest).subspan(2));
  }
  // "Any address" means the proxy's own address (RFC 1928, section 6; SOCKS 4 likewise).
  if (IsAnyAddress(ip)) {
    ip = binding.RemoteIP();
    version = binding.IPVersion();
  }
  // An open socket keeps its family; the endpoint text is kept as the proxy reported it.
  if (version == binding.IPVersion()) {
    binding.SetPeer(ip, port, version);
  } else {
    binding.SetRemoteIP(ip);
    binding.SetRemotePort(port);
  }
}

// --- The SOCKS 5 UDP relay (RFC 1928, section 7): a TCP control connection that keeps the
// association alive, and datagrams wrapped in a header naming their far end.

namespace {

constexpr std::size_t kReservedAndFragment = 3;  // RSV (2), FRAG (1)

}  // namespace

void TIdSocksInfo::CheckUdpSupported() const {
  if (version_ == svSocks4 || version_ == svSocks4A) {
    throw EIdSocksUDPNotSupportedBySOCKSVersion(RSSocksUDPNotSupported);
  }
  if (version_ == svNoSocks) {
    throw EIdTransparentProxyUDPNotSupported(RSTransparentProxyCanNotSupportUDP);
  }
}

void TIdSocksInfo::OpenUdpRelay(TIdSocketHandle& ABinding, const std::string&, std::uint16_t,
                                TIdIPVersion) {
  CheckUdpSupported();
  TIdIOHandlerStack& control = UdpControl();
  try {
    control.SetHost(Host());
    control.SetPort(Port());
    control.SetIPVersion(IPVersion());
    control.OpenHandler();
    const detail::ReplyTimeLimit limit(control);
    NegotiateSocks5Method(control);
    MakeSocks5Request(control, socks::kCommandUdpAssociate,
                      IPVersion() == Id_IPv6 ? "::0" : "0.0.0.0", 0);
    const socks::Address relay = detail::ReadSocks5Reply(control);
    // The relay is reached at the proxy's own address, on the port the reply named; the
    // address in the reply is often a wildcard or an inside address.
    const TIdSocketHandle& controlSocket = *control.Binding();
    const TIdIPVersion family = controlSocket.IPVersion();
    if (!ABinding.IsAllocated() || ABinding.IPVersion() != family) {
      ABinding.ReleaseSocket();
      ABinding.SetIPVersion(family);
      ABinding.OpenHandle(Id_SOCK_DGRAM, Id_IPPROTO_UDP);
    }
    ABinding.SetPeer(controlSocket.RemoteIP(), relay.Port, family);
    ABinding.ConnectToRemote();
  } catch (...) {
    try {
      control.CloseHandler();
    } catch (...) {
      // The relay's own failure is the one to report.
    }
    throw;
  }
}

void TIdSocksInfo::CloseUdpRelay(TIdSocketHandle&) {
  CheckUdpSupported();
  if (udpControl_ != nullptr) udpControl_->CloseHandler();
}

void TIdSocksInfo::SendUdp(TIdSocketHandle& ABinding, const std::string& AHost, std::uint16_t APort,
                           TIdIPVersion, std::span<const std::uint8_t> AData) {
  CheckUdpSupported();
  TIdByteArray datagram(kReservedAndFragment, 0);
  socks::AppendSocks5Address(datagram, AHost, APort);
  datagram.insert(datagram.end(), AData.begin(), AData.end());
  const int sent = ABinding.Send(datagram);
  if (sent < static_cast<int>(datagram.size())) throw EIdNotAllBytesSent(RSNotAllBytesSent);
}

TIdUdpDatagramInfo TIdSocksInfo::ReceiveUdp(TIdSocketHandle& ABinding,
                                            std::span<std::uint8_t> VBuffer,
                                            std::int32_t ATimeout) {
  CheckUdpSupported();
  TIdUdpDatagramInfo info;
  if (!ABinding.WaitReadable(ATimeout)) return info;
  TIdByteArray datagram(VBuffer.size() + socks::kUdpHeaderReserve);
  const int received = ABinding.Receive(datagram.data(), static_cast<int>(datagram.size()));
  if (received <= static_cast<int>(socks::kUdpMinimumHeader)) return info;
  const std::span<const std::uint8_t> bytes(datagram.data(), static_cast<std::size_t>(received));
  // A fragment cannot be used on its own, and this side does not reassemble.
  if (bytes[2] != 0) return info;
  const std::optional<socks::Address> from =
      socks::ParseSocks5Address(bytes.subspan(kReservedAndFragment));
  if (!from) return info;
  const std::span<const std::uint8_t> data = bytes.subspan(kReservedAndFragment + from->Length);
  const std::size_t length = std::min(data.size(), VBuffer.size());
  if (length > 0) std::memcpy(VBuffer.data(), data.data(), length);
  info.Length = static_cast<std::int32_t>(length);
  info.PeerIP = from->Host;
  info.PeerPort = from->Port;
  info.IPVersion = from->IPVersion;
  return info;
}

}  // namespace brixa
