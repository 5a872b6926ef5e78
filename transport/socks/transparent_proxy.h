#pragma once
// TIdCustomTransparentProxy: a proxy that turns a connection to it into a tunnel, with chaining,
// inbound connections and UDP relays.

#include <cstdint>
#include <span>
#include <string>

#include "runtime/network_exception.h"
#include "runtime/work_component.h"
#include "transport/socket/stack_consts.h"

namespace brixa {

class TIdIOHandler;
class TIdSocketHandle;

BRIXA_DECLARE_ID_EXCEPTION(EIdTransparentProxyCircularLink, EIdException);
BRIXA_DECLARE_ID_EXCEPTION(EIdTransparentProxyCantBind, EIdException);
BRIXA_DECLARE_ID_EXCEPTION(EIdTransparentProxyUDPNotSupported, EIdException);

inline constexpr const char* RSTransparentProxyCircularLink = ": Circular links are not allowed";
inline constexpr const char* RSTransparentProxyCannotBind = "Transparent proxy cannot bind.";
inline constexpr const char* RSTransparentProxyCanNotSupportUDP =
    "UDP Not supported by this proxy.";

// One datagram taken from a relay: its data length and where it came from.
struct TIdUdpDatagramInfo {
  std::int32_t Length = 0;
  std::string PeerIP;  // dotted IPv4, IPv6 text or a name, as the relay reported it
  std::uint16_t PeerPort = 0;
  TIdIPVersion IPVersion = Id_IPv4;
};

// A proxy that turns a TCP connection opened to it into a tunnel to the real target.
//
// A socket I/O handler with an enabled proxy connects its socket to the proxy's Host(), Port()
// and IPVersion() instead of its own target, then calls ConnectThrough with the real target;
// once that returns, every byte on the socket belongs to the target connection. The proxy
// protocols themselves are supplied by the descendants through MakeConnection. Proxies chain:
// the socket reaches the first, which is asked for the next one, and so on to the target.
//
// A proxy works on the calling thread over one I/O handler at a time; nothing is locked.
class TIdCustomTransparentProxy : public TIdComponent {
 public:
  explicit TIdCustomTransparentProxy(TComponent* owner = nullptr) : TIdComponent(owner) {}

  // The class name that messages about this proxy carry.
  [[nodiscard]] virtual const char* ClassName() const noexcept {
    return "TIdCustomTransparentProxy";
  }

  // True when connections are to go through this proxy.
  [[nodiscard]] virtual bool IsEnabled() const = 0;
  virtual void ChangeEnabled(bool /*AEnabled*/) {}

  // Speaks the proxy protocol over `AIOHandler`, whose socket is already connected to this
  // proxy, so that it ends up connected to AHost:APort: through the chained proxy first when
  // one is set and enabled. Raises on every failure; the handler is then unusable and is closed
  // by the caller.
  void ConnectThrough(TIdIOHandler& AIOHandler, const std::string& AHost, std::uint16_t APort,
                      TIdIPVersion AIPVersion);

  // Inbound connections through the proxy: BindThrough connects `AIOHandler` (a socket
  // handler) to the proxy and asks it to accept one connection for AHost:APort; the socket's
  // remote endpoint is then where the proxy listens. ListenThrough waits up to `ATimeout` ms for
  // that connection and returns false when none came; on true the remote endpoint is the host
  // that connected. The base raises EIdTransparentProxyCantBind.
  virtual void BindThrough(TIdIOHandler& AIOHandler, const std::string& AHost, std::uint16_t APort,
                           TIdIPVersion AIPVersion);
  [[nodiscard]] virtual bool ListenThrough(TIdIOHandler& AIOHandler, std::int32_t ATimeout);

  // A datagram relay: OpenUdpRelay sets it up and connects `ABinding` (opened as a datagram
  // socket when it is not open) to it; SendUdp and ReceiveUdp carry one datagram each, to and
  // from AHost:APort behind the relay; CloseUdpRelay ends it. ReceiveUdp waits up to `ATimeout`
  // ms and gives a zero length when nothing (or nothing readable) arrived. The base raises
  // EIdTransparentProxyUDPNotSupported.
  virtual void OpenUdpRelay(TIdSocketHandle& ABinding, const std::string& AHost,
                            std::uint16_t APort, TIdIPVersion AIPVersion);
  virtual void CloseUdpRelay(TIdSocketHandle& ABinding);
  virtual TIdUdpDatagramInfo ReceiveUdp(TIdSocketHandle& ABinding, std::span<std::uint8_t> VBuffer,
                                        std::int32_t ATimeout);
  virtual void SendUdp(TIdSocketHandle& ABinding, const std::string& AHost, std::uint16_t APort,
                       TIdIPVersion AIPVersion, std::span<const std::uint8_t> AData);

  // Copies Host, Password, Port, IPVersion and Username; never ChainedProxy.
  virtual void Assign(const TIdCustomTransparentProxy& ASource);

  [[nodiscard]] const std::string& Host() const noexcept { return host_; }
  void SetHost(const std::string& AValue) { host_ = AValue; }
  [[nodiscard]] std::uint16_t Port() const noexcept { return port_; }
  void SetPort(std::uint16_t AValue) noexcept { port_ = AValue; }
  [[nodiscard]] TIdIPVersion IPVersion() const noexcept { return ipVersion_; }
  void SetIPVersion(TIdIPVersion AValue) noexcept { ipVersion_ = AValue; }
  [[nodiscard]] const std::string& Username() const noexcept { return username_; }
  void SetUsername(const std::string& AValue) { username_ = AValue; }
  [[nodiscard]] const std::string& Password() const noexcept { return password_; }
  void SetPassword(const std::string& AValue) { password_ = AValue; }

  // Borrowed; cleared when that proxy is destroyed. Raises EIdTransparentProxyCircularLink
  // "<class name>: Circular links are not allowed" when the chain starting at `AValue` leads
  // back to this proxy (the reference is then left as it was).
  [[nodiscard]] TIdCustomTransparentProxy* ChainedProxy() const noexcept { return chained_; }
  void SetChainedProxy(TIdCustomTransparentProxy* AValue);

 protected:
  // One hop: asks this proxy, over `AIOHandler`, for a connection to AHost:APort.
  virtual void MakeConnection(TIdIOHandler& AIOHandler, const std::string& AHost,
                              std::uint16_t APort, TIdIPVersion AIPVersion) = 0;
  void Notification(TComponent* AComponent, TOperation AOperation) override;

 private:
  std::string host_;
  std::uint16_t port_ = 0;
  TIdIPVersion ipVersion_ = Id_IPv4;
  std::string username_;
  std::string password_;
  TIdCustomTransparentProxy* chained_ = nullptr;
};

}  // namespace brixa
