#pragma once

#include <cstdint>
#include <string>

#include "runtime/component.h"
#include "transport/stack_consts.h"

namespace brixa {

class TIdIOHandler;

// A proxy that turns a TCP connection opened to it into a tunnel to the real target.
//
// A socket I/O handler with an enabled proxy connects its socket to the proxy's Host(), Port()
// and IPVersion() instead of its own target, then calls ConnectThrough with the real target;
// once that returns, every byte on the socket belongs to the target connection. The proxy
// protocols themselves are supplied by the descendants.
class TIdCustomTransparentProxy : public TIdComponent {
 public:
  explicit TIdCustomTransparentProxy(TComponent* owner = nullptr) : TIdComponent(owner) {}

  // True when connections are to go through this proxy.
  [[nodiscard]] virtual bool IsEnabled() const = 0;
  // Speaks the proxy protocol over `AIOHandler`, whose socket is already connected to the
  // proxy, so that it ends up connected to AHost:APort. Raises on every failure.
  virtual void ConnectThrough(TIdIOHandler& AIOHandler, const std::string& AHost,
                              std::uint16_t APort, TIdIPVersion AIPVersion) = 0;

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

 private:
  std::string host_;
  std::uint16_t port_ = 0;
  TIdIPVersion ipVersion_ = Id_IPv4;
  std::string username_;
  std::string password_;
};

}  // namespace brixa
