// The SOCKS 5 UDP relay (RFC 1928, section 7): a TCP control connection that keeps the
// association alive, and datagrams wrapped in a header naming their far end.
#include <algorithm>
#include <cstring>

#include "transport/io/io_handler_stack.h"
#include "transport/socket/socket_handle.h"
#include "transport/socket/stack_exceptions.h"
#include "transport/socks/socks_info.h"
#include "transport/socks/socks_session.h"

namespace brixa {

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
