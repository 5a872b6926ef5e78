#pragma once
// TIdIOHandlerSocket: an I/O handler over one socket handle, with destination, Nagle and
// transparent-proxy settings.

#include <cstdint>
#include <memory>
#include <string>

#include "transport/io/io_handler.h"
#include "transport/socket/socket_handle.h"
#include "transport/socket/stack_consts.h"
#include "transport/socks/transparent_proxy.h"

namespace brixa {

// Whether a client socket sets SO_REUSEADDR before binding.
enum TIdReuseSocket { rsOSDependent, rsTrue, rsFalse };

// An I/O handler over one socket (its Binding()).
//
// OpenHandler opens, binds and, when Host() and Port() are set, connects the socket
// (EstablishConnection). Descendants that carry the bytes differently (TLS) override the raw
// read and write of TIdIOHandler and keep the socket handling of this class.
class TIdIOHandlerSocket : public TIdIOHandler {
 public:
  explicit TIdIOHandlerSocket(TComponent* owner = nullptr);
  ~TIdIOHandlerSocket() override;

  // The base reset, then the binding reset (or created) with the bound port range; connects
  // when Host() is set and Port() > 0.
  void OpenHandler() override;
  // Closes the socket, then the base close.
  void CloseHandler() override;

  // Host(), followed by ":" and the port when Port() > 0 and differs from DefaultPort().
  [[nodiscard]] std::string Destination() const override;
  // Splits at the last ":" into Host() and Port() (a port that is not a number gives
  // DefaultPort()); text without ":" is ignored.
  void SetDestination(const std::string& AValue) override;

  [[nodiscard]] const std::string& BoundIP() const noexcept { return boundIP_; }
  void SetBoundIP(const std::string& AValue) { boundIP_ = AValue; }
  [[nodiscard]] std::uint16_t BoundPort() const noexcept { return boundPort_; }
  void SetBoundPort(std::uint16_t AValue) noexcept { boundPort_ = AValue; }
  [[nodiscard]] std::uint16_t BoundPortMin() const noexcept { return boundPortMin_; }
  void SetBoundPortMin(std::uint16_t AValue) noexcept { boundPortMin_ = AValue; }
  [[nodiscard]] std::uint16_t BoundPortMax() const noexcept { return boundPortMax_; }
  void SetBoundPortMax(std::uint16_t AValue) noexcept { boundPortMax_ = AValue; }
  [[nodiscard]] std::uint16_t DefaultPort() const noexcept { return defaultPort_; }
  void SetDefaultPort(std::uint16_t AValue) noexcept { defaultPort_ = AValue; }
  [[nodiscard]] TIdIPVersion IPVersion() const noexcept { return ipVersion_; }
  void SetIPVersion(TIdIPVersion AValue) noexcept { ipVersion_ = AValue; }
  [[nodiscard]] TIdReuseSocket ReuseSocket() const noexcept { return reuseSocket_; }
  void SetReuseSocket(TIdReuseSocket AValue) noexcept { reuseSocket_ = AValue; }
  // Nagle's algorithm on (TCP_NODELAY 0) or off; applied at once to an open socket.
  [[nodiscard]] bool UseNagle() const noexcept { return useNagle_; }
  void SetUseNagle(bool AValue);
  // The proxy connects go through when it is enabled. A proxy given with SetTransparentProxy is
  // borrowed and forgotten when it is destroyed; without one, the first read of the property
  // makes a TIdSocksInfo (not enabled) that this handler owns, so settings can be made on it
  // directly. Setting another proxy frees an owned one.
  [[nodiscard]] TIdCustomTransparentProxy* TransparentProxy();
  void SetTransparentProxy(TIdCustomTransparentProxy* AValue);
  // The proxy connects use now, without making one: null when none is set or while bypassed.
  [[nodiscard]] TIdCustomTransparentProxy* ActiveTransparentProxy() const noexcept {
    return proxyBypassed_ ? nullptr : proxy_;
  }

  // For its lifetime, connects of the handler go straight to Host():Port() whatever proxy is
  // set: a proxy uses it to reach its own server over the handler's socket (bind).
  class ProxyBypass {
   public:
    explicit ProxyBypass(TIdIOHandlerSocket& AHandler)
        : handler_(AHandler), saved_(AHandler.proxyBypassed_) {
      handler_.proxyBypassed_ = true;
    }
    ~ProxyBypass() { handler_.proxyBypassed_ = saved_; }
    ProxyBypass(const ProxyBypass&) = delete;
    ProxyBypass& operator=(const ProxyBypass&) = delete;

   private:
    TIdIOHandlerSocket& handler_;
    bool saved_;
  };

  // The socket; null until the first OpenHandler.
  [[nodiscard]] TIdSocketHandle* Binding() const noexcept { return binding_.get(); }

  TNotifyEvent OnBeforeBind;
  TNotifyEvent OnAfterBind;
  TNotifyEvent OnSocketAllocated;

 protected:
  // The socket part of connecting: open (in the family of ConnectIPVersion()), bind,
  // TCP_NODELAY, with the bind events around it. Descendants resolve the target and connect
  // after calling this.
  virtual void EstablishConnection();
  // The IP version of the address the socket will connect to: the enabled proxy's when there
  // is one (the real target is then only named to the proxy), else IPVersion().
  [[nodiscard]] TIdIPVersion ConnectIPVersion() const;
  [[nodiscard]] bool SourceIsAvailable() const override;
  [[nodiscard]] bool SourceReadable(std::int32_t ATimeout) override;
  // A blocking socket's receive waits by itself, unless AntiFreeze has to run meanwhile.
  [[nodiscard]] bool ReadWaitsForData() const override;
  void Notification(TComponent* AComponent, TOperation AOperation) override;

  void FireEvent(const TNotifyEvent& AEvent) {
    if (AEvent) AEvent(this);
  }
  void ApplyNagle();

 private:
  std::string boundIP_;
  std::uint16_t boundPort_ = 0;
  std::uint16_t boundPortMin_ = 0;
  std::uint16_t boundPortMax_ = 0;
  std::uint16_t defaultPort_ = 0;
  TIdIPVersion ipVersion_ = Id_IPv4;
  TIdReuseSocket reuseSocket_ = rsOSDependent;
  bool useNagle_ = true;
  TIdCustomTransparentProxy* proxy_ = nullptr;
  std::unique_ptr<TIdCustomTransparentProxy> ownedProxy_;  // made on first read, when none set
  bool proxyBypassed_ = false;
  std::unique_ptr<TIdSocketHandle> binding_;
};

}  // namespace brixa
