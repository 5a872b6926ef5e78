// Inbound connections through a SOCKS proxy: BIND, then waiting for the connection it accepts.
#include "runtime/text/ip_text.h"
#include "transport/io/io_handler_socket.h"
#include "transport/socket/socket_handle.h"
#include "transport/socket/stack.h"
#include "transport/socks/socks_info.h"
#include "transport/socks/socks_session.h"

namespace brixa {

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

}  // namespace brixa
