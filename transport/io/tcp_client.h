#pragma once
// TIdTCPClient: the client side of a TCP connection, its target, local binding and time limits.

#include <cstdint>
#include <memory>
#include <string>

#include "transport/io/io_handler_socket.h"
#include "transport/io/tcp_connection.h"

namespace brixa {

BRIXA_DECLARE_ID_EXCEPTION(EIdAlreadyConnected, EIdException);
BRIXA_DECLARE_ID_EXCEPTION(EIdHostRequired, EIdException);
BRIXA_DECLARE_ID_EXCEPTION(EIdPortRequired, EIdException);

inline constexpr const char* RSAlreadyConnected = "Already connected.";

// The client side of a TCP connection: the target, the local binding, the time limits and
// ConnectToHost.
//
// Setting Host, Port, ConnectTimeout or ReadTimeout passes the value on to the current I/O
// handler; BoundIP, BoundPort, IPVersion and ReuseSocket go to the current socket handler. A new
// handler receives all of them (and the bind events) when it is attached, and again on connect.
class TIdTCPClientCustom : public TIdTCPConnection {
 public:
  explicit TIdTCPClientCustom(TComponent* owner = nullptr);
  ~TIdTCPClientCustom() override;

  // Opens the connection; raises on every failure, after which the connection is closed (and a
  // handler it made for itself freed). Raises EIdAlreadyConnected "Already connected." when
  // connected, EIdHostRequired / EIdPortRequired (empty messages) without a target.
  virtual void ConnectToHost();

  void SetIOHandler(TIdIOHandler* AValue) override;

  [[nodiscard]] const std::string& Host() const noexcept { return host_; }
  virtual void SetHost(const std::string& AValue);
  [[nodiscard]] std::uint16_t Port() const noexcept { return port_; }
  virtual void SetPort(std::uint16_t AValue);
  [[nodiscard]] TIdIPVersion IPVersion() const noexcept { return ipVersion_; }
  virtual void SetIPVersion(TIdIPVersion AValue);
  [[nodiscard]] const std::string& BoundIP() const noexcept { return boundIP_; }
  void SetBoundIP(const std::string& AValue);
  [[nodiscard]] std::uint16_t BoundPort() const noexcept { return boundPort_; }
  void SetBoundPort(std::uint16_t AValue);
  [[nodiscard]] std::uint16_t BoundPortMin() const noexcept { return boundPortMin_; }
  void SetBoundPortMin(std::uint16_t AValue) noexcept { boundPortMin_ = AValue; }
  [[nodiscard]] std::uint16_t BoundPortMax() const noexcept { return boundPortMax_; }
  void SetBoundPortMax(std::uint16_t AValue) noexcept { boundPortMax_ = AValue; }
  [[nodiscard]] std::int32_t ConnectTimeout() const noexcept { return connectTimeout_; }
  void SetConnectTimeout(std::int32_t AValue);
  // The handler's value when a handler is attached.
  [[nodiscard]] std::int32_t ReadTimeout() const noexcept;
  void SetReadTimeout(std::int32_t AValue);
  // The socket handler's value when one is attached.
  [[nodiscard]] TIdReuseSocket ReuseSocket() const noexcept;
  void SetReuseSocket(TIdReuseSocket AValue);
  // "host:port"; passed to the handler on connect when not empty.
  [[nodiscard]] const std::string& Destination() const noexcept { return destination_; }
  void SetDestination(const std::string& AValue) { destination_ = AValue; }

  TNotifyEvent OnConnected;
  // Passed to the socket handler when it is attached and again on every connect.
  TNotifyEvent OnBeforeBind;
  TNotifyEvent OnAfterBind;
  TNotifyEvent OnSocketAllocated;

 protected:
  virtual void DoOnConnected();
  // The handler made when none was given (a TIdIOHandlerStack).
  [[nodiscard]] virtual std::unique_ptr<TIdIOHandler> MakeImplicitClientHandler();

 private:
  void CopySettingsTo(TIdIOHandler& AHandler);
  void CopySocketSettingsTo(TIdIOHandlerSocket& AHandler);
  void OpenAndConnect();

  std::string host_;
  std::uint16_t port_ = 0;
  TIdIPVersion ipVersion_ = Id_IPv4;
  std::string boundIP_;
  std::uint16_t boundPort_ = 0;
  std::uint16_t boundPortMin_ = 0;
  std::uint16_t boundPortMax_ = 0;
  std::int32_t connectTimeout_ = 0;
  std::int32_t readTimeout_ = TimeoutUseDefault;
  TIdReuseSocket reuseSocket_ = rsOSDependent;
  std::string destination_;
};

// A TCP client with all client properties public.
class TIdTCPClient : public TIdTCPClientCustom {
 public:
  explicit TIdTCPClient(TComponent* owner = nullptr) : TIdTCPClientCustom(owner) {}
};

}  // namespace brixa
