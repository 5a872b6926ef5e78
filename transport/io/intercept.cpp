// Passing connect, disconnect, receive and send along the intercept chain, in the order each
// direction needs.

#include "transport/io/intercept.h"

namespace brixa {

TIdConnectionIntercept::TIdConnectionIntercept(TComponent* owner) : TIdComponent(owner) {}

TIdConnectionIntercept::~TIdConnectionIntercept() = default;

void TIdConnectionIntercept::Connect(TComponent* AConnection) {
  connection_ = AConnection;
  if (OnConnect) OnConnect(this);
  if (next_ != nullptr) next_->Connect(AConnection);
}

void TIdConnectionIntercept::Disconnect() {
  if (next_ != nullptr) next_->Disconnect();
  if (OnDisconnect) OnDisconnect(this);
  connection_ = nullptr;
}

void TIdConnectionIntercept::Receive(TIdByteArray& VBuffer) {
  if (next_ != nullptr) next_->Receive(VBuffer);
  if (OnReceive) OnReceive(this, VBuffer);
}

void TIdConnectionIntercept::Send(TIdByteArray& VBuffer) {
  if (OnSend) OnSend(this, VBuffer);
  if (next_ != nullptr) next_->Send(VBuffer);
}

void TIdConnectionIntercept::SetIntercept(TIdConnectionIntercept* AValue) {
  if (AValue == next_) return;
  for (const TIdConnectionIntercept* link = AValue; link != nullptr; link = link->next_) {
    if (link == this)
      throw EIdInterceptCircularLink(std::string(ClassName()) + RSInterceptCircularLink);
  }
  if (next_ != nullptr) RemoveFreeNotification(next_);
  next_ = AValue;
  if (next_ != nullptr) FreeNotification(next_);
}

void TIdConnectionIntercept::Notification(TComponent* AComponent, TOperation AOperation) {
  if (AOperation == TOperation::opRemove && AComponent == next_) next_ = nullptr;
  TIdComponent::Notification(AComponent, AOperation);
}

}  // namespace brixa
