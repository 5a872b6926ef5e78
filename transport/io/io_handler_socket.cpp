// Opening, binding and closing the handler's socket, and handing the connection to a transparent
// proxy.

#include "transport/io/io_handler_socket.h"

#include "runtime/text/text.h"
#include "transport/socks/socks_info.h"

namespace brixa {

TIdIOHandlerSocket::TIdIOHandlerSocket(TComponent* owner) : TIdIOHandler(owner) {}

TIdIOHandlerSocket::~TIdIOHandlerSocket() {
  if (!IsOpen()) return;
  try {
    TIdIOHandlerSocket::CloseHandler();
  } catch (...) {
    // A destructor cannot report; the socket is closed either way.
  }
}

void TIdIOHandlerSocket::OpenHandler() {
  TIdIOHandler::OpenHandler();
  if (binding_ == nullptr) {
    binding_ = std::make_unique<TIdSocketHandle>();
  } else {
    binding_->Reset(true);
  }
  binding_->SetClientPortMin(boundPortMin_);
  binding_->SetClientPortMax(boundPortMax_);
  if (!Host().empty() && Port() > 0) EstablishConnection();
}

void TIdIOHandlerSocket::CloseHandler() {
  if (binding_ != nullptr) binding_->ReleaseSocket();
  TIdIOHandler::CloseHandler();
}

std::string TIdIOHandlerSocket::Destination() const {
  if (Port() > 0 && Port() != defaultPort_) return Host() + ":" + std::to_string(Port());
  return Host();
}

void TIdIOHandlerSocket::SetDestination(const std::string& AValue) {
  const std::size_t colon = AValue.rfind(':');
  if (colon == std::string::npos) return;
  SetHost(AValue.substr(0, colon));
  SetPort(StrToIntDefTrim(std::string_view(AValue).substr(colon + 1), defaultPort_));
}

void TIdIOHandlerSocket::SetUseNagle(bool AValue) {
  if (AValue == useNagle_) return;
  useNagle_ = AValue;
  if (SourceIsAvailable()) ApplyNagle();
}

void TIdIOHandlerSocket::ApplyNagle() {
  binding_->SetSockOpt(Id_IPPROTO_TCP, Id_TCP_NODELAY, useNagle_ ? 0 : 1);
}

TIdCustomTransparentProxy* TIdIOHandlerSocket::TransparentProxy() {
  if (proxy_ == nullptr) {
    ownedProxy_ = std::make_unique<TIdSocksInfo>();
    proxy_ = ownedProxy_.get();
  }
  return proxy_;
}

void TIdIOHandlerSocket::SetTransparentProxy(TIdCustomTransparentProxy* AValue) {
  if (AValue == proxy_) return;
  if (proxy_ != nullptr && proxy_ != ownedProxy_.get()) RemoveFreeNotification(proxy_);
  proxy_ = AValue;
  // The owned proxy goes once another takes its place (the caller may hand it back, though).
  if (ownedProxy_ != nullptr && proxy_ != ownedProxy_.get()) ownedProxy_.reset();
  if (proxy_ != nullptr && proxy_ != ownedProxy_.get()) FreeNotification(proxy_);
}

void TIdIOHandlerSocket::Notification(TComponent* AComponent, TOperation AOperation) {
  if (AOperation == TOperation::opRemove && AComponent == proxy_) proxy_ = nullptr;
  TIdIOHandler::Notification(AComponent, AOperation);
}

TIdIPVersion TIdIOHandlerSocket::ConnectIPVersion() const {
  const TIdCustomTransparentProxy* proxy = ActiveTransparentProxy();
  return proxy != nullptr && proxy->IsEnabled() ? proxy->IPVersion() : ipVersion_;
}

void TIdIOHandlerSocket::EstablishConnection() {
  FireEvent(OnBeforeBind);
  binding_->SetIPVersion(ConnectIPVersion());
  binding_->OpenHandle(Id_SOCK_STREAM, Id_IPPROTO_IP);
  FireEvent(OnSocketAllocated);
  if (!boundIP_.empty()) binding_->SetIP(boundIP_);
  binding_->SetPort(boundPort_);
  binding_->SetClientPortMin(boundPortMin_);
  binding_->SetClientPortMax(boundPortMax_);
  if (reuseSocket_ == rsTrue) binding_->SetSockOpt(Id_SOL_SOCKET, Id_SO_REUSEADDR, 1);
  // A client socket is always bound before it connects: to any address and port by default.
  binding_->BindLocal();
  ApplyNagle();
  FireEvent(OnAfterBind);
}

bool TIdIOHandlerSocket::SourceIsAvailable() const {
  return binding_ != nullptr && binding_->IsAllocated();
}

bool TIdIOHandlerSocket::ReadWaitsForData() const {
  return binding_ != nullptr && binding_->IsAllocated() && !TIdAntiFreezeBase::AntiFreezeApplies();
}

bool TIdIOHandlerSocket::SourceReadable(std::int32_t ATimeout) {
  if (binding_ == nullptr) throw EIdConnClosedGracefully(RSConnectionClosedGracefully);
  return binding_->WaitReadable(ATimeout);
}

}  // namespace brixa
