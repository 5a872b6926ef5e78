// ConnectToHost and the passing of the client's settings to its I/O handler.

#include "transport/io/tcp_client.h"

#include "transport/io/io_handler_stack.h"

namespace brixa {

TIdTCPClientCustom::TIdTCPClientCustom(TComponent* owner) : TIdTCPConnection(owner) {}

TIdTCPClientCustom::~TIdTCPClientCustom() = default;

void TIdTCPClientCustom::ConnectToHost() {
  if (IsConnected()) throw EIdAlreadyConnected(RSAlreadyConnected);
  if (host_.empty()) throw EIdHostRequired("");
  if (port_ == 0) throw EIdPortRequired("");
  if (IOHandler() == nullptr) {
    std::unique_ptr<TIdIOHandler> handler = MakeImplicitClientHandler();
    handler->OnStatus = OnStatus;
    AdoptManagedIOHandler(std::move(handler));
  }
  try {
    OpenAndConnect();
    ReportStatus(hsConnected);
    DoOnConnected();
  } catch (...) {
    // Leave the connection closed and ready for another attempt; a handler made here goes.
    if (IOHandler() != nullptr) {
      try {
        IOHandler()->CloseHandler();
      } catch (...) {
        // The connect's own failure is the one to report.
      }
      if (ManagedIOHandler()) SetIOHandler(nullptr);
    }
    throw;
  }
}

void TIdTCPClientCustom::OpenAndConnect() {
  TIdIOHandler& handler = *IOHandler();
  if (!destination_.empty()) handler.SetDestination(destination_);
  handler.SetPort(port_);
  handler.SetHost(host_);
  handler.SetConnectTimeout(connectTimeout_);
  handler.SetReadTimeout(ReadTimeout());
  if (SocketHandler() != nullptr) CopySocketSettingsTo(*SocketHandler());
  handler.OpenHandler();
  if (handler.Intercept() != nullptr) handler.Intercept()->Connect(this);
}

std::unique_ptr<TIdIOHandler> TIdTCPClientCustom::MakeImplicitClientHandler() {
  return std::make_unique<TIdIOHandlerStack>();
}

void TIdTCPClientCustom::DoOnConnected() {
  if (OnConnected) OnConnected(this);
}

void TIdTCPClientCustom::SetIOHandler(TIdIOHandler* AValue) {
  TIdTCPConnection::SetIOHandler(AValue);
  if (AValue == nullptr) return;
  CopySettingsTo(*AValue);
  if (SocketHandler() != nullptr) CopySocketSettingsTo(*SocketHandler());
}

void TIdTCPClientCustom::CopySettingsTo(TIdIOHandler& AHandler) {
  AHandler.SetPort(port_);
  AHandler.SetHost(host_);
  AHandler.SetConnectTimeout(connectTimeout_);
  AHandler.SetReadTimeout(readTimeout_);
}

void TIdTCPClientCustom::CopySocketSettingsTo(TIdIOHandlerSocket& AHandler) {
  AHandler.SetBoundIP(boundIP_);
  AHandler.SetBoundPort(boundPort_);
  AHandler.SetBoundPortMin(boundPortMin_);
  AHandler.SetBoundPortMax(boundPortMax_);
  AHandler.SetIPVersion(ipVersion_);
  AHandler.SetReuseSocket(reuseSocket_);
  AHandler.OnBeforeBind = OnBeforeBind;
  AHandler.OnAfterBind = OnAfterBind;
  AHandler.OnSocketAllocated = OnSocketAllocated;
}

void TIdTCPClientCustom::SetHost(const std::string& AValue) {
  host_ = AValue;
  if (IOHandler() != nullptr) IOHandler()->SetHost(AValue);
}

void TIdTCPClientCustom::SetPort(std::uint16_t AValue) {
  port_ = AValue;
  if (IOHandler() != nullptr) IOHandler()->SetPort(AValue);
}

void TIdTCPClientCustom::SetIPVersion(TIdIPVersion AValue) {
  ipVersion_ = AValue;
  if (SocketHandler() != nullptr) SocketHandler()->SetIPVersion(AValue);
}

void TIdTCPClientCustom::SetBoundIP(const std::string& AValue) {
  boundIP_ = AValue;
  if (SocketHandler() != nullptr) SocketHandler()->SetBoundIP(AValue);
}

void TIdTCPClientCustom::SetBoundPort(std::uint16_t AValue) {
  boundPort_ = AValue;
  if (SocketHandler() != nullptr) SocketHandler()->SetBoundPort(AValue);
}

void TIdTCPClientCustom::SetConnectTimeout(std::int32_t AValue) {
  connectTimeout_ = AValue;
  if (IOHandler() != nullptr) IOHandler()->SetConnectTimeout(AValue);
}

std::int32_t TIdTCPClientCustom::ReadTimeout() const noexcept {
  return IOHandler() != nullptr ? IOHandler()->ReadTimeout() : readTimeout_;
}

void TIdTCPClientCustom::SetReadTimeout(std::int32_t AValue) {
  readTimeout_ = AValue;
  if (IOHandler() != nullptr) IOHandler()->SetReadTimeout(AValue);
}

TIdReuseSocket TIdTCPClientCustom::ReuseSocket() const noexcept {
  return SocketHandler() != nullptr ? SocketHandler()->ReuseSocket() : reuseSocket_;
}

void TIdTCPClientCustom::SetReuseSocket(TIdReuseSocket AValue) {
  reuseSocket_ = AValue;
  if (SocketHandler() != nullptr) SocketHandler()->SetReuseSocket(AValue);
}

}  // namespace brixa
