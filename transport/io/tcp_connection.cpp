// Attaching, owning and closing the connection's I/O handler, and the disconnect checks.

#include "transport/io/tcp_connection.h"

#include <algorithm>
#include <exception>

namespace brixa {

TIdTCPConnection::TIdTCPConnection(TComponent* owner)
    : TIdComponent(owner),
      greeting_(std::make_unique<TIdReplyRFC>()),
      lastCmdResult_(std::make_unique<TIdReplyRFC>()) {}

TIdTCPConnection::~TIdTCPConnection() {
  try {
    if (ioHandler_ != nullptr && ioHandler_->IsOpen()) ioHandler_->CloseHandler();
  } catch (...) {
    // Nothing can be reported from a destructor; the socket is closed either way.
  }
  DetachIOHandler();
}

void TIdTCPConnection::SetIOHandler(TIdIOHandler* AValue) {
  if (AValue == ioHandler_) return;
  if (AValue != nullptr && AValue->Intercept() != nullptr && intercept_ != nullptr &&
      AValue->Intercept() != intercept_) {
    throw EIdException(RSInterceptIsDifferent);
  }
  DetachIOHandler();
  if (AValue == nullptr) return;
  FreeNotification(AValue);
  AValue->SetWorkDelegate(this);
  if (intercept_ != nullptr) AValue->SetIntercept(intercept_);
  socketHandler_ = dynamic_cast<TIdIOHandlerSocket*>(AValue);
  ioHandler_ = AValue;
}

void TIdTCPConnection::AdoptManagedIOHandler(std::unique_ptr<TIdIOHandler> AHandler) {
  SetIOHandler(AHandler.get());
  managedIOHandler_ = std::move(AHandler);
}

void TIdTCPConnection::DetachIOHandler() {
  TIdIOHandler* old = ioHandler_;
  ioHandler_ = nullptr;
  socketHandler_ = nullptr;
  if (old == nullptr) return;
  RemoveFreeNotification(old);
  if (old->WorkDelegate() == this) old->SetWorkDelegate(nullptr);
  managedIOHandler_.reset();
}

TIdConnectionIntercept* TIdTCPConnection::Intercept() const noexcept {
  return ioHandler_ != nullptr ? ioHandler_->Intercept() : intercept_;
}

void TIdTCPConnection::SetIntercept(TIdConnectionIntercept* AValue) {
  if (ioHandler_ != nullptr && ioHandler_->Intercept() != nullptr && AValue != nullptr &&
      AValue != ioHandler_->Intercept()) {
    throw EIdException(RSInterceptIsDifferent);
  }
  if (intercept_ != nullptr && intercept_ != AValue) RemoveFreeNotification(intercept_);
  intercept_ = AValue;
  if (intercept_ != nullptr) FreeNotification(intercept_);
  if (ioHandler_ != nullptr) ioHandler_->SetIntercept(AValue);
}

void TIdTCPConnection::Notification(TComponent* AComponent, TOperation AOperation) {
  if (AOperation == TOperation::opRemove) {
    if (AComponent == ioHandler_) {
      ioHandler_ = nullptr;
      socketHandler_ = nullptr;
      // Somebody else destroyed the handler we manage: it must not be freed twice.
      if (managedIOHandler_.get() == AComponent) static_cast<void>(managedIOHandler_.release());
    }
    if (AComponent == intercept_) intercept_ = nullptr;
  }
  TIdComponent::Notification(AComponent, AOperation);
}

bool TIdTCPConnection::IsConnected() {
  return ioHandler_ != nullptr && ioHandler_->Connected();
}

void TIdTCPConnection::CloseConnection(bool ANotifyPeer) {
  std::exception_ptr failure;
  try {
    if (ANotifyPeer && IsConnected()) NotifyPeerBeforeClose();
  } catch (...) {
    failure = std::current_exception();
  }
  CloseOpenHandler();
  if (failure) std::rethrow_exception(failure);
}

void TIdTCPConnection::CloseOpenHandler() {
  if (ioHandler_ == nullptr) return;
  if (!ioHandler_->IsOpen()) {
    // The peer's close shut the handler already, silently; ours ends the connection for good,
    // so what it left unread no longer keeps it "connected".
    ioHandler_->MarkClosedLocally();
    return;
  }
  ReportStatus(hsDisconnecting);
  ioHandler_->CloseHandler();
  DoOnDisconnected();
  ReportStatus(hsDisconnected);
}

void TIdTCPConnection::DoOnDisconnected() {
  if (OnDisconnected) OnDisconnected(this);
}

void TIdTCPConnection::CheckConnectionOpen() const {
  if (ioHandler_ == nullptr) throw EIdNotConnected(RSNotConnected);
}

void TIdTCPConnection::CheckForGracefulDisconnect(bool ARaiseExceptionIfDisconnected) {
  if (ioHandler_ != nullptr) {
    ioHandler_->DetectClosure(ARaiseExceptionIfDisconnected, false);
  } else if (ARaiseExceptionIfDisconnected) {
    throw EIdException(RSNotConnected);
  }
}

std::int16_t TIdTCPConnection::GetResponse() {
  return GetResponse({});
}

void TIdTCPConnection::ReadReply() {
  CheckConnectionOpen();
  lastCmdResult_->Clear();
  std::string line = ioHandler_->ReadLineSkipEmpty(IdMaxLineAttempts);
  while (!lastCmdResult_->ParseLine(line)) line = ioHandler_->ReadLine();
}

std::int16_t TIdTCPConnection::GetResponse(std::initializer_list<std::int16_t> AAllowedResponses) {
  ReadReply();
  const std::int16_t code = lastCmdResult_->NumericCode();
  const bool allowed = AAllowedResponses.size() == 0 ||
                       std::find(AAllowedResponses.begin(), AAllowedResponses.end(), code) !=
                           AAllowedResponses.end();
  if (!allowed) RaiseExceptionForLastCmdResult();
  return code;
}

std::int16_t TIdTCPConnection::SendCmd(const std::string& AOut,
                                       std::initializer_list<std::int16_t> AAllowedResponses) {
  CheckConnectionOpen();
  std::string command = AOut;
  PrepareCmd(command);
  ioHandler_->WriteLine(command);
  return GetResponse(AAllowedResponses);
}

void TIdTCPConnection::RaiseExceptionForLastCmdResult() {
  lastCmdResult_->RaiseReplyError();
}

void TIdTCPConnection::CheckResponseText(const std::string& AResponse,
                                         const std::string& AAllowedResponse) {
  if (!AAllowedResponse.empty() && AResponse != AAllowedResponse) RaiseExceptionForLastCmdResult();
}

std::string TIdTCPConnection::GetResponseText(const std::string& AAllowedResponse) {
  ReadReply();
  const std::string code = lastCmdResult_->Code();
  CheckResponseText(code, AAllowedResponse);
  return code;
}

std::string TIdTCPConnection::SendCmdText(const std::string& AOut,
                                          const std::string& AAllowedResponse) {
  CheckConnectionOpen();
  std::string command = AOut;
  PrepareCmd(command);
  ioHandler_->WriteLine(command);
  return GetResponseText(AAllowedResponse);
}

}  // namespace brixa
